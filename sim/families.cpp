// The flash families from their datasheets, and the commands each answers. Their status registers
// and protection are in status.cpp, their busy times in timings.h. Freestanding, like model.cpp.
#include "families.h"
#include "timings.h"

namespace simcore {

namespace {

// The parameter tables (SFDP) the datasheets give; the rest of each table comes from the row.
// W25Q80DV datasheet (Winbond), "Serial Flash Discoverable Parameter (SFDP) Register" and its
// table: JESD216 (1.0), the basic table at 0x80, fast reads 1-1-2, 1-2-2, 1-4-4 and 1-1-4, the
// volatile status bits written after 0x50 (not re-read: recalled from the table).
constexpr SfdpFacts kWinbondSfdp = {.minor = 0,
                                    .major = 1,
                                    .pointer = 0x80,
                                    .fast_reads = 0x71,
                                    .dword3_4 = {0x6B08EB44, 0xBB423B08}};
// MX25L8006E datasheet (Macronix), "Read SFDP Mode" and its table: JESD216 (1.0), the basic
// table at 0x30, fast read 1-1-2 only (not re-read). Its Macronix table is not modelled.
constexpr SfdpFacts kMacronixSfdp = {.minor = 0,
                                     .major = 1,
                                     .pointer = 0x30,
                                     .fast_reads = 0x01,
                                     .dword3_4 = {0xFFFFFFFF, 0xFFFF3B08}};
// The made-up chip that only its table describes: JESD216B (1.6), 16 DWORDs, no quad-enable bit
// (QER 000), status register 1 non-volatile and written after 0x06 (DWORD 16: 0000001).
constexpr SfdpFacts kOwnSfdp = {.minor = 6,
                                .major = 1,
                                .pointer = 0x30,
                                .fast_reads = 0x01,
                                .dword3_4 = {0xFFFFFFFF, 0xFFFF3B08},
                                .qer = 0,
                                .sr1_enable = 0x01};

const uint16_t kErases = kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase;

} // namespace

// The families, from their datasheets; their busy times are in timings.h. The first is the chip
// the simulated PC always had.
// clang-format off
const Family kFamilies[] = {
    // The common model: page program, 64 KiB and bulk erase, block-protect bits 2-4 and SRWD.
    // M25P80: deep power-down, and 0xAB's signature 0x13.
    {.name = "m25p80", .jedec_id = 0x202014,
     .writable = 0x9C, .nonvolatile = 0x9C,
     .commands = kHasWriteStatus | kHasErase64k | kHasBulkErase | kHasDeepPowerDown,
     .release = kReleaseSignature, .device_id = 0x13},
    // W25Q80DV: status register 2 (SRP1, QE, LB1-LB3, CMP; SUS read-only), which a one-byte
    // write status clears CMP and QE of; no 0x31. Sources: W25Q80DV datasheet (Winbond),
    // 7.1 status registers and 8.2.9 Write Status Register (not re-read: the one-byte rule as
    // recalled); Winbond's later W25Q64JV rev. J and W25Q257FV datasheets, 8.2.5: "Previous
    // generations will clear CMP and QE bits" (confirmed); the first W25Q-BV text, without
    // CMP: "the QE and SRP1 bits will be cleared to 0" (confirmed). SRP1/SRP0 1/0: power-supply
    // lock-down until the next power-up, 1/1: one-time program; LB1-LB3 one-time (7.1).
    // 0xB9/0xAB with the signature 0x13 and 0x90 EF 13 (8.2 instruction set).
    {.name = "w25q80", .jedec_id = 0xEF4014,
     .writable = 0xFC, .nonvolatile = 0xFC,
     .commands = kHasWriteStatus | kErases | kHasDeepPowerDown | kHasRems,
     .sr2_writable = 0x7B, .sr2_one_byte_clears = kSr2Cmp | kSr2Qe,
     .release = kReleaseSignature, .device_id = 0x13, .sfdp = kWinbondSfdp},
    {.name = "mx25l8005", .jedec_id = 0xC22014,
     .writable = 0x9C, .nonvolatile = 0x9C,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase | kHasDeepPowerDown |
                 kHasRems,
     .release = kReleaseSignature, .device_id = 0x13},
    {.name = "gd25q80", .jedec_id = 0xC84014,
     .writable = 0xFC, .nonvolatile = 0xFC,
     .commands = kHasWriteStatus | kErases | kHasDeepPowerDown | kHasRems,
     .release = kReleaseSignature, .device_id = 0x13},
    {.name = "en25f80", .jedec_id = 0x1C3114,
     .writable = 0x9C, .nonvolatile = 0x9C,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase | kHasDeepPowerDown |
                 kHasRems,
     .release = kReleaseSignature, .device_id = 0x13},
    // 16 MiB. W25Q128FV: status register 2 as the W25Q80DV's, also written alone with 0x31; a
    // one-byte write status leaves it as it is ("the Status Register-2 will not be affected":
    // W25Q128FV datasheet 8.2.5, the same sentence confirmed in Winbond's W25Q64JV rev. J and
    // W25Q257FV datasheets). Signature 0x17, 0x90 EF 17 (8.2.34-8.2.35).
    {.name = "w25q128", .jedec_id = 0xEF4018, .size = 1u << 24,
     .writable = 0xFC, .nonvolatile = 0xFC,
     .commands = kHasWriteStatus | kErases | kHasDeepPowerDown | kHasRems | kHasWriteStatus2,
     .sr2_writable = 0x7B, .sr2_one_byte_clears = 0,
     .release = kReleaseSignature, .device_id = 0x17, .sfdp = kWinbondSfdp},
    // SST25: byte programs and AAI words; BP0-BP3 (bits 2-5, volatile) come up 0111, BPL
    // (bit 7) clear; the 080B and 040B take the status write only right after 0x50. 0x90 and
    // 0xAB read the two IDs (Read-ID, not re-read); 0x70/0x80 switch SO to RY/BY# during AAI
    // programming (SST25VF016B datasheet, "Hardware End-of-Write Detection": "asserting CE#
    // will immediately drive the status ... A '0' indicates the device is busy and a '1'
    // indicates the device is ready ... Deasserting CE# will return the SO pin to tri-state";
    // 80H "return[s] SO pin to output Software Status Register data during AAI Word
    // programming", confirmed as quoted).
    {.name = "sst25vf080b", .jedec_id = 0xBF258E, .power_status = 0x1C,
     .writable = 0xBC, .nonvolatile = 0x00, .protect_bits = 0x3C,
     .protection = kProtectStatusAll, .programming = kProgramByte, .status_enable = kEnableByEwsr,
     .commands = kHasWriteStatus | kErases | kHasRems | kHasBusyOut,
     .release = kReleaseReadId, .device_id = 0x8E},
    {.name = "sst25vf040b", .jedec_id = 0xBF258D, .size = 1u << 19, .power_status = 0x1C,
     .writable = 0xBC, .nonvolatile = 0x00, .protect_bits = 0x3C,
     .protection = kProtectStatusAll, .programming = kProgramByte, .status_enable = kEnableByEwsr,
     .commands = kHasWriteStatus | kErases | kHasRems | kHasBusyOut,
     .release = kReleaseReadId, .device_id = 0x8D},
    {.name = "sst25vf016b", .jedec_id = 0xBF2541, .size = 1u << 21, .power_status = 0x1C,
     .writable = 0xBC, .nonvolatile = 0x00, .protect_bits = 0x3C,
     .protection = kProtectStatusAll, .programming = kProgramByte, .status_enable = kEnableByEither,
     .commands = kHasWriteStatus | kErases | kHasRems | kHasBusyOut,
     .release = kReleaseReadId, .device_id = 0x41},
    // SST26: the status register protects nothing and reads busy in bits 0 and 7; write status
    // reaches the configuration register only; 0xD8 erases the block the address is in.
    {.name = "sst26vf016b", .jedec_id = 0xBF2641, .size = 1u << 21,
     .writable = 0x00, .nonvolatile = 0x00, .protect_bits = 0x00, .busy_bits = 0x81,
     .protection = kProtectBlocks,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase},
    // AT25DF/AT26DF: every sector protected at power-up; status bit 4 shows the WP pin, bit 7 is
    // SPRL, which locks the sector protection. Identification bytes 2-3: family and version.
    // Deep power-down, which 0xAB ends (no signature).
    {.name = "at25df081a", .jedec_id = 0x1F4501, .power_status = 0x0C,
     .writable = 0x80, .nonvolatile = 0x00, .protect_bits = 0x00,
     .protection = kProtectSectors,
     .commands = kHasWriteStatus | kErases | kHasDeepPowerDown, .release = kReleaseOnly},
    {.name = "at26df161a", .jedec_id = 0x1F4601, .size = 1u << 21, .power_status = 0x0C,
     .writable = 0x80, .nonvolatile = 0x00, .protect_bits = 0x00,
     .protection = kProtectSectors,
     .commands = kHasWriteStatus | kErases | kHasDeepPowerDown, .release = kReleaseOnly},
    // M45PE: no bulk erase and no status write; page erase, page write and 64 KiB sector erase.
    // Its write-protect pin, held low, protects the bottom 64 KiB sector (the first 256 pages).
    // Deep power-down, which 0xAB ends (no signature).
    {.name = "m45pe80", .jedec_id = 0x204014,
     .writable = 0x00, .nonvolatile = 0x00, .protect_bits = 0x00,
     .protection = kProtectWpBottom,
     .commands = kHasErase64k | kHasPageErase | kHasPageWrite | kHasDeepPowerDown,
     .release = kReleaseOnly},
    // XM25QH80B: the M45PE80's identification, but the common model with BP0-BP2, TB, SEC and
    // SRP0 in bits 2-7 (its status register 2 is not modelled).
    {.name = "xm25qh80b", .jedec_id = 0x204014,
     .writable = 0xFC, .nonvolatile = 0xFC,
     .commands = kHasWriteStatus | kErases | kHasDeepPowerDown | kHasRems,
     .release = kReleaseSignature, .device_id = 0x13},
    // MX25L8006E: the MX25L8005's identification and commands, and a parameter table.
    {.name = "mx25l8006e", .jedec_id = 0xC22014,
     .writable = 0x9C, .nonvolatile = 0x9C,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase | kHasDeepPowerDown |
                 kHasRems,
     .release = kReleaseSignature, .device_id = 0x13, .sfdp = kMacronixSfdp},
    // S25FL008A (Spansion S25FL008A_00 rev. B): 16 sectors of 64 KiB, BP0-BP2 and SRWD; its
    // identification's third byte is 0x13, not the size's logarithm (20); deep power-down and
    // the RES signature 0x13 (its family's S25FL004A: "RES command one-byte electronic
    // signature", confirmed; the byte not re-read).
    {.name = "s25fl008a", .jedec_id = 0x010213,
     .writable = 0x9C, .nonvolatile = 0x9C,
     .commands = kHasWriteStatus | kHasErase64k | kHasBulkErase | kHasDeepPowerDown,
     .release = kReleaseSignature, .device_id = 0x13},
    // Older SST25 parts: no 0x9F and no 0x0B; 0x90 and 0xAB read the maker (0xBF, jedec_id's
    // first byte) and the device; BP0-BP1 (bits 2-3) come up set, BPL is bit 7; 0x50 opens the
    // status write; 4 KiB (0x20), 32 KiB (0x52) and chip erase; one byte per 0x02. SST25VF040
    // and SST25LF080A datasheets (SST), instruction tables and Read-ID (not re-read; device IDs
    // 0x44 and 0x80 as the datasheet review gives them).
    {.name = "sst25vf040", .jedec_id = 0xBF0044, .size = 1u << 19, .power_status = 0x0C,
     .writable = 0x8C, .nonvolatile = 0x00, .protect_bits = 0x0C,
     .protection = kProtectStatusAll, .programming = kProgramByteOnly,
     .status_enable = kEnableByEwsr,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasBulkErase | kHasRems |
                 kNoJedecId | kNoFastRead,
     .release = kReleaseReadId, .device_id = 0x44},
    {.name = "sst25lf080a", .jedec_id = 0xBF0080, .power_status = 0x0C,
     .writable = 0x8C, .nonvolatile = 0x00, .protect_bits = 0x0C,
     .protection = kProtectStatusAll, .programming = kProgramByteOnly,
     .status_enable = kEnableByEwsr,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasBulkErase | kHasRems |
                 kNoJedecId | kNoFastRead,
     .release = kReleaseReadId, .device_id = 0x80},
    // A 2 MiB chip made up for the tests, whose identification gives no size (0x3C is no JEDEC
    // maker's code) and which only its parameter table describes: the common model with 4, 32
    // and 64 KiB erases and deep power-down.
    {.name = "sfdp-only", .jedec_id = 0x3C2501, .size = 1u << 21,
     .writable = 0x9C, .nonvolatile = 0x9C,
     .commands = kHasWriteStatus | kErases | kHasDeepPowerDown, .release = kReleaseOnly,
     .sfdp = kOwnSfdp},
};
// clang-format on
const int kFamilyCount = static_cast<int>(sizeof kFamilies / sizeof kFamilies[0]);

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names match in either case: M25P80 is the m25p80.
bool same_name(const char* a, const char* b) {
    while (*a != '\0' && lower(*a) == lower(*b)) {
        ++a;
        ++b;
    }
    return lower(*a) == lower(*b);
}

} // namespace

