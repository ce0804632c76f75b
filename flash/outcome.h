// What a flash procedure did: done, or the step it stopped at and why, with the address, the
// status it read and the limit it waited; and the events it tells its listener on the way.
// The programs put both into words.
#pragma once

#include "session.h"

// The steps of the procedures.
enum {
    STEP_IDENTIFY = 1,
    STEP_SIZE,        // the image against the chip's size
    STEP_UNPROTECT,   // clearing the chip's protection
    STEP_ERASE,       // the erase
    STEP_ERASE_CHECK, // one page of each 64 KiB read blank after it
    STEP_PROGRAM,
    STEP_VERIFY,
    STEP_READ,
    STEP_PROTECT, // the protection put back after the write
    STEP_KEEP     // the board's own bytes read before the erase
};

// How a step ended.
enum {
    OUTCOME_DONE = 0,
    OUTCOME_INTERRUPTED,  // Ctrl-C: the chip left as it must be, the lines idle
    OUTCOME_BUSY,         // the flash stayed busy past `limit` seconds
    OUTCOME_SILENT,       // the flash stopped answering: every status read 0xff
    OUTCOME_ID_DIFFERS,   // the identification read differently (`id`, `again`)
    OUTCOME_NO_CHIP,      // no chip answers: 00 00 00 or ff ff ff
    OUTCOME_NO_SIZE,      // not in the table, and the identification gives no size
    OUTCOME_TOO_SMALL,    // the image has more pages than the chip
    OUTCOME_STILL_LOCKED, // the protection stayed after its procedure (`status` now)
    OUTCOME_NOT_BLANK,    // the erase did not take at `address`
    OUTCOME_READS_DIFFER, // the page at `address` read differently twice
    OUTCOME_LATCH_KEPT,   // the page program at `address` was refused: the latch stayed set
    OUTCOME_WORDS_LEFT,   // the word at `address` was refused: the chip left its word sequence
    OUTCOME_DIFFERS,      // the page at `address` differs from the image
    OUTCOME_NOT_RESTORED, // the protection put back reads otherwise (`status`, `read`)
    OUTCOME_OUTSIDE,      // a region lies outside the chip
    OUTCOME_OLDER_CHIP,   // no answer to 0x9F, only to the older identification: not supported
    OUTCOME_TABLE_DIFFERS // the chip's parameter table contradicts its row (session's table)
};

// What restore_protection set.
enum {
    RESTORED_NOTHING = 1, // nothing was protected, and the chip comes up unprotected
    RESTORED_STATUS,      // the status register's protection bits (`status` read back)
    RESTORED_REGISTER,    // the block-protection register (`read`, `pages` bytes of it)
    RESTORED_SECTORS      // sectors protected one by one (`address` of them), then the status
};

// What cleared a chip's protection, for the words that say so.
enum {
    CLEARED_BY_WRITE_STATUS = 1, // write enable and write status
    CLEARED_BY_EWSR_STATUS,      // enable-write-status and write status
    CLEARED_BY_GLOBAL_UNPROTECT, // the status write that is the chip's global unprotect
    CLEARED_BY_GLOBAL_UNLOCK     // the global block-protection unlock (0x98)
};

enum { OUTCOME_PAGE = 256, OUTCOME_REGISTER = 32 };

struct FlashOutcome {
    int step; // STEP_*
    int kind; // OUTCOME_*
    int address;
    int status;      // the status last read (-1: none; a word waited for on the busy line)
    int status2;     // the second status register, where the step read it
    double limit;    // the seconds waited, where a wait ended it
    int pages;       // the chip's pages, for OUTCOME_TOO_SMALL
    int words;       // the program step programmed words, not pages
    int in_register; // the protection that stayed is a block-protection register's
    int erase_unit;  // the erase's unit in bytes (0: the whole chip)
    int how;         // what cleared the protection (CLEARED_BY_*), when it was cleared
    unsigned char id[3], again[3];
    // A page that differs: what was read, and how many bytes differ from the image.
    unsigned char read[OUTCOME_PAGE];
    int differ;
};

// The events a procedure tells its listener.
enum {
    // protection cleared: `before` (status, or register) and `after`, `how`; the status
    // `written`; the second register's `before2`, `after2`, `written2` (-1: none)
    EVENT_CLEARED = 1,
    EVENT_ERASE_BEGINS,   // `total` units of `unit` bytes (0: the whole chip, `total` its usual ms)
    EVENT_ERASING,        // `done` ms of a whole-chip erase, or units erased; `status`
    EVENT_ERASE_ENDS,     // `done`
    EVENT_PROGRAM_BEGINS, // `total` pages
    EVENT_PROGRAMMING,    // `done` pages
    EVENT_PROGRAM_ENDS,
    EVENT_VERIFY_BEGINS, // `total` pages
    EVENT_VERIFYING,
    EVENT_VERIFY_ENDS,
    EVENT_READ_BEGINS, // `total` pages, read number `pass`
    EVENT_READING,
    EVENT_READ_ENDS
};

struct FlashEvent {
    int what; // EVENT_*
    int done, total;
    int unit;   // bytes a unit, EVENT_ERASE_BEGINS
    int status; // the flash's last status, or -1
    int pass;
    int before, after, how;
    int written, before2, after2, written2;
    const unsigned char* bits; // a register's bytes before, `len` of them
    int len;
};

// Tells the session's listener, if any.
void tell(FlashSession* s, const FlashEvent* event);

// The outcome of a step: `kind` at `address`.
void outcome_set(FlashOutcome* o, int step, int kind, int address, int status);
