// lptspi --fast: the programming run on the fast link, for every flash family in the table.
#pragma once

#include "image.h"
#include "job.h"
#include "../flash/session.h"

// The fast run's whole procedure on one board whose session has begun (board_begin) with its
// flash idle (`status`): identify it (the session's chip), refuse an image larger than it, clear
// its protection, erase, check the erase took, program, verify. Says what it does, notes why it
// fails for the verdict (fail_because), leaves the lines as the last frame left them. Returns the
// exit status, EXIT_VERIFIED when the image is in the flash, EXIT_INTERRUPTED after Ctrl-C.
int write_board(FlashSession* s, const Image* image, int status);

// write_board on a board whose session began with `status` (-1: it could not: the reason is
// noted), the session ended, and the run's verdict said (none after Ctrl-C: the lines are left
// idle). Returns the exit status.
int write_and_judge(FlashSession* s, const Image* image, int status);

// The same phases, messages and checks as lptspi's own run on the fast link, for every flash
// family in the table: no pause after a write enable, the waits polled without pauses and given
// up after twice the family's longest time, blank pages left as the erase left them (and still
// verified). Before the erase it names the chip, refuses an image larger than the chip, and
// clears the chip's block protection by the family's own procedure; it erases by the family's
// erase plan, and checks that the erase took; it programs as the family programs. The phases
// show a progress line, and the run ends with its verdict line. Returns the exit status.
int program_fast(const Job* job);
