// One board after another on one claimed port: the claim; each board's session, which checks
// that the flash is idle and ends with the lines idle; and the page verification the programming
// runs share. Below every run, above the flash procedures.
#pragma once

#include "image.h"
#include "../flash/session.h"

// Exit statuses of a run.
enum {
    EXIT_VERIFIED = 0, // every page read back as written
    // Nothing was written: the port could not be claimed, the flash was not idle, or (lptspi
    // --fast) it could not be identified, is smaller than the image, or kept its protection.
    EXIT_NOTHING_WRITTEN = 1,
    // A page differed; the run still completed. Also the fast run's end after its erase began:
    // an erase that did not take, a program refused, a flash that stayed busy or stopped
    // answering, reads that were unreliable.
    EXIT_VERIFY_FAILED = 2
};

// Claims LPT<number> (1 unless --port or LPTSPI_PORT names another), opens its driver and sets
// the port up (an ECP port to byte mode), then opens a session with the link `link` on it. Says
// why when it cannot. Returns 1 when the port is claimed.
int claim_port(int number, int link, FlashSession* s);

// A board's session begins on the claimed port: writes the idle lines, pauses, on every link but
// lptspi's own wakes the chip from deep power-down, and reads the flash's status. The flash is idle
// when none of `busy_bits` is set in it: a run that erases and writes needs 0x00 (0xFF), a run that
// only reads needs the busy bit clear. Returns the status (0 to 255) when the flash is idle, having
// said so; otherwise -1, having said why (the status of a flash that is not idle, which is left
// untouched).
int board_begin(FlashSession* s, int busy_bits);

// claim_port, then board_begin: -1 having said why when either fails.
int claim_idle_flash(int number, int link, FlashSession* s, int busy_bits);

// The end of every board's session: the lines left idle, and a pause.
void release_flash(FlashSession* s);

// Reads the first `pages` pages back and compares them with `image`, up to the first that
// differs, whose differing bytes are listed; each page that matches is counted on the line
// ("page 3 ok"). Returns the exit status.
int verify_pages(FlashSession* s, const unsigned char* image, int pages);

// The same comparison with a progress line, for lptspi --fast and --verify: a page that differs
// is read once more first, as two reads that differ tell of unreliable reads, not of the flash;
// the failure starts a line of its own, its byte list capped at the first 16 differences, and is
// noted for the verdict. Returns the exit status (EXIT_INTERRUPTED after Ctrl-C).
int check_pages(FlashSession* s, const Image* image);
