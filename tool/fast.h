// lptspi --fast: the programming run on the fast link, for every flash family in the table.
#pragma once

#include "image.h"
#include "../flash/chips.h"

// The fast run's whole procedure on one board whose session has begun (board_begin) with its
// flash idle (`status`): identify it (its row in `*chip`), refuse an image larger than it, clear
// its protection, erase, check the erase took, program, verify. Says what it does, notes why it
// fails for the verdict (fail_because), leaves the lines as the last frame left them. Returns the
// exit status, EXIT_VERIFIED when the image is in the flash.
int write_board(const Image* image, int status, FlashChip* chip);

// write_board on a board whose session began with `status` (-1: it could not: the reason is
// noted), the session ended, and the run's verdict said. Returns the exit status.
int write_and_judge(const Image* image, int status, FlashChip* chip);

// The same phases, messages and checks as lptspi's own run on the fast link, for every flash
// family in the table: no pause after a write enable, the waits polled without pauses and given
// up after twice the family's longest time, blank pages left as the erase left them (and still
// verified). Before the erase it names the chip, refuses an image larger than the chip, and
// clears the chip's block protection by the family's own procedure; it erases with the family's
// bulk erase or else the sectors the image uses, and checks that the erase took; it programs
// pages, or words where the family programs those. The phases show a progress line, and the run
// ends with its verdict line. Returns the exit status.
int program_fast(const Image* image, int port);
