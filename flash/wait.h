// Waiting for the flash's self-timed cycles (an erase, a program, a status write): its status
// read until it shows the flash idle, bounded in time.
#pragma once

#include "chips.h"
#include "session.h"

// How a wait ended.
enum { WAIT_READY, WAIT_BUSY, WAIT_SILENT, WAIT_STOPPED };

enum {
    // Status readings in one frame: the flash repeats its status for as long as it is clocked,
    // so a wait costs a few frames rather than one frame per reading.
    STATUS_READINGS = 16
};

// Waits until the flash is not busy, reading its status `readings` (2 to STATUS_READINGS) at a
// time. It ends only on two readings in a row that show the flash idle, so that one bit flipped
// on the way in cannot end it early. Gives up once `limit` seconds have passed with the flash
// still busy (one that has just finished is read once more), or at once when every reading is
// 0xFF: the data-in line stays high, as with no chip answering; or when a stop was noted. The
// last status in `*status`.
int wait_ready(FlashSession* s, double limit, int readings, int* status);

// Waits for a word of an SST25's word sequence on its busy line (0x70 sent): the chip selected,
// nothing clocked, its data-out shows RY/BY# (1 ready); it ends on two readings in a row that show
// it ready, and gives up once `limit` seconds have passed with it still busy, or at once when a
// stop was noted. A chip that has left its word sequence shows ready at once (its data-out
// floats high): read status, which such a chip answers, tells.
int wait_busy_line(FlashSession* s, double limit);

// The outcome (outcome.h) of a wait that did not end ready.
int wait_outcome(int wait);

// Twice the longest status write of the family `chip` (NULL: not in the table), in seconds.
double status_write_limit(const FlashChip* chip);

// Waits for the status write just sent to the session's chip, for status_write_limit.
int wait_status_write(FlashSession* s, int* status);
