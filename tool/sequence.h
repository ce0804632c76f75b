// The programming run: claim the port, check the flash is idle, bulk-erase, program every page,
// verify up to the first page that differs, and leave the lines idle.
#pragma once

// Exit statuses of a run.
enum {
    EXIT_VERIFIED = 0, // every page read back as written
    EXIT_NO_PORT_OR_BUSY = 1,
    EXIT_VERIFY_FAILED = 2 // a page differed; the run still completed
};

// Chip select released, clock and data-out low, the always-high line high.
enum { IDLE_LINES = 0x05 };

// The port lptspi and lptspi-backup claim: LPT<port_number>, 1 unless --port names another.
extern int port_number;

// Claims the port, sets up the port, writes the idle lines, pauses and reads the flash's status.
// The flash is idle when none of `busy_bits` is set in it: a run that erases and writes needs 0x00
// (0xFF), a run that only reads needs the busy bit clear. Returns the status (0 to 255) when the
// flash is idle, having said so; otherwise -1, having reported why (a port that cannot be
// claimed, or the status of a flash that is not idle, which is left untouched).
int claim_idle_flash(int busy_bits);

// Leaves the lines idle and pauses: the end of every run that claimed the flash.
void release_flash();

// Programs `pages` pages of `image` from flash address 0. Frees `image`. Returns the exit status.
// With `fast` the same phases, messages and checks on the fast link: no pause after a write
// enable, the erase polled without pauses (its status line shown when it changes and every
// 100 ms), blank pages left as the erase left them (and still verified).
int program_flash(unsigned char* image, int pages, int fast);

// Compares the flash's first `pages` pages with `image` on the fast link, as the programming run
// verifies them, and writes nothing: only a busy flash is refused. Frees `image`. Returns
// EXIT_VERIFIED when the flash holds the image, EXIT_VERIFY_FAILED when a page differs.
int verify_flash(unsigned char* image, int pages);
