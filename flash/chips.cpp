// The table of flash families lptspi knows, and the lookups over it.
#include "chips.h"

#include "commands.h"
#include "procedures.h"

#include <stddef.h>
#include <string.h>

const StatusBits STATUS_BP = {
    .protect = 0x7C,
    .lock = 0x80,
    .idle = 0x00,
    .names = {"busy", "write latch", "BP0", "BP1", "BP2", "bit 5", "bit 6", "SRWD"}};
// W25Q80DV and W25Q128FV datasheets (Winbond), 7.1 Status Registers: TB (bit 5), SEC (bit 6) and
// SRP0 (bit 7) beside BP0-BP2.
// The parameter table's quad-enable requirement 010 (JEDEC JESD216B, 6.4.18, DWORD 15 bits 22:20):
// QE is status bit 6, kept; bits 2-5 are the block protection of such chips.
const StatusBits STATUS_QE6 = {
    .protect = 0x3C,
    .lock = 0x80,
    .idle = 0x00,
    .names = {"busy", "write latch", "BP0", "BP1", "BP2", "BP3", "QE", "SRWD"},
    .keep = 0x40};
const StatusBits STATUS_W25Q = {
    .protect = 0x7C,
    .lock = 0x80,
    .idle = 0x00,
    .names = {"busy", "write latch", "BP0", "BP1", "BP2", "TB", "SEC", "SRP0"}};
// Status register 2: SRP1 (bit 0), QE (1), reserved (2), LB1-LB3 (3-5, one-time), CMP (6), SUS (7,
// read only). W25Q80DV datasheet (Winbond, rev. F 2015), 7.1 Status Registers and 8.2.9 Write
// Status Register: "bits 14 thru 8 of Status Register-2" written as the second byte of 0x01 (not
// re-read; the same words confirmed in Winbond's W25Q32BV datasheet 7.2.9 and W25Q16CL 11.2.9).
// SRP1 set: every status write refused, until the next power-up with SRP0 clear, for good with
// SRP0 set (7.1.7). A one-byte write status clears QE and CMP on the W25Q80DV ("previous
// generations will clear CMP and QE bits": W25Q64JV rev. J 8.2.5, confirmed), so both bytes are
// always written together.
const Status2Bits STATUS2_W25Q = {
    .protect = 0x40,
    .lockdown = 0x01,
    .quad = 0x02,
    .writable = 0x7B,
    .names = {"SRP1", "QE", "bit 2", "LB1", "LB2", "LB3", "CMP", "SUS"},
    .one_time = 0x38};
const Status2Bits STATUS2_QE = {
    .protect = 0x00,
    .lockdown = 0x00,
    .quad = 0x02,
    .writable = 0xFF,
    .names = {"bit 0", "QE", "bit 2", "bit 3", "bit 4", "bit 5", "bit 6", "bit 7"},
    .one_time = 0x00};
const StatusBits STATUS_SST25 = {
    .protect = 0x3C,
    .lock = 0x80,
    .idle = 0x00,
    .names = {"busy", "write latch", "BP0", "BP1", "BP2", "BP3", "AAI", "BPL"}};
const StatusBits STATUS_SST26 = {
    .protect = 0x00,
    .lock = 0x00,
    .idle = 0x00,
    .names = {"busy", "write latch", "WSE", "WSP", "WPLD", "SEC", "bit 6", "busy (bit 7)"}};
// WPP reads 1 while the write-protect pin is high.
const StatusBits STATUS_AT25DF = {
    .protect = 0x0C,
    .lock = 0x80,
    .idle = 0x10,
    .names = {"busy", "write latch", "SWP0", "SWP1", "WPP", "EPE", "bit 6", "SPRL"}};

