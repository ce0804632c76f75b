// The families' self-timed operations from their datasheets: one row per family and operation,
// minimum, typical and maximum in microseconds, and where each came from. Included by
// families.cpp alone (the driver build compiles the model's three files and nothing else), so
// the table is data in a header; freestanding, like them.
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
    {"mx25l8005", kOpErase64k, 0, 700000, 2000000, 0,
     "MX25L8005 datasheet (Macronix), AC characteristics, tBE: 0.7 s typ (not re-read); the "
     "KH25L8005's features give 1 s typ, 2 s max (confirmed), whose 2 s is taken as the max"},
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
    {"en25f80", kOpProgram, 0, 1300, 5000, 0,
     "EN25F80 datasheet (Eon), AC characteristics, tPP (not re-read)"},
    {"en25f80", kOpErase4k, 0, 90000, 300000, 0,
     "EN25F80 datasheet (Eon), AC characteristics, tSE (not re-read)"},
    {"en25f80", kOpErase64k, 0, 500000, 2000000, 0,
     "EN25F80 datasheet (Eon), AC characteristics, tBE (not re-read)"},
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
};
// clang-format on

} // namespace simcore
