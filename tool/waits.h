// Waiting for the flash's self-timed cycles (an erase, a program, a status write) on the fast
// link: shared by lptspi --fast and lptspi-check --unprotect.
#pragma once

#include "../flash/chips.h"

// How a wait ended.
enum { WAIT_READY, WAIT_BUSY, WAIT_SILENT };

enum {
    // Status readings in one frame: the flash repeats its status for as long as it is clocked,
    // so a wait costs a few frames rather than one frame per reading.
    STATUS_READINGS = 16
};

// Waits until the flash is not busy, reading its status `readings` (2 or more) at a time; shows
// the status line when `show` (when it changes and at least every 100 ms). It ends only on two
// readings in a row that show the flash idle, so that one bit flipped on the way in cannot end
// it early. Gives up once `limit` seconds have passed with the flash still busy, or at once when
// every reading is 0xFF: the data-in line stays high, as with no chip answering. The last status
// in `*status`.
int wait_ready(double limit, int readings, int show, int* status);

// Says on a line of its own why a wait after `what` ended the run (WAIT_BUSY or WAIT_SILENT).
void say_wait_failed(int outcome, int status, const char* what, double limit);

// Waits for the status write just sent to a chip of the family `chip` (NULL: not in the table),
// for twice the longest its datasheet gives; returns how the wait ended.
int wait_status_write(const FlashChip* chip, int* status);

// The limit wait_status_write keeps to, in seconds.
double status_write_limit(const FlashChip* chip);