const FlashChip flash_chips[] = {
    // The common model: 256-byte pages, bulk erase, unprotected at power-up.
    // M25P80 datasheet (Numonyx), AC characteristics: tW, tPP, tSE, tBE.
    {.id = {0x20, 0x20, 0x14},
     .name = "M25P80",
     .bulk_ms = 8000,
     .bulk_max_ms = 20000,
     .sector_ms = 600,
     .sector_max_ms = 3000,
     .program_us = 1400,
     .program_max_us = 5000,
     .status_write_ms = 5,
     .status_write_max_ms = 15,
     .release_us = 3}, // tRES1 3 us max (the datasheet review's figure; not re-read)
    // W25Q80BV datasheet (Winbond), AC electrical characteristics: tW, tPP, tSE, tBE1, tCE.
    // Its status registers as the W25Q80DV's (STATUS2_W25Q); tRES1 3 us (W25Q80DV datasheet, AC
    // electrical characteristics; the review's figure, not re-read).
    {.id = {0xEF, 0x40, 0x14},
     .name = "W25Q80",
     .status = &STATUS_W25Q,
     .status2 = &STATUS2_W25Q,
     .small_erase = 0x20,
     .bulk_ms = 2000,
     .bulk_max_ms = 6000,
     .sector_ms = 150,
     .sector_max_ms = 1000,
     .program_us = 700,
     .program_max_us = 3000,
     .status_write_ms = 10,
     .status_write_max_ms = 15,
     .release_us = 3},
    // MX25L8005 datasheet (Macronix), AC characteristics: tW, tPP, tBE, tCE. The same
    // identification answers the MX25L8006E/8008E, whose status write takes up to 100 ms (the
    // maker's simulation model, tdevice_WRR), so this row's status write covers both; the 64 KiB
    // erase's 1 s typical, 2 s max from the KH25L8005 datasheet (PM1307 rev. 1.1, features).
    // tRES1 8.8 us max, rounded up (not re-read).
    {.id = {0xC2, 0x20, 0x14},
     .name = "MX25L8005",
     .small_erase = 0x20,
     .bulk_ms = 8000,
     .bulk_max_ms = 20000,
     .sector_ms = 1000,
     .sector_max_ms = 2000,
     .program_us = 1400,
     .program_max_us = 5000,
     .status_write_ms = 40,
     .status_write_max_ms = 100,
     .release_us = 9},
    // GD25Q80 datasheet (GigaDevice), AC characteristics: tW, tPP, tBE, tCE (5 s typical: the
    // datasheet review's figure, as the simulated family has it; the 4 s here before was wrong).
    {.id = {0xC8, 0x40, 0x14},
     .name = "GD25Q80",
     .small_erase = 0x20,
     .bulk_ms = 5000,
     .bulk_max_ms = 10000,
     .sector_ms = 250,
     .sector_max_ms = 1200,
     .program_us = 700,
     .program_max_us = 2400,
     .status_write_ms = 5,
     .status_write_max_ms = 30,
     .release_us = 3}, // tRES1 not settled: the W25Q's 3 us until the datasheet is read
    // EN25F80 datasheet (Eon), AC characteristics: tW, tPP, tBE, tCE.
    {.id = {0x1C, 0x31, 0x14},
     .name = "EN25F80",
     .small_erase = 0x20,
     .bulk_ms = 10000,
     .bulk_max_ms = 20000,
     .sector_ms = 800,
     .sector_max_ms = 2000,
     .program_us = 1500,
     .program_max_us = 5000,
     .status_write_ms = 10,
     .status_write_max_ms = 30,
     .release_us = 3}, // tRES1 not settled: the M25P80's 3 us until the datasheet is read
    // The common model at 16 MiB: the bulk erase takes tens of seconds.
    // W25Q128FV datasheet (Winbond), AC electrical characteristics: tW, tPP, tBE2, tCE.
    // Status register 2 as the W25Q80's (W25Q128FV datasheet 7.1; it also takes 0x31, and a
    // one-byte
    // write status leaves register 2 alone, 8.2.5); tRES1 3 us (review's figure, not re-read).
    {.id = {0xEF, 0x40, 0x18},
     .name = "W25Q128",
     .size = 1 << 24,
     .status = &STATUS_W25Q,
     .status2 = &STATUS2_W25Q,
     .small_erase = 0x20,
     .bulk_ms = 40000,
     .bulk_max_ms = 200000,
     .sector_ms = 150,
     .sector_max_ms = 2000,
     .program_us = 700,
     .program_max_us = 3000,
     .status_write_ms = 10,
     .status_write_max_ms = 15,
     .release_us = 3},
    // SST25: 0x02 programs one byte, words by auto-address increment; every block protected at
    // power-up (status 0x1C, BP0-BP2 set: the datasheets' software status register, default at
    // power-up); the third identification byte is a device code, not the size.
    // SST25VF080B datasheet (SST/Microchip), AC operating characteristics: TBP, TSE, TBE, TSCE; the
    // status write has no busy time. Words waited for on the busy line: after 0x70 (EBSY) the chip
    // selected shows RY/BY# on SO during the word sequence, 0x80 (DBSY) ends it (DS25045A 09/11,
    // "Auto Address Increment (AAI) Word-Program" p. 13 and "End-of-Write Detection"). No deep
    // power-down.
    {.id = {0xBF, 0x25, 0x8E},
     .name = "SST25VF080B",
     .program = &PROGRAM_WORDS_BUSY_LINE,
     .protection = &PROTECT_STATUS_EWSR,
     .status = &STATUS_SST25,
     .small_erase = 0x20,
     .bulk_ms = 35,
     .bulk_max_ms = 50,
     .sector_ms = 18,
     .sector_max_ms = 25,
     .program_us = 7,
     .program_max_us = 10,
     .power_up_status = 0x1C},
    // SST25VF040B datasheet (SST/Microchip), AC operating characteristics: TBP, TSE, TBE, TSCE; the
    // status write has no busy time.
    {.id = {0xBF, 0x25, 0x8D},
     .name = "SST25VF040B",
     .size = 1 << 19,
     .program = &PROGRAM_WORDS_BUSY_LINE,
     .protection = &PROTECT_STATUS_EWSR,
     .status = &STATUS_SST25,
     .small_erase = 0x20,
     .bulk_ms = 35,
     .bulk_max_ms = 50,
     .sector_ms = 18,
     .sector_max_ms = 25,
     .program_us = 7,
     .program_max_us = 10,
     .power_up_status = 0x1C},
    // SST25VF016B datasheet (SST/Microchip), AC operating characteristics: TBP, TSE, TBE, TSCE; the
    // status write has no busy time.
    {.id = {0xBF, 0x25, 0x41},
     .name = "SST25VF016B",
     .size = 1 << 21,
     .program = &PROGRAM_WORDS_BUSY_LINE,
     .protection = &PROTECT_STATUS_EWSR,
     .status = &STATUS_SST25,
     .small_erase = 0x20,
     .bulk_ms = 35,
     .bulk_max_ms = 50,
     .sector_ms = 18,
     .sector_max_ms = 25,
     .program_us = 7,
     .program_max_us = 10,
     .power_up_status = 0x1C},
    // SST26: pages as usual; every block locked at power-up in a register of its own, the
    // status reading 0x00; a bulk erase is ignored while any block is locked. The register at
    // power-up: 5555 FFFF FFFF, the write-lock bits of the boundary blocks and every block's
    // lock set (SST26VF016B datasheet, block-protection register, power-up state).
    // SST26VF016B datasheet (Microchip), AC characteristics: TPP, TSE, TBE, TSCE.
    {.id = {0xBF, 0x26, 0x41},
     .name = "SST26VF016B",
     .size = 1 << 21,
     .protection = &PROTECT_GLOBAL_UNLOCK,
     .status = &STATUS_SST26,
     .protection_register = 6,
     .small_erase = 0x20,
     .bulk_ms = 35,
     .bulk_max_ms = 50,
     .sector_ms = 18,
     .sector_max_ms = 25,
     .program_us = 1000,
     .program_max_us = 1500,
     .power_up_locks = {0x55, 0x55, 0xFF, 0xFF, 0xFF, 0xFF}},
    // AT25DF/AT26DF: every sector protected at power-up; identification bytes 2-3 are a family
    // and version code, not the size. A status write with bits 5-2 set protects every sector
    // again, as at power-up (AT25DF081A datasheet, global protect and unprotect).
    // AT25DF081A datasheet (Atmel/Adesto), AC characteristics: tPP, tBLKE, tCHPE; the status write
    // has no busy time.
    {.id = {0x1F, 0x45, 0x01},
     .name = "AT25DF081A",
     .protection = &PROTECT_GLOBAL_UNPROTECT,
     .status = &STATUS_AT25DF,
     .small_erase = 0x20,
     .bulk_ms = 7000,
     .bulk_max_ms = 28000,
     .sector_ms = 400,
     .sector_max_ms = 950,
     .program_us = 1000,
     .program_max_us = 3000,
     .release_us = 30, // tRDPD 30 us (the datasheet review's figure; not re-read)
     .power_up_status = 0x3C},
    // AT26DF161A datasheet (Atmel), AC characteristics: tPP, tBLKE, tCHPE; the status write has no
    // busy time.
    {.id = {0x1F, 0x46, 0x01},
     .name = "AT26DF161A",
     .size = 1 << 21,
     .protection = &PROTECT_GLOBAL_UNPROTECT,
     .status = &STATUS_AT25DF,
     .small_erase = 0x20,
     .bulk_ms = 16000,
     .bulk_max_ms = 28000,
     .sector_ms = 600,
     .sector_max_ms = 1000,
     .program_us = 1500,
     .program_max_us = 5000,
     .release_us = 30, // tRDPD not settled: the AT25DF081A's 30 us
     .power_up_status = 0x3C},
    // M45PE: no bulk erase (0xC7 and 0x60 are ignored) and no block protection; page erase and
    // 64 KiB sector erase.
    // M45PE80 datasheet (Numonyx), AC characteristics: tPP, tSE, tRDP 30 us (the review's figure;
    // not re-read); W protects the bottom sector. Its status has the busy and write-latch bits
    // only (6.4, Read Status Register): the XM25QH80B answers the same 20 40 14 with BP0-BP2, TB,
    // SEC and SRP0 in bits 2-7 (XMC XM25QH80B, status register; not settled), so a status
    // showing any of them is that chip, taken as the common model.
    {.id = {0x20, 0x40, 0x14},
     .name = "M45PE80",
     .protection = &PROTECT_NONE,
     .bulk_erase = 0,
     .page_erase = 0xDB,
     .sector_ms = 1000,
     .sector_max_ms = 5000,
     .program_us = 800,
     .program_max_us = 5000,
     .pin_protects = 64 * 1024,
     .release_us = 30,
     .foreign_status = 0xFC},
    // S25FL008A (Spansion S25FL008A_00 rev. B): 1 MiB in 16 sectors of 64 KiB, BP0-BP2 and SRWD;
    // its identification's third byte (0x13) is not the size's logarithm. Typical times from its
    // family's S25FL004A datasheet (S25FL004A_00 rev. B am. 3, distinctive characteristics:
    // 1.5 ms a page, 0.5 s a sector, 3 s the 4 Mbit part's bulk erase; confirmed). The maxima,
    // the status write and tRES are not settled: the values here stand in for them, as long as the
    // simulated family's.
    {.id = {0x01, 0x02, 0x13},
     .name = "S25FL008A",
     .bulk_ms = 3000,
     .bulk_max_ms = 20000,
     .sector_ms = 500,
     .sector_max_ms = 3000,
     .program_us = 1500,
     .program_max_us = 5000,
     .status_write_ms = 10,
     .status_write_max_ms = 15,
     .release_us = 30},
};

