// The flash families lptspi knows, one row each: what the makers' datasheets say a program needs
// to know to identify, unprotect, erase and program the chip, and the procedures (procedures.h)
// that do it. Adding a family whose procedures exist is adding a row.
#pragma once

#include <stddef.h>

// The procedures a row names, from the short list in procedures.h: how the chip's protection is
// read and cleared, and how it programs.
struct Protection;
struct Programming;

// What a family's status register bits mean.
struct StatusBits {
    unsigned char protect; // the bits that protect blocks or sectors
    unsigned char lock;    // the bit that locks them while the write-protect pin is low
    // What an idle chip with nothing protected reads, the write-protect pin held high as the
    // adapter holds it: 0x00 unless a bit shows the pin
    unsigned char idle;
    const char* names[8]; // each bit's name, bit 0 first
    // The bits an unprotect writes back as read (a quad-enable bit in this register); the others
    // are written 0: protection bits, and bits the families' datasheets give as read only or
    // reserved, which a status write leaves or which read 0.
    unsigned char keep = 0;
};

extern const StatusBits STATUS_BP;     // BP0-BP2 (bits 5 and 6 on larger chips), SRWD
extern const StatusBits STATUS_W25Q;   // BP0-BP2, TB, SEC, SRP0
extern const StatusBits STATUS_SST25;  // BP0-BP3, AAI, BPL
extern const StatusBits STATUS_SST26;  // no protection here: a register of its own (0x72)
extern const StatusBits STATUS_AT25DF; // SWP, WPP (the pin), EPE, SPRL
// A chip a parameter table (SFDP) places the quad-enable bit at bit 6 of: BP0-BP3, QE, SRWD.
extern const StatusBits STATUS_QE6;

// What a second status register's bits mean (read with 0x35, written with the first as the second
// byte of write status 0x01, so that both are written together).
struct Status2Bits {
    unsigned char protect;  // the bits that protect blocks (CMP turns the BP bits' protection over)
    unsigned char lockdown; // the bit that refuses every status write (SRP1), whatever the pin
    unsigned char quad;     // quad enable (QE): a board that boots in quad mode needs it kept
    unsigned char writable; // the bits a status write changes; the rest read as they are
    const char* names[8];   // each bit's name, bit 0 first
    unsigned char one_time; // bits that once set stay set (LB1-LB3: the security registers' locks)
};

extern const Status2Bits STATUS2_W25Q; // SRP1, QE, LB1-LB3, CMP, SUS
// A second status register a parameter table (SFDP) places the quad-enable bit in, its other
// bits unknown: read and written back as read.
extern const Status2Bits STATUS2_QE;

extern const Protection PROTECT_STATUS_WREN;
extern const Programming PROGRAM_PAGES;

// A row gives only what differs from the common model: 1 MiB, page programs, write enable before
// a status write that clears the protection bits, the common status bits, bulk and 64 KiB erase.
struct FlashChip {
    unsigned char id[3]; // JEDEC identification (0x9F)
    const char* name;
    int size = 1 << 20; // bytes
    const Programming* program = &PROGRAM_PAGES;
    const Protection* protection = &PROTECT_STATUS_WREN;
    const StatusBits* status = &STATUS_BP;
    const Status2Bits* status2 = NULL; // a second status register, or NULL
    int protection_register = 0; // bytes of the block-protection register (read with 0x72), or 0
    // Erase commands, 0 where the chip has none: the whole chip, a 64 KiB sector, a 4 KiB
    // sector, a 256-byte page.
    unsigned char bulk_erase = 0xC7;
    unsigned char sector_erase = 0xD8;
    unsigned char small_erase = 0;
    unsigned char page_erase = 0;
    // Typical and maximum busy times: the bulk erase, a 64 KiB sector erase, one program command
    // (a page, or one word on a chip that programs words).
    int bulk_ms = 0, bulk_max_ms = 0;
    int sector_ms = 0, sector_max_ms = 0;
    int program_us, program_max_us;
    // The status write's self-timed cycle (tW), typical and maximum: busy, with the write latch
    // set, until it ends. 0 where the datasheet gives none: the register is written as the
    // frame ends.
    int status_write_ms = 0, status_write_max_ms = 0;
    // Bytes from address 0 that the write-protect pin protects while it is held low, whatever
    // the status says (M45PE: the bottom 64 KiB sector); 0: none.
    int pin_protects = 0;
    // Release from deep power-down (0xAB) to the chip answering again (tRES1), microseconds; 0:
    // no deep power-down.
    int release_us = 0;
    // Status bits the family never sets: a chip answering its identification whose status shows
    // any of them is another chip that shares the identification (M45PE80, XM25QH80B), and is
    // taken as the common model.
    unsigned char foreign_status = 0;
    // What the chip comes up with at power-up, which --protect puts back where a run found
    // nothing protected: the status value whose write protects as at power-up (0: nothing), or
    // the block-protection register, most significant byte first (all 0: nothing).
    unsigned char power_up_status = 0;
    unsigned char power_up_locks[6] = {};
};

extern const FlashChip flash_chips[];
extern const int flash_chip_count;

// The row of the family that answers `id`, or NULL.
const FlashChip* find_chip(const unsigned char* id);

// Whether a chip of the family `chip` (NULL: a common 25-series chip not in the table) shows
// block protection in `status`.
int status_protects(const FlashChip* chip, int status);

// The longest status write of the family `chip` in milliseconds: its own, or for a chip not in
// the table (NULL) the longest any family of the table takes.
int status_write_max_ms(const FlashChip* chip);

// What answers an identification.
enum {
    CHIP_KNOWN = 1, // a family of the table
    CHIP_COMMON,    // not in the table; its capacity code gives the size, as on 25-series chips
    CHIP_NO_SIZE,   // not in the table, and its identification gives no size
    CHIP_SILENT,    // 00 00 00 or ff ff ff: no chip answering
    CHIP_TABLE,     // not in the table, described by its own parameter table (SFDP)
    CHIP_OTHER,     // a family's identification, but a status that family never shows: the
                    // common model of the size its identification gives
    CHIP_OLDER      // no answer to 0x9F, but to the older identification (0x90 or 0xAB)
};

// The longest release from deep power-down of the table, microseconds.
int longest_release_us();

// A chip of the older generation that answers only 0x90 (maker, device) and 0xAB: named, and
// not supported.
struct OlderChip {
    unsigned char maker, device;
    const char* name;
};
extern const OlderChip older_chips[];
extern const int older_chip_count;

// The older chip that answers 0x90 with `maker` and `device`, or NULL.
const OlderChip* find_older_chip(int maker, int device);

// Which chip answers `id`. Always fills `*chip` with a row: the table's; else the common model
// (write enable and write status to unprotect, page programs, bulk and 64 KiB sector erase)
// with the longest busy times of the table, named "the flash", of the size the identification
// gives (0 when it gives none, or when no chip answers). Returns the kind.
int resolve_chip(const unsigned char* id, FlashChip* chip);

// The common model of resolve_chip for `id`, whatever the table says about it.
void common_chip(const unsigned char* id, FlashChip* chip);
