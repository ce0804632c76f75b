// The short list of procedures a row of the chip table names: how a family's protection is read
// and cleared, and how it programs. One function per procedure, never one per chip.
#pragma once

#include "chips.h"
#include "outcome.h"
#include "session.h"

// Where a chip keeps what protects it from erases and programs.
enum {
    PROTECTED_NOWHERE = 1, // nothing a command clears (the M45PE: only its write-protect pin)
    PROTECTED_IN_STATUS,   // bits of the status register
    PROTECTED_IN_REGISTER  // a block-protection register of its own (0x72)
};

// Whether a lock bit holds the protection while the write-protect pin is low.
enum {
    PIN_LOCK_NONE = 0,
    PIN_LOCK_HELD = 1,    // the status shows the pin low, or the clearing was ignored
    PIN_LOCK_UNKNOWN = 2, // the lock bit is set and no command reads the pin
    // Protection on with the status registers locked down (SRP1), whatever the pin: no status
    // write is taken until the power is cycled, or ever (SRP0 set too)
    PIN_LOCK_DOWN = 3
};

// What protects a chip, as read.
struct ProtectionState {
    int where;    // PROTECTED_*
    int status;   // the status register it was read with
    int status2;  // the second status register, read with it where the family has one; else -1
    int protects; // whether anything is protected
    int pin_lock; // PIN_LOCK_*
    // The block-protection register, where the chip keeps one.
    unsigned char bits[OUTCOME_REGISTER];
    int len;
    // Each 64 KiB sector's own protection, one bit a sector from sector 0, where the chip keeps
    // it per sector and it was read (read_sector_protection); `sectors` 0 when it was not.
    unsigned char sector_bits[OUTCOME_REGISTER];
    int sectors;
};

struct Protection {
    int where; // PROTECTED_*
    // Clears what `p` shows; returns the outcome's kind, `p` read again, `o->status` the status.
    int (*clear)(FlashSession* s, ProtectionState* p, FlashOutcome* o);
    int how;           // CLEARED_BY_*
    int status_enable; // the frame before a status write: 0x06 write enable, or 0x50 (EWSR)
    int global_reset;  // a status write that finds the lock set clears only the lock (AT25DF)
    // Puts back the protection `found` showed, or the chip's power-up protection where it showed
    // none; returns the outcome's kind (STEP_PROTECT).
    int (*restore)(FlashSession* s, const ProtectionState* found, FlashOutcome* o);
};

struct Programming {
    // Programs `count` pages of `image` from page `first` (image and flash alike) into erased
    // flash, telling EVENT_PROGRAMMING with the page number as it goes; returns the outcome's
    // kind.
    int (*write)(FlashSession* s, const unsigned char* image, int first, int count,
                 FlashOutcome* o);
    int words; // one byte per program command: words by auto-address increment, ended by 0x04
    // Each word waited for on the busy line (SST25: RY/BY# on data-out after 0x70), not by read
    // status
    int busy_line;
};

extern const Protection PROTECT_NONE;
extern const Protection PROTECT_STATUS_WREN;
extern const Protection PROTECT_STATUS_EWSR;
extern const Protection PROTECT_GLOBAL_UNPROTECT;
extern const Protection PROTECT_GLOBAL_UNLOCK;
extern const Programming PROGRAM_PAGES;
extern const Programming PROGRAM_WORDS;
extern const Programming PROGRAM_WORDS_BUSY_LINE;

// Reads each sector's own protection into `p` where the chip keeps it per sector (the AT25DF's),
// for restore_protection to put back exactly; nothing otherwise.
void read_sector_protection(FlashSession* s, ProtectionState* p);

// After a verified write: the protection `found` at the start put back by the family's
// procedure (the status bits, the block-protection register, the sectors), or where it found
// none the chip's power-up protection (nothing, for a chip that comes up unprotected), then read
// back. Returns the outcome's kind (STEP_PROTECT): done with `o->how` saying what was set
// (RESTORED_*), the status or the register read back in `o->status` / `o->read`; or
// OUTCOME_NOT_RESTORED when the chip reads otherwise.
int restore_protection(FlashSession* s, const ProtectionState* found, FlashOutcome* o);

// The family's clearing run whatever `p` shows protected: lptspi's own run needs the status 0x00
// even where only bits that protect nothing are set (the write latch). Returns as
// clear_protection.
int clear_protection_bits(FlashSession* s, ProtectionState* p, FlashOutcome* o);

// The SST25's status bit 6: auto-address-increment word programming under way.
enum { STATUS_WORDS = 0x40 };

// The status bits of the family `chip`, or the common ones for a chip not in the table (NULL).
const StatusBits* family_status_bits(const FlashChip* chip);

// Whether `status` shows nothing protected: 0x00, or only the bits an unprotected idle chip of
// the family reads (the AT25DF's write-protect pin).
int status_unprotected(const FlashChip* chip, int status);

// What the unprotect writes into the status registers read as `status` and `status2` (-1: none):
// the family's protection bits cleared, the bits it keeps as read.
int kept_status(const FlashChip* chip, int status);
int kept_status2(const FlashChip* chip, int status2);

// Reads what protects the session's chip, its status `status` already read.
void read_protection(FlashSession* s, int status, ProtectionState* p);

// Clears it by the family's procedure. Returns the outcome (STEP_UNPROTECT): done, with
// EVENT_CLEARED told when there was something to clear; or why it stayed, the write latch left
// clear.
int clear_protection(FlashSession* s, ProtectionState* p, FlashOutcome* o);

// A word sequence cut short (the board's power kept) leaves an SST25 taking nothing but the next
// word, read status and write disable: its status shows bit 6 and its identification reads
// ff ff ff. When `*status` and the identification (read into `id`) show that, sends write
// disable, which ends the sequence and changes nothing in the memory, reads the status again
// into `*status` and returns 1; otherwise returns 0.
int end_word_sequence(FlashSession* s, int* status, unsigned char* id);

// What keeps lptspi's own run from programming a chip of the family `chip` with `status`,
// whatever its protection: flags.
enum {
    PLAIN_PIN_BIT = 1, // its status shows the write-protect pin: never 0x00
    PLAIN_NO_BULK = 2, // no bulk erase
    PLAIN_BYTES = 4    // one byte per program command
};
int plain_run_obstacles(const FlashChip* chip, int status);

// Why the fast run would refuse the chip before it erases: 0 for none.
enum {
    FAST_BUSY = 1,    // the flash is busy
    FAST_NO_SIZE,     // not in the table, and the identification gives no size
    FAST_PIN_LOCK,    // the write-protect pin holds the protection
    FAST_PIN_UNKNOWN, // a lock bit set, the pin not readable: only if the pin is high
    FAST_LOCKED_DOWN, // protected, the status registers locked down (SRP1)
    FAST_OLDER,       // a chip of the older generation, not supported
    FAST_TABLE        // its parameter table contradicts the row of its identification
};
int fast_refusal(int kind, int status, int pin_lock, int table_differs);
