// Which chip answers on a session: one function every program uses.
#pragma once

#include "outcome.h"
#include "session.h"

// Reads the identification `reads` times (2 or more) into `ids` and resolves the first against
// the table: the session's chip, its kind and its identification are set when the reads agree.
// Returns the outcome's kind: done (a chip of the table, or a common 25-series chip of the size
// its identification gives), the reads differing, no chip answering (00 00 00 or ff ff ff), or
// a chip that gives no size.
int flash_identify(FlashSession* s, int reads, unsigned char ids[][3], FlashOutcome* o);

// Whether an identification is a chip's answer rather than a line that stays low or high.
int chip_answers(const unsigned char* id);
