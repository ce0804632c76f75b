// The parameter table a chip publishes (JEDEC JESD216, JESD216A, JESD216B: the standard's header,
// parameter headers and basic flash parameter table), read with 0x5A and used as a second witness
// beside the identification.
//
// Layout: at 0 the header, "SFDP", its minor and major revision, the number of parameter headers
// less one; at 8 the first parameter header, which is the basic table's: ID 0x00, its minor and
// major revision, its length in DWORDs, its address (three bytes, least significant first). The
// basic table, DWORDs least significant byte first:
//   1: bits 1-0 01 where a 4 KiB erase is uniform, bits 15-8 its command; bit 3 the block
//      protection bits volatile, bit 4 then enabled by 0x06 (else 0x50);
//   2: the density: bit 31 clear, the size in bits less one; set, its base-2 logarithm;
//   8-9: erase types 1-4, each a size (2^N bytes, 0: none) and a command;
//   10 (JESD216A on): bits 3-0 the erase multiplier (max = 2 (n + 1) typical); 7 bits a type from
//      bit 4: count 4-0, unit 6-5 (1 ms, 16 ms, 128 ms, 1 s), typical (count + 1) units;
//   11: bits 3-0 the program and chip-erase multiplier; 7-4 the page size (2^N); 13-8 the page
//      program (count 12-8, unit 13: 8 or 64 us); 30-24 the chip erase (count 28-24, unit 30-29:
//      16 ms, 256 ms, 4 s, 64 s);
//   15: bits 22-20 the quad-enable requirements;
//   16 (JESD216B): bits 6-0 how status register 1 is written: bit 0 non-volatile after 0x06, bit 1
//      volatile after 0x06, bit 2 volatile after 0x50.
// Source: JEDEC JESD216B (2014), 6.2-6.4, as Winbond's W25Q80DV and Macronix's MX25L8006E
// datasheets show their tables ("Serial Flash Discoverable Parameter (SFDP)"; not re-read).
#include "sfdp.h"

#include "commands.h"
#include "procedures.h"
#include "session.h"

#include <string.h>

enum {
    HEADER = 16,      // the header and the first parameter header
    BASIC_DWORDS = 9, // JESD216's basic table; JESD216A's and later ones have 16
    MOST_DWORDS = 16
};

static unsigned dword(const unsigned char* p) {
    return (unsigned)p[0] | (unsigned)p[1] << 8 | (unsigned)p[2] << 16 | (unsigned)p[3] << 24;
}

// A time field: (count + 1) units of `units[unit]`.
static int time_of(unsigned field, int count_bits, const int* units) {
    const unsigned count = field & ((1u << count_bits) - 1);
    const unsigned unit = (field >> count_bits) & 3;
    return (int)(count + 1) * units[unit];
}

static void read_erases(FlashTable* t, const unsigned* dw) {
    static const int erase_units[4] = {1, 16, 128, 1000}; // ms
    const unsigned types = dw[7], more = dw[8];
    const unsigned sizes[4] = {types & 0xFF, (types >> 16) & 0xFF, more & 0xFF,
                               (more >> 16) & 0xFF};
    const unsigned commands[4] = {(types >> 8) & 0xFF, types >> 24, (more >> 8) & 0xFF, more >> 24};
    const int multiplier = t->dwords >= 10 ? 2 * ((int)(dw[9] & 0x0F) + 1) : 0;
    t->erase_count = 0;
    for (int i = 0; i < 4; i++) {
        if (sizes[i] == 0 || sizes[i] > 30)
            continue; // no erase type here
        TableErase* e = &t->erases[t->erase_count++];
        e->size = 1 << sizes[i];
        e->command = (unsigned char)commands[i];
        e->typical_ms = t->dwords >= 10 ? time_of(dw[9] >> (4 + 7 * i), 5, erase_units) : 0;
        e->max_ms = e->typical_ms * multiplier;
    }
}

static void read_program_times(FlashTable* t, unsigned d) {
    static const int page_units[2] = {8, 64};                // us
    static const int chip_units[4] = {16, 256, 4000, 64000}; // ms
    const int multiplier = 2 * ((int)(d & 0x0F) + 1);
    t->page = 1 << ((d >> 4) & 0x0F);
    t->program_us = (int)((d >> 8) & 0x1F) + 1;
    t->program_us *= page_units[(d >> 13) & 1];
    t->program_max_us = t->program_us * multiplier;
    t->bulk_ms = time_of(d >> 24, 5, chip_units);
    t->bulk_max_ms = t->bulk_ms * multiplier;
}

static int qe_place(unsigned requirements) {
    switch (requirements) {
    case 0:
        return QE_NONE;
    case 1: // bit 1 of status register 2; a one-byte write status clears it
    case 4: // the same; a one-byte write leaves it
    case 5: // the same, read with 0x35
        return QE_STATUS2_BIT1;
    case 2:
        return QE_STATUS1_BIT6;
    default: // 3: status register 2 bit 7 (0x3E, 0x3F); later revisions' 6: written with 0x31
        return QE_ELSEWHERE;
    }
}