const int flash_chip_count = (int)(sizeof flash_chips / sizeof flash_chips[0]);

// The older generation: no 0x9F, and 0x90 (three address bytes 0) reads the maker and the device.
// SST25VF040 and SST25LF080A datasheets (SST), Read-ID (90H or ABH) (not re-read; the device codes
// as the datasheet review gives them).
const OlderChip older_chips[] = {
    {0xBF, 0x44, "SST25VF040"},
    {0xBF, 0x80, "SST25LF080A"},
};
const int older_chip_count = (int)(sizeof older_chips / sizeof older_chips[0]);

const OlderChip* find_older_chip(int maker, int device) {
    for (int i = 0; i < older_chip_count; i++) {
        if (older_chips[i].maker == maker && older_chips[i].device == device)
            return &older_chips[i];
    }
    return NULL;
}

int longest_release_us() {
    int longest = 0;
    for (int i = 0; i < flash_chip_count; i++) {
        if (flash_chips[i].release_us > longest)
            longest = flash_chips[i].release_us;
    }
    return longest;
}

const FlashChip* find_chip(const unsigned char* id) {
    for (int i = 0; i < flash_chip_count; i++) {
        if (memcmp(flash_chips[i].id, id, 3) == 0)
            return &flash_chips[i];
    }
    return NULL;
}

