// Which chip answers on a session: one function every program uses.
#pragma once

#include "outcome.h"
#include "session.h"

// Reads the identification `reads` times (2 or more) into `ids` and resolves the first against
// the table: the session's chip, its kind and its identification are set when the reads agree.
// Beside it the chip's own parameter table (the session's `table`): a known chip's is held
// against its row (`table.differs`), an unknown chip's, when valid, describes it (CHIP_TABLE). A
// family whose identification another chip shares reads its status: one the family never shows
// makes it the common model (CHIP_OTHER). Where no chip answers 0x9F, the older identification
// (0x90, else 0xAB's signature) is read into the session's `older`.
// Returns the outcome's kind: done (a chip of the table, one its parameter table describes, or a
// common 25-series chip of the size its identification gives), the reads differing, no chip
// answering (00 00 00 or ff ff ff), a chip answering only the older identification, or a chip
// that gives no size.
int flash_identify(FlashSession* s, int reads, unsigned char ids[][3], FlashOutcome* o);

// Whether an identification is a chip's answer rather than a line that stays low or high.
int chip_answers(const unsigned char* id);
