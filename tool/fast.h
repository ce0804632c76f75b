// lptspi --fast: the programming run on the fast link, for every flash family in the table.
#pragma once

#include "image.h"
#include "job.h"
#include "../flash/session.h"
#include "../flash/procedures.h"
#include "../flash/write.h"

// What a board's write did beyond the image, for the verdict and the station's log.
struct BoardDone {
    int kept;    // regions of the board's own bytes kept
    int updated; // --update: `update` counts the units written and skipped
    UpdateCount update;
    int restored;             // --protect: RESTORED_*, 0 without it
    char protection[96];      // what the protection put back reads, "status 0x1c"
    char serial[SERIAL_TEXT]; // the serial number written, or ""
    // The bytes kept, for the station's log: "0x1000=001a2b000001 0x20=..." (each region's first
    // 64 bytes, "..." after them).
    char kept_bytes[8 * (16 + 2 * 64 + 4)];
};

// The fast run's whole procedure on one board whose session has begun (board_begin) with its
// flash idle (`status`): identify it (the session's chip), refuse an image larger than it, keep
// the board's own bytes (job->keep), clear its protection, erase, check the erase took,
// program, verify (with job->update: only the erase units that differ), and put the protection
// back (job->protect). Says what it does, notes why it fails for the verdict (fail_because),
// leaves the lines as the last frame left them. Returns the exit status, EXIT_VERIFIED when the
// image is in the flash, EXIT_INTERRUPTED after Ctrl-C; what was done in `*done`.
int write_board(FlashSession* s, const Job* job, int status, BoardDone* done);

// What protects the board's chip as the run finds it (its status `status` read), with each
// sector's own protection where job->protect is to put it back exactly.
void found_protection(FlashSession* s, const Job* job, int status, ProtectionState* p);

// After a verified write or erase: the protection `found` at the start (or the chip's power-up
// protection) put back, said in one line and kept in `done` for the verdict. Returns the exit
// status: EXIT_VERIFIED, or EXIT_VERIFY_FAILED when it could not be put back.
int protect_again(FlashSession* s, const ProtectionState* found, BoardDone* done);

// write_board on a board whose session began with `status` (-1: it could not: the reason is
// noted), the session ended, and the run's verdict said (none after Ctrl-C: the lines are left
// idle). Returns the exit status.
int write_and_judge(FlashSession* s, const Job* job, int status, BoardDone* done);

// The same phases, messages and checks as lptspi's own run on the fast link, for every flash
// family in the table: no pause after a write enable, the waits polled without pauses and given
// up after twice the family's longest time, blank pages left as the erase left them (and still
// verified). Before the erase it names the chip, refuses an image larger than the chip, and
// clears the chip's block protection by the family's own procedure; it erases by the family's
// erase plan, and checks that the erase took; it programs as the family programs. The phases
// show a progress line, and the run ends with its verdict line. Returns the exit status. With
// job->update, lptspi --update.
int program_fast(const Job* job);
