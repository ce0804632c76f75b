// The families' self-timed operations from their datasheets: one row per family and operation,
// minimum, typical and maximum in microseconds, and where each came from. Included by
// families.cpp alone (the driver build compiles the model's files and nothing else), so the table
// is data in a header; freestanding, like them.
//
// The minimum is 0 unless the datasheet gives one, and none of these datasheets does: their
// tables give typical and maximum times only. A family without a row for an operation is not busy
// after it (no such command, or a status write that takes effect at once).
//
// "confirmed" in a source means the figure was read again, in the maker's datasheet text, when
// the table was written; "not re-read" marks a figure kept from the first reading of the
// datasheet that could not be checked again. The typical times are the simulator's long-standing
// ones unless a source says otherwise.
#pragma once

#include "model.h"

namespace simcore {

// clang-format off
inline constexpr Timing kTimings[] = {
    // The default chip. Its erase and program times are the simulator's long-standing ones, kept
    // as its typical times because the default run polls every 100 ms and must stay access for
    // access what it always was; the datasheet's own typical is beside them (sheet_typ_us).
    {"m25p80", kOpStatusWrite, 0, 5000, 15000, 0,
     "M25P80 datasheet (ST), AC characteristics, tW: 5 ms typ, 15 ms max (as the datasheet review quoted them; not re-read)"},
    {"m25p80", kOpProgram, 0, 1400, 5000, 0,
     "M25P80 datasheet (ST), AC characteristics, tPP: 1.4 ms typ (Micron's rev. I gives 0.64 ms), "
     "5 ms max (max not re-read)"},
    {"m25p80", kOpErase64k, 0, 3000000, 3000000, 600000,
     "M25P80 datasheet (Micron rev. I 06/18), features and AC characteristics, tSE: 0.6 s typ "
     "(confirmed), 3 s max (not re-read); the simulator keeps 3 s"},
    {"m25p80", kOpEraseChip, 0, 3000000, 20000000, 8000000,
     "M25P80 datasheet (Micron rev. I 06/18), features and AC characteristics, tBE: 8 s typ "
     "(confirmed), 20 s max (not re-read); the simulator keeps 3 s"},

    {"w25q80", kOpStatusWrite, 0, 10000, 15000, 0,
     "W25Q80BV datasheet (Winbond), AC electrical characteristics, tW (not re-read)"},
    {"w25q80", kOpProgram, 0, 700, 3000, 0,
     "W25Q80BV datasheet (Winbond), AC electrical characteristics, tPP (not re-read)"},
    {"w25q80", kOpErase4k, 0, 30000, 400000, 0,
     "W25Q80BV datasheet (Winbond), AC electrical characteristics, tSE (not re-read)"},
    {"w25q80", kOpErase32k, 0, 120000, 800000, 0,
     "W25Q80BV datasheet (Winbond), AC electrical characteristics, tBE1 (not re-read)"},
    {"w25q80", kOpErase64k, 0, 150000, 1000000, 0,
     "W25Q80BV datasheet (Winbond), AC electrical characteristics, tBE2 (not re-read)"},
    {"w25q80", kOpEraseChip, 0, 2000000, 6000000, 0,
     "W25Q80BV datasheet (Winbond), AC electrical characteristics, tCE (not re-read)"},

    {"mx25l8005", kOpStatusWrite, 0, 5000, 15000, 0,
     "MX25L8005 datasheet (Macronix), AC characteristics, tW (not re-read)"},
    {"mx25l8005", kOpProgram, 0, 1400, 5000, 0,
     "KH25L8005 datasheet (Macronix, PM1307 rev. 1.1), features: 1.4 ms typ, 5 ms max a page "
     "(confirmed)"},
    {"mx25l8005", kOpErase4k, 0, 60000, 120000, 0,
     "KH25L8005 datasheet (Macronix, PM1307 rev. 1.1), features: 60 ms typ, 120 ms max a 4 KiB "
     "sector (confirmed)"},
    {"mx25l8005", kOpErase64k, 0, 1000000, 2000000, 0,
     "KH25L8005 datasheet (Macronix, PM1307 rev. 1.1), features: 1 s typ, 2 s max a 64 KiB block "
     "(confirmed); the 0.7 s the simulator had (an MX25L8005 figure, never re-read) is gone"},
    {"mx25l8005", kOpEraseChip, 0, 7000000, 20000000, 0,
     "MX25L8005 datasheet (Macronix), AC characteristics, tCE: 7 s typ, 20 s max (neither "
     "re-read: no datasheet text giving the chip erase time was found, so 7 s against 8 s stays "
     "open)"},

    {"gd25q80", kOpStatusWrite, 0, 5000, 30000, 0,
     "GD25Q80B datasheet (GigaDevice), AC characteristics, tW (not re-read)"},
    {"gd25q80", kOpProgram, 0, 700, 2400, 0,
     "GD25Q80B datasheet (GigaDevice), AC characteristics, tPP (not re-read)"},
    {"gd25q80", kOpErase4k, 0, 50000, 200000, 0,
     "GD25Q80B datasheet (GigaDevice), AC characteristics, tSE (not re-read)"},
    {"gd25q80", kOpErase32k, 0, 160000, 800000, 0,
     "GD25Q80B datasheet (GigaDevice), AC characteristics, tBE 32 KiB (not re-read)"},
    {"gd25q80", kOpErase64k, 0, 250000, 1200000, 0,
     "GD25Q80B datasheet (GigaDevice), AC characteristics, tBE 64 KiB (not re-read)"},
    {"gd25q80", kOpEraseChip, 0, 5000000, 10000000, 0,
     "GD25Q80B datasheet (GigaDevice), AC characteristics, tCE (not re-read)"},

    {"en25f80", kOpStatusWrite, 0, 10000, 15000, 0,
     "EN25F80 datasheet (Eon), AC characteristics, tW (not re-read)"},
    {"en25f80", kOpProgram, 0, 1500, 5000, 0,
     "EN25F80 datasheet (Eon), features: page program 1.5 ms typ (the datasheet review's figure; "
     "the same in the features of Eon's EN25F20 rev. B 2007/05/15 and EN25LF20 rev. B, "
     "confirmed); tPP 5 ms max (not re-read)"},
    {"en25f80", kOpErase4k, 0, 150000, 300000, 0,
     "EN25F80 datasheet (Eon), features: sector erase 150 ms typ (review's figure; EN25F20 rev. "
     "B and EN25LF20 rev. B features confirmed); tSE 300 ms max (not re-read)"},
    {"en25f80", kOpErase64k, 0, 800000, 2000000, 0,
     "EN25F80 datasheet (Eon), features: block erase 800 ms typ (review's figure; EN25F20 rev. "
     "B and EN25LF20 rev. B features confirmed); tBE 2 s max (not re-read)"},
    {"en25f80", kOpEraseChip, 0, 8000000, 20000000, 0,
     "EN25F80 datasheet (Eon), AC characteristics, tCE (not re-read)"},

    {"w25q128", kOpStatusWrite, 0, 10000, 15000, 0,
     "W25Q128FV datasheet (Winbond), AC electrical characteristics, tW (not re-read)"},
    {"w25q128", kOpProgram, 0, 700, 3000, 0,
     "W25Q128FV datasheet (Winbond), AC electrical characteristics, tPP (not re-read)"},
    {"w25q128", kOpErase4k, 0, 45000, 400000, 0,
     "W25Q128FV datasheet (Winbond), AC electrical characteristics, tSE (not re-read)"},
    {"w25q128", kOpErase32k, 0, 120000, 1600000, 0,
     "W25Q128FV datasheet (Winbond), AC electrical characteristics, tBE1 (not re-read)"},
    {"w25q128", kOpErase64k, 0, 150000, 2000000, 0,
     "W25Q128FV datasheet (Winbond), AC electrical characteristics, tBE2 (not re-read)"},
    {"w25q128", kOpEraseChip, 0, 40000000, 200000000, 0,
     "W25Q128FV datasheet (Winbond), AC electrical characteristics, tCE (not re-read)"},

    // SST25: the status write has no cycle time in the datasheet (the status is written at once).
    {"sst25vf080b", kOpProgram, 0, 7, 10, 0,
     "SST25VF080B datasheet (Microchip DS20005045C), features: byte program 7 us typ "
     "(confirmed; the simulator had 10 us); AC characteristics TBP 10 us max (not re-read)"},
    {"sst25vf080b", kOpErase4k, 0, 18000, 25000, 0,
     "SST25VF080B datasheet (Microchip DS20005045C), features: 18 ms typ (confirmed); TSE 25 ms "
     "max (not re-read)"},
    {"sst25vf080b", kOpErase32k, 0, 18000, 25000, 0,
     "SST25VF080B datasheet (Microchip DS20005045C), features: 18 ms typ (confirmed); TBE 25 ms "
     "max (not re-read)"},
    {"sst25vf080b", kOpErase64k, 0, 18000, 25000, 0,
     "SST25VF080B datasheet (Microchip DS20005045C), features: 18 ms typ (confirmed); TBE 25 ms "
     "max (not re-read)"},
    {"sst25vf080b", kOpEraseChip, 0, 35000, 50000, 0,
     "SST25VF080B datasheet (Microchip DS20005045C), features: 35 ms typ (confirmed); TSCE 50 ms "
     "max (not re-read)"},
    {"sst25vf040b", kOpProgram, 0, 7, 10, 0,
     "SST25VF040B datasheet (SST), features and AC characteristics TBP: as the 080B's (not "
     "re-read)"},
    {"sst25vf040b", kOpErase4k, 0, 18000, 25000, 0, "SST25VF040B datasheet (SST), TSE (not re-read)"},
    {"sst25vf040b", kOpErase32k, 0, 18000, 25000, 0, "SST25VF040B datasheet (SST), TBE (not re-read)"},
    {"sst25vf040b", kOpErase64k, 0, 18000, 25000, 0, "SST25VF040B datasheet (SST), TBE (not re-read)"},
    {"sst25vf040b", kOpEraseChip, 0, 35000, 50000, 0, "SST25VF040B datasheet (SST), TSCE (not re-read)"},
    {"sst25vf016b", kOpProgram, 0, 7, 10, 0,
     "SST25VF016B datasheet (SST), features and AC characteristics TBP: as the 080B's (not "
     "re-read)"},
    {"sst25vf016b", kOpErase4k, 0, 18000, 25000, 0, "SST25VF016B datasheet (SST), TSE (not re-read)"},
    {"sst25vf016b", kOpErase32k, 0, 18000, 25000, 0, "SST25VF016B datasheet (SST), TBE (not re-read)"},
    {"sst25vf016b", kOpErase64k, 0, 18000, 25000, 0, "SST25VF016B datasheet (SST), TBE (not re-read)"},
    {"sst25vf016b", kOpEraseChip, 0, 35000, 50000, 0, "SST25VF016B datasheet (SST), TSCE (not re-read)"},

    // SST26: its status write reaches the configuration register; no cycle time was found for it.
    {"sst26vf016b", kOpProgram, 0, 1000, 1500, 0,
     "SST26VF016B datasheet (Microchip), AC characteristics, TPP (not re-read)"},
    {"sst26vf016b", kOpErase4k, 0, 18000, 25000, 0,
     "SST26VF016B datasheet (Microchip), AC characteristics, TSE (not re-read)"},
    {"sst26vf016b", kOpErase64k, 0, 18000, 25000, 0,
     "SST26VF016B datasheet (Microchip), AC characteristics, TBE (not re-read)"},
    {"sst26vf016b", kOpEraseChip, 0, 35000, 50000, 0,
     "SST26VF016B datasheet (Microchip), AC characteristics, TSCE (not re-read)"},

    // AT25DF/AT26DF: no status write time was found in their datasheets; the status write is
    // taken as immediate.
    {"at25df081a", kOpProgram, 0, 1000, 3000, 0,
     "AT25DF081A datasheet (Atmel 8715B-SFLSH-8/10), features: 1.0 ms typ (confirmed); tPP max "
     "(not re-read)"},
    {"at25df081a", kOpErase4k, 0, 50000, 200000, 0,
     "AT25DF081A datasheet (Atmel 8715B-SFLSH-8/10), features: 50 ms typ (confirmed); tBLKE max "
     "(not re-read)"},
    {"at25df081a", kOpErase32k, 0, 250000, 600000, 0,
     "AT25DF081A datasheet (Atmel 8715B-SFLSH-8/10), features: 250 ms typ (confirmed); tBLKE max "
     "(not re-read)"},
    {"at25df081a", kOpErase64k, 0, 400000, 950000, 0,
     "AT25DF081A datasheet (Atmel 8715B-SFLSH-8/10), features: 400 ms typ (confirmed); tBLKE max "
     "(not re-read)"},
    {"at25df081a", kOpEraseChip, 0, 6000000, 14000000, 0,
     "AT25DF081A datasheet (Atmel 8715B-SFLSH-8/10), AC characteristics, tCHPE (not re-read)"},
    {"at26df161a", kOpProgram, 0, 1500, 5000, 0,
     "AT26DF161A datasheet (Atmel), AC characteristics, tPP (not re-read)"},
    {"at26df161a", kOpErase4k, 0, 50000, 200000, 0,
     "AT26DF161A datasheet (Atmel), AC characteristics, tBLKE 4 KiB (not re-read)"},
    {"at26df161a", kOpErase32k, 0, 250000, 600000, 0,
     "AT26DF161A datasheet (Atmel), AC characteristics, tBLKE 32 KiB (not re-read)"},
    {"at26df161a", kOpErase64k, 0, 400000, 950000, 0,
     "AT26DF161A datasheet (Atmel), AC characteristics, tBLKE 64 KiB (not re-read)"},
    {"at26df161a", kOpEraseChip, 0, 12000000, 28000000, 0,
     "AT26DF161A datasheet (Atmel), AC characteristics, tCHPE (not re-read)"},

    // M45PE: no status write at all.
    {"m45pe80", kOpProgram, 0, 800, 5000, 0,
     "M45PE80 datasheet (ST), AC characteristics, tPP (not re-read)"},
    {"m45pe80", kOpPageWrite, 0, 11000, 25000, 0,
     "M45PE80 datasheet (ST), AC characteristics, tPW (not re-read)"},
    {"m45pe80", kOpErasePage, 0, 10000, 20000, 0,
     "M45PE80 datasheet (ST), AC characteristics, tPE (not re-read)"},
    {"m45pe80", kOpErase64k, 0, 1000000, 5000000, 0,
     "M45PE80 datasheet (ST), AC characteristics, tSE (not re-read)"},

    // Deep power-down: tRES1, 0xAB to the chip answering again. The datasheets give it as a
    // maximum only; it is the typical time as well (0 at the minimum corner).
    {"m25p80", kOpRelease, 0, 3, 3, 0,
     "M25P80 datasheet (ST/Micron), AC characteristics, tRES1 3 us max (the datasheet review's "
     "figure; not re-read)"},
    {"w25q80", kOpRelease, 0, 3, 3, 0,
     "W25Q80DV datasheet (Winbond), AC electrical characteristics, tRES1 3 us (review's figure; "
     "not re-read)"},
    {"mx25l8005", kOpRelease, 0, 9, 9, 0,
     "MX25L8005 datasheet (Macronix), AC characteristics, tRES1 8.8 us max, rounded up (not "
     "re-read: not settled)"},
    {"gd25q80", kOpRelease, 0, 3, 3, 0,
     "GD25Q80 datasheet (GigaDevice), AC characteristics, tRES1 (not settled: 3 us, as the "
     "W25Q's, taken until the datasheet is read)"},
    {"en25f80", kOpRelease, 0, 3, 3, 0,
     "EN25F80 datasheet (Eon), AC characteristics, tRES1 (not settled: 3 us, as the M25P80's, "
     "taken until the datasheet is read)"},
    {"w25q128", kOpRelease, 0, 3, 3, 0,
     "W25Q128FV datasheet (Winbond), AC electrical characteristics, tRES1 3 us (review's "
     "figure; not re-read)"},
    {"at25df081a", kOpRelease, 0, 30, 30, 0,
     "AT25DF081A datasheet (Atmel), AC characteristics, tRDPD 30 us (review's figure; not "
     "re-read)"},
    {"at26df161a", kOpRelease, 0, 30, 30, 0,
     "AT26DF161A datasheet (Atmel), AC characteristics, tRDPD (not settled: 30 us, the "
     "AT25DF081A's)"},
    {"m45pe80", kOpRelease, 0, 30, 30, 0,
     "M45PE80 datasheet (ST), AC characteristics, tRDP 30 us (review's figure; not re-read)"},

    // XM25QH80B: its datasheet could not be read here; the W25Q80's times stand in (not settled).
    {"xm25qh80b", kOpStatusWrite, 0, 10000, 15000, 0, "XM25QH80B (XMC): not settled, W25Q80's tW"},
    {"xm25qh80b", kOpProgram, 0, 700, 3000, 0, "XM25QH80B (XMC): not settled, W25Q80's tPP"},
    {"xm25qh80b", kOpErase4k, 0, 30000, 400000, 0, "XM25QH80B (XMC): not settled, W25Q80's tSE"},
    {"xm25qh80b", kOpErase32k, 0, 120000, 800000, 0, "XM25QH80B (XMC): not settled, W25Q80's tBE1"},
    {"xm25qh80b", kOpErase64k, 0, 150000, 1000000, 0, "XM25QH80B (XMC): not settled, W25Q80's tBE2"},
    {"xm25qh80b", kOpEraseChip, 0, 2000000, 6000000, 0, "XM25QH80B (XMC): not settled, W25Q80's tCE"},
    {"xm25qh80b", kOpRelease, 0, 3, 3, 0, "XM25QH80B (XMC): not settled, W25Q80's tRES1"},

    // MX25L8006E/8008E: the status write from the maker's simulation model; the rest stands in
    // from the MX25L8005 (not settled) until the 8006E's own datasheet is read.
    {"mx25l8006e", kOpStatusWrite, 0, 40000, 100000, 0,
     "MX25L8006E (Macronix): 100 ms max, the maker's simulation model's tdevice_WRR (the "
     "datasheet review's figure); 40 ms typ (not re-read: not settled)"},
    {"mx25l8006e", kOpProgram, 0, 1400, 5000, 0,
     "MX25L8006E (Macronix): not settled, the KH25L8005's 1.4 ms typ, 5 ms max"},
    {"mx25l8006e", kOpErase4k, 0, 60000, 120000, 0,
     "MX25L8006E (Macronix): not settled, the KH25L8005's 60 ms typ, 120 ms max"},
    {"mx25l8006e", kOpErase64k, 0, 700000, 2000000, 0,
     "MX25L8006E (Macronix): not settled, 0.7 s typ (the figure the simulator had for its ID), "
     "2 s max"},
    {"mx25l8006e", kOpEraseChip, 0, 7000000, 20000000, 0,
     "MX25L8006E (Macronix): not settled, the MX25L8005's 7 s typ, 20 s max"},
    {"mx25l8006e", kOpRelease, 0, 9, 9, 0,
     "MX25L8006E (Macronix): not settled, the MX25L8005's tRES1 8.8 us, rounded up"},

    // S25FL008A: the typical times its family's S25FL004A datasheet (Spansion S25FL004A_00 rev. B
    // amendment 3, distinctive characteristics) gives; every maximum, the status write and tRES
    // are not settled.
    {"s25fl008a", kOpStatusWrite, 0, 10000, 15000, 0, "S25FL008A (Spansion): tW not settled"},
    {"s25fl008a", kOpProgram, 0, 1500, 5000, 0,
     "S25FL008A (Spansion): 1.5 ms typ a page (S25FL004A rev. B am. 3, confirmed); max not "
     "settled"},
    {"s25fl008a", kOpErase64k, 0, 500000, 3000000, 0,
     "S25FL008A (Spansion): 0.5 s typ a sector (S25FL004A rev. B am. 3, confirmed); max not "
     "settled"},
    {"s25fl008a", kOpEraseChip, 0, 3000000, 20000000, 0,
     "S25FL008A (Spansion): 3 s typ bulk erase is the 4 Mbit S25FL004A's (confirmed); the "
     "008A's own, and the max, not settled"},
    {"s25fl008a", kOpRelease, 0, 30, 30, 0, "S25FL008A (Spansion): tRES not settled (30 us)"},

    // The older SST25 parts (features and AC operating characteristics of their datasheets:
    // byte program 14 us typ, 20 us max; sector and block erase 18 ms typ, 25 ms max; chip erase
    // 70 ms typ, 100 ms max; not re-read). No status write time.
    {"sst25vf040", kOpProgram, 0, 14, 20, 0, "SST25VF040 datasheet (SST), TBP (not re-read)"},
    {"sst25vf040", kOpErase4k, 0, 18000, 25000, 0, "SST25VF040 datasheet (SST), TSE (not re-read)"},
    {"sst25vf040", kOpErase32k, 0, 18000, 25000, 0, "SST25VF040 datasheet (SST), TBE (not re-read)"},
    {"sst25vf040", kOpEraseChip, 0, 70000, 100000, 0, "SST25VF040 datasheet (SST), TSCE (not re-read)"},
    {"sst25lf080a", kOpProgram, 0, 14, 20, 0, "SST25LF080A datasheet (SST), TBP (not re-read)"},
    {"sst25lf080a", kOpErase4k, 0, 18000, 25000, 0, "SST25LF080A datasheet (SST), TSE (not re-read)"},
    {"sst25lf080a", kOpErase32k, 0, 18000, 25000, 0, "SST25LF080A datasheet (SST), TBE (not re-read)"},
    {"sst25lf080a", kOpEraseChip, 0, 70000, 100000, 0, "SST25LF080A datasheet (SST), TSCE (not re-read)"},

    // The made-up chip: the times its own parameter table publishes (typical, and the maximum
    // its multipliers give: 8x for erases, 6x for the page and the chip erase); its status write
    // is not in the table.
    {"sfdp-only", kOpStatusWrite, 0, 10000, 15000, 0, "made up; not in its table"},
    {"sfdp-only", kOpProgram, 0, 704, 4224, 0, "its table, DWORD 11"},
    {"sfdp-only", kOpErase4k, 0, 48000, 384000, 0, "its table, DWORD 10"},
    {"sfdp-only", kOpErase32k, 0, 128000, 1024000, 0, "its table, DWORD 10"},
    {"sfdp-only", kOpErase64k, 0, 256000, 2048000, 0, "its table, DWORD 10"},
    {"sfdp-only", kOpEraseChip, 0, 6144000, 36864000, 0, "its table, DWORD 11"},
    {"sfdp-only", kOpRelease, 0, 3, 3, 0, "its table, DWORD 14"},
};
// clang-format on

} // namespace simcore