static int status_enable_of(const FlashTable* t, const unsigned* dw) {
    if (t->dwords >= 16) {
        const unsigned how = dw[15] & 0x7F;
        if (how & 0x03)
            return 0x06;
        if (how & 0x04)
            return 0x50;
    }
    // The block protection bits non-volatile: the status write after a write enable.
    if ((dw[0] & 0x08) == 0)
        return 0x06;
    return (dw[0] & 0x10) ? 0x06 : 0x50;
}

void flash_read_table(FlashSession* s, FlashTable* t) {
    memset(t, 0, sizeof *t);
    t->qe = QE_NOT_GIVEN;
    unsigned char header[HEADER];
    mc_read_sfdp(s, 0, header, HEADER);
    if (memcmp(header, "SFDP", 4) != 0 || header[5] != 1 || header[8] != 0x00 || header[10] != 1 ||
        header[11] < BASIC_DWORDS)
        return;
    t->minor = header[4];
    t->major = header[5];
    t->dwords = header[11] < MOST_DWORDS ? (int)header[11] : (int)MOST_DWORDS;
    const int pointer = header[12] | header[13] << 8 | header[14] << 16;
    unsigned char bytes[4 * MOST_DWORDS];
    mc_read_sfdp(s, pointer, bytes, 4 * t->dwords);
    unsigned dw[MOST_DWORDS];
    for (int i = 0; i < MOST_DWORDS; i++)
        dw[i] = i < t->dwords ? dword(bytes + 4 * i) : 0xFFFFFFFFu;
    if (dw[0] == 0xFFFFFFFFu && dw[1] == 0xFFFFFFFFu)
        return; // a header without a table behind it
    t->valid = 1;
    t->bytes = (dw[1] & 0x80000000u) ? (1LL << ((dw[1] & 0x3F))) / 8 : ((long long)dw[1] + 1) / 8;
    t->erase_4k = (dw[0] & 0x03) == 0x01 ? (unsigned char)((dw[0] >> 8) & 0xFF) : 0;
    read_erases(t, dw);
    if (t->dwords >= 11)
        read_program_times(t, dw[10]);
    if (t->dwords >= 15)
        t->qe = qe_place((dw[14] >> 20) & 7);
    t->status_enable = status_enable_of(t, dw);
}

int row_qe(const FlashChip* chip) {
    return chip->status2 != NULL && chip->status2->quad == 0x02 ? QE_STATUS2_BIT1 : QE_NONE;
}

// Whether an erase of `size` bytes by `command` contradicts the row's erase of that size.
static int erase_differs(const FlashChip* chip, int size, unsigned char command) {
    if (size == 4096)
        return chip->small_erase != 0 && command != chip->small_erase;
    if (size == 64 * 1024)
        return chip->sector_erase != 0 && command != chip->sector_erase;
    return 0; // a size the row does not list
}

int table_differs(const FlashTable* t, const FlashChip* chip) {
    int differs = 0;
    if (t->bytes != chip->size)
        differs |= TABLE_SIZE;
    if (t->erase_4k != 0 && erase_differs(chip, 4096, t->erase_4k))
        differs |= TABLE_ERASE;
    for (int i = 0; i < t->erase_count; i++) {
        if (erase_differs(chip, t->erases[i].size, t->erases[i].command))
            differs |= TABLE_ERASE;
    }
    if (t->qe != QE_NOT_GIVEN && t->qe != row_qe(chip))
        differs |= TABLE_QE;
    return differs;
}

int chip_from_table(const FlashTable* t, FlashChip* chip) {
    if (t->page != 0 && t->page != 256)
        return 0;                                                // lptspi programs 256-byte pages
    chip->size = t->bytes < (1 << 24) ? (int)t->bytes : 1 << 24; // what 24-bit addresses reach
    chip->small_erase = t->erase_4k;
    chip->sector_erase = 0;
    for (int i = 0; i < t->erase_count; i++) {
        const TableErase* e = &t->erases[i];
        if (e->size == 4096)
            chip->small_erase = e->command;
        if (e->size != 64 * 1024)
            continue;
        chip->sector_erase = e->command;
        if (e->typical_ms != 0) {
            chip->sector_ms = e->typical_ms;
            chip->sector_max_ms = e->max_ms;
        }
    }
    if (t->program_us != 0) {
        chip->program_us = t->program_us;
        chip->program_max_us = t->program_max_us;
        chip->bulk_ms = t->bulk_ms;
        chip->bulk_max_ms = t->bulk_max_ms;
    }
    chip->protection = t->status_enable == 0x50 ? &PROTECT_STATUS_EWSR : &PROTECT_STATUS_WREN;
    if (t->qe == QE_STATUS1_BIT6)
        chip->status = &STATUS_QE6;
    if (t->qe == QE_STATUS2_BIT1)
        chip->status2 = &STATUS2_QE;
    return 1;
}
