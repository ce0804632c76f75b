// What the programs say of a flash's protection, in the words they share.
#pragma once

#include "../flash/chips.h"
#include "../flash/procedures.h"
#include "../flash/session.h"

// Why the status stayed `now` (and status register 2 `now2`, -1 where not read) after the
// protection's procedure, one clause for a message.
void status_kept_reason(char* text, int size, const FlashChip* chip, int now, int now2);

// `len` bytes of the register as "55 55 ff", for a message.
void format_locks(char* text, int size, const unsigned char* bits, int len);

// Why the blocks stayed locked after the global unlock, one clause.
extern const char* const UNLOCK_IGNORED;

// end_word_sequence, saying so in one line when it ended one.
int end_cut_words(FlashSession* s, int* status);
