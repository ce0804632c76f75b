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
     .status_write_max_ms = 15},
    // W25Q80BV datasheet (Winbond), AC electrical characteristics: tW, tPP, tSE, tBE1, tCE.
    {.id = {0xEF, 0x40, 0x14},
     .name = "W25Q80",
     .small_erase = 0x20,
     .bulk_ms = 2000,
     .bulk_max_ms = 6000,
     .sector_ms = 150,
     .sector_max_ms = 1000,
     .program_us = 700,
     .program_max_us = 3000,
     .status_write_ms = 10,
     .status_write_max_ms = 15},
    // MX25L8005 datasheet (Macronix), AC characteristics: tW, tPP, tBE, tCE.
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
     .status_write_max_ms = 100},
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
     .status_write_max_ms = 30},
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
     .status_write_max_ms = 30},
    // The common model at 16 MiB: the bulk erase takes tens of seconds.
    // W25Q128FV datasheet (Winbond), AC electrical characteristics: tW, tPP, tBE2, tCE.
    {.id = {0xEF, 0x40, 0x18},
     .name = "W25Q128",
     .size = 1 << 24,
     .small_erase = 0x20,
     .bulk_ms = 40000,
     .bulk_max_ms = 200000,
     .sector_ms = 150,
     .sector_max_ms = 2000,
     .program_us = 700,
     .program_max_us = 3000,
     .status_write_ms = 10,
     .status_write_max_ms = 15},
    // SST25: 0x02 programs one byte, words by auto-address increment; every block protected at
    // power-up (status 0x1C, BP0-BP2 set: the datasheets' software status register, default at
    // power-up); the third identification byte is a device code, not the size.
    // SST25VF080B datasheet (SST/Microchip), AC operating characteristics: TBP, TSE, TBE, TSCE; the
    // status write has no busy time.
    {.id = {0xBF, 0x25, 0x8E},
     .name = "SST25VF080B",
     .program = &PROGRAM_WORDS,
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
     .program = &PROGRAM_WORDS,
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
     .program = &PROGRAM_WORDS,
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
     .power_up_status = 0x3C},
    // M45PE: no bulk erase (0xC7 and 0x60 are ignored) and no block protection; page erase and
    // 64 KiB sector erase.
    // M45PE80 datasheet (Numonyx), AC characteristics: tPP, tSE; W protects the bottom sector.
    {.id = {0x20, 0x40, 0x14},
     .name = "M45PE80",
     .protection = &PROTECT_NONE,
     .bulk_erase = 0,
     .page_erase = 0xDB,
     .sector_ms = 1000,
     .sector_max_ms = 5000,
     .program_us = 800,
     .program_max_us = 5000,
     .pin_protects = 64 * 1024},
};

const int flash_chip_count = (int)(sizeof flash_chips / sizeof flash_chips[0]);

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

int resolve_chip(const unsigned char* id, FlashChip* chip) {
    const FlashChip* row = find_chip(id);
    if (row != NULL) {
        *chip = *row;
        return CHIP_KNOWN;
    }
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
    const int ones = id[0] == 0xFF && id[1] == 0xFF && id[2] == 0xFF;
    const int zeros = id[0] == 0x00 && id[1] == 0x00 && id[2] == 0x00;
    if (ones || zeros)
        return CHIP_SILENT;
    return chip->size != 0 ? CHIP_COMMON : CHIP_NO_SIZE;
}