int status_protects(const FlashChip* chip, int status) {
    const StatusBits* bits = chip != NULL ? chip->status : &STATUS_BP;
    return (status & (bits->protect | bits->lock)) != 0;
}

int status_write_max_ms(const FlashChip* chip) {
    if (chip != NULL)
        return chip->status_write_max_ms;
    int longest = 0;
    for (int i = 0; i < flash_chip_count; i++) {
        if (flash_chips[i].status_write_max_ms > longest)
            longest = flash_chips[i].status_write_max_ms;
    }
    return longest;
}

void common_chip(const unsigned char* id, FlashChip* chip) {
    FlashChip common = {};
    common.name = "the flash";
    common.program = &PROGRAM_PAGES;
    common.protection = &PROTECT_STATUS_WREN;
    common.status = &STATUS_BP;
    common.bulk_erase = 0xC7;
    common.sector_erase = 0xD8;
    for (int i = 0; i < flash_chip_count; i++) {
        const FlashChip* f = &flash_chips[i];
        if (f->bulk_max_ms > common.bulk_max_ms)
            common.bulk_max_ms = f->bulk_max_ms;
        if (f->sector_max_ms > common.sector_max_ms)
            common.sector_max_ms = f->sector_max_ms;
        if (f->program_max_us > common.program_max_us)
            common.program_max_us = f->program_max_us;
    }
    common.status_write_max_ms = status_write_max_ms(NULL);
    memcpy(common.id, id, 3);
    *chip = common;
    chip->size = mc_id_size(id); // 0 for 00 and ff, as for any code outside 25-series sizes
}

int resolve_chip(const unsigned char* id, FlashChip* chip) {
    const FlashChip* row = find_chip(id);
    if (row != NULL) {
        *chip = *row;
        return CHIP_KNOWN;
    }
    common_chip(id, chip);
    const int ones = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
    const int zeros = id[0] == 0x00 && id[1] == 0x00 && id[2] == 0x00;
    if (ones || zeros)
        return CHIP_SILENT;
    return chip->size != 0 ? CHIP_COMMON : CHIP_NO_SIZE;
}