const Family* find_family(const char* name) {
    for (int i = 0; i < kFamilyCount; ++i) {
        if (same_name(kFamilies[i].name, name)) {
            return &kFamilies[i];
        }
    }
    return nullptr;
}

const Timing* family_timing(const Family& f, Operation op) {
    for (const Timing& t : kTimings) {
        if (t.op == op && same_name(t.family, f.name)) {
            return &t;
        }
    }
    return nullptr;
}

uint32_t family_time(const Family& f, Operation op, Corner corner) {
    const Timing* t = family_timing(f, op);
    if (t == nullptr) {
        return 0;
    }
    switch (corner) {
    case kTypical:
        return t->typ_us;
    case kMinimum:
        return t->min_us;
    case kMaximum:
        return t->max_us;
    default:
        return 0;
    }
}

namespace {

bool has(const Model& m, uint16_t command) {
    return (family(m).commands & command) != 0;
}

} // namespace

bool known_command(const Model& m, uint8_t cmd) {
    const Family& f = family(m);
    if (f.programming == kProgramByte && (m.sr & kSrAai) != 0) {
        // Between auto-address-increment words the chip takes only these.
        return cmd == kCmdAaiProgram || cmd == kCmdReadStatus || cmd == kCmdWriteDisable;
    }
    switch (cmd) {
    case kCmdPageProgram:
    case kCmdRead:
    case kCmdWriteDisable:
    case kCmdReadStatus:
    case kCmdWriteEnable:
        return true;
    case kCmdFastRead:
        return !has(m, kNoFastRead);
    case kCmdReadId:
        return !has(m, kNoJedecId);
    case kCmdWriteStatus:
        return has(m, kHasWriteStatus);
    case kCmdWriteStatus2:
        return has(m, kHasWriteStatus2);
    case kCmdReadStatus2:
        return f.sr2_writable != 0;
    case kCmdErase4k:
        return has(m, kHasErase4k);
    case kCmdErase32k:
        return has(m, kHasErase32k);
    case kCmdSectorErase:
        return has(m, kHasErase64k);
    case kCmdBulkErase:
    case kCmdBulkErase2:
        return has(m, kHasBulkErase);
    case kCmdPageErase:
        return has(m, kHasPageErase);
    case kCmdPageWrite:
        return has(m, kHasPageWrite);
    case kCmdEnableWriteStatus:
        return f.status_enable != kEnableByWrite;
    case kCmdAaiProgram:
        return f.programming == kProgramByte;
    case kCmdEnableBusyOut:
    case kCmdDisableBusyOut:
        return has(m, kHasBusyOut);
    case kCmdReadMfrDevice:
        return has(m, kHasRems);
    case kCmdRelease:
        return f.release != kReleaseNone;
    case kCmdDeepPowerDown:
        return has(m, kHasDeepPowerDown);
    case kCmdReadSfdp:
        return m.has_sfdp != 0;
    case kCmdProtectSector:
    case kCmdUnprotectSector:
    case kCmdReadSectorProtection:
        return f.protection == kProtectSectors;
    case kCmdReadBlockProtection:
    case kCmdWriteBlockProtection:
    case kCmdGlobalUnlock:
        return f.protection == kProtectBlocks;
    default:
        return false;
    }
}

} // namespace simcore
