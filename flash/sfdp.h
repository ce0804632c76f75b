// The chip's own parameter table (JEDEC JESD216 Serial Flash Discoverable Parameters, read with
// 0x5A): read, checked, held against the row of a known identification, and made into a row for
// a chip the table of families does not list.
#pragma once

#include "chips.h"

struct FlashSession;

// Where a table places the quad-enable bit (its quad-enable requirements, DWORD 15).
enum {
    QE_NOT_GIVEN = -1, // a table of fewer than 15 DWORDs (JESD216 before revision A)
    QE_NONE = 0,       // no quad-enable bit
    QE_STATUS2_BIT1,   // status register 2 bit 1: read with 0x35, written as 0x01's second byte
    QE_STATUS1_BIT6,   // status register bit 6
    QE_ELSEWHERE       // a register a one-byte write status leaves alone (0x3E/0x3F, or 0x31)
};

// What a table and the row of its identification disagree on.
enum { TABLE_SIZE = 1, TABLE_ERASE = 2, TABLE_QE = 4 };

enum { TABLE_ERASES = 4 };

// One erase type of a table: `size` bytes erased by `command`, its typical and longest time
// (0 where the table gives none).
struct TableErase {
    int size;
    unsigned char command;
    int typical_ms, max_ms;
};

// What a valid table says, as far as lptspi uses it.
struct FlashTable {
    int valid; // "SFDP", major revision 1, a basic table of at least 9 DWORDs
    int major, minor, dwords;
    long long bytes;        // the density
    unsigned char erase_4k; // the uniform 4 KiB erase's command (DWORD 1), or 0
    TableErase erases[TABLE_ERASES];
    int erase_count;
    int status_enable; // what enables a status write: 0x06, or 0x50
    int qe;            // QE_*
    int page;          // bytes a page program takes, 0 where not given
    int program_us, program_max_us, bulk_ms, bulk_max_ms; // 0 where not given
    int differs; // TABLE_* held against the row of a known identification
};

// Reads the session's chip's table into `t`; `t->valid` says whether there is one.
void flash_read_table(FlashSession* s, FlashTable* t);

// What the table `t` and the row `chip` disagree on: TABLE_* flags, 0 when they agree.
int table_differs(const FlashTable* t, const FlashChip* chip);

// Where the row `chip` has its quad-enable bit (QE_NONE or QE_STATUS2_BIT1).
int row_qe(const FlashChip* chip);

// The common model `chip` (resolve_chip's for an identification not in the table) made into the
// chip the table describes: its size, erase commands and times, page program time, status-write
// enable and quad-enable bit. Returns 0, leaving it, where the table gives pages of another size
// than 256 bytes.
int chip_from_table(const FlashTable* t, FlashChip* chip);
