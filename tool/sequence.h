// The programming run: claim the port, check the flash is idle, bulk-erase, program every page,
// verify up to the first page that differs, and leave the lines idle.
#pragma once

#include "../port/registers.h" // IDLE_LINES

// Exit statuses of a run.
enum {
    EXIT_VERIFIED = 0, // every page read back as written
    EXIT_NO_PORT_OR_BUSY = 1,
    // A page differed; the run still completed. Also the fast run's end after its erase began:
    // an erase that did not take, a program refused, a flash that stayed busy or stopped
    // answering.
    EXIT_VERIFY_FAILED = 2
};

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
// With `fast`, program_fast().
int program_flash(unsigned char* image, int pages, int fast);

// The same phases, messages and checks on the fast link, for every flash family in the table:
// no pause after a write enable, the waits polled without pauses (the erase's status line shown
// when it changes and every 100 ms) and given up after twice the family's longest time, blank
// pages left as the erase left them (and still verified). Before the erase it names the chip,
// refuses an image larger than the chip, and clears the chip's block protection by the family's
// own procedure; it erases with the family's bulk erase or else the sectors the image uses, and
// checks that the erase took; it programs pages, or words where the family programs those.
int program_fast(unsigned char* image, int pages);

// The end of a run that programmed: pauses, reads every page back and compares it with `image`
// up to the first that differs (read `again` before it is blamed: see verify_flash), leaves the
// lines idle, frees `image`. Returns the exit status.
int verify_and_release(unsigned char* image, int pages, int again);

// Compares the flash's first `pages` pages with `image` on the fast link, as the programming run
// verifies them, and writes nothing: only a busy flash is refused (a word sequence cut short is
// ended with write disable, which changes nothing in the memory). A page that differs is read
// again: two reads that differ are blamed on the reads, not the flash. Frees `image`. Returns
// EXIT_VERIFIED when the flash holds the image, EXIT_VERIFY_FAILED when a page differs.
int verify_flash(unsigned char* image, int pages);
