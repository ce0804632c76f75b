// The flash families from their datasheets, and the rules that differ between them: the commands
// each answers, its write protection and its status write. Freestanding, like model.cpp.
#include "families.h"
#include "timings.h"

namespace simcore {

// The families, from their datasheets; their busy times are in timings.h. The first is the chip
// the simulated PC always had.
// clang-format off
const Family kFamilies[] = {
    // The common model: page program, 64 KiB and bulk erase, block-protect bits 2-4 and SRWD.
    {.name = "m25p80", .jedec_id = 0x202014,
     .writable = 0x9C, .nonvolatile = 0x9C,
     .commands = kHasWriteStatus | kHasErase64k | kHasBulkErase},
    {.name = "w25q80", .jedec_id = 0xEF4014,
     .writable = 0xFC, .nonvolatile = 0xFC,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase},
    {.name = "mx25l8005", .jedec_id = 0xC22014,
     .writable = 0x9C, .nonvolatile = 0x9C,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase},
    {.name = "gd25q80", .jedec_id = 0xC84014,
     .writable = 0xFC, .nonvolatile = 0xFC,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase},
    {.name = "en25f80", .jedec_id = 0x1C3114,
     .writable = 0x9C, .nonvolatile = 0x9C,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase},
    // 16 MiB.
    {.name = "w25q128", .jedec_id = 0xEF4018, .size = 1u << 24,
     .writable = 0xFC, .nonvolatile = 0xFC,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase},
    // SST25: byte programs and AAI words; BP0-BP3 (bits 2-5, volatile) come up 0111, BPL
    // (bit 7) clear; the 080B and 040B take the status write only right after 0x50.
    {.name = "sst25vf080b", .jedec_id = 0xBF258E, .power_status = 0x1C,
     .writable = 0xBC, .nonvolatile = 0x00, .protect_bits = 0x3C,
     .protection = kProtectStatusAll, .programming = kProgramByte, .status_enable = kEnableByEwsr,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase},
    {.name = "sst25vf040b", .jedec_id = 0xBF258D, .size = 1u << 19, .power_status = 0x1C,
     .writable = 0xBC, .nonvolatile = 0x00, .protect_bits = 0x3C,
     .protection = kProtectStatusAll, .programming = kProgramByte, .status_enable = kEnableByEwsr,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase},
    {.name = "sst25vf016b", .jedec_id = 0xBF2541, .size = 1u << 21, .power_status = 0x1C,
     .writable = 0xBC, .nonvolatile = 0x00, .protect_bits = 0x3C,
     .protection = kProtectStatusAll, .programming = kProgramByte, .status_enable = kEnableByEither,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase},
    // SST26: the status register protects nothing and reads busy in bits 0 and 7; write status
    // reaches the configuration register only; 0xD8 erases the block the address is in.
    {.name = "sst26vf016b", .jedec_id = 0xBF2641, .size = 1u << 21,
     .writable = 0x00, .nonvolatile = 0x00, .protect_bits = 0x00, .busy_bits = 0x81,
     .protection = kProtectBlocks,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase},
    // AT25DF/AT26DF: every sector protected at power-up; status bit 4 shows the WP pin, bit 7 is
    // SPRL, which locks the sector protection. Identification bytes 2-3: family and version.
    {.name = "at25df081a", .jedec_id = 0x1F4501, .power_status = 0x0C,
     .writable = 0x80, .nonvolatile = 0x00, .protect_bits = 0x00,
     .protection = kProtectSectors,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase},
    {.name = "at26df161a", .jedec_id = 0x1F4601, .size = 1u << 21, .power_status = 0x0C,
     .writable = 0x80, .nonvolatile = 0x00, .protect_bits = 0x00,
     .protection = kProtectSectors,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase},
    // M45PE: no bulk erase and no status write; page erase, page write and 64 KiB sector erase.
    // Its write-protect pin, held low, protects the bottom 64 KiB sector (the first 256 pages).
    {.name = "m45pe80", .jedec_id = 0x204014,
     .writable = 0x00, .nonvolatile = 0x00, .protect_bits = 0x00,
     .protection = kProtectWpBottom,
     .commands = kHasErase64k | kHasPageErase | kHasPageWrite},
};
// clang-format on
const int kFamilyCount = static_cast<int>(sizeof kFamilies / sizeof kFamilies[0]);

namespace {

bool same_name(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
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

const uint8_t kAtGlobal = 0x3C; // AT25DF write status bits 5-2: 0000 unprotects all, 1111 protects

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
    case kCmdFastRead:
    case kCmdReadId:
        return true;
    case kCmdWriteStatus:
        return has(m, kHasWriteStatus);
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

// ---- protection ----

uint32_t sector_count(const Model& m) {
    return m.size < kSectorSize ? 1 : m.size / kSectorSize;
}

bool protect_bit(const Model& m, uint32_t n) {
    return (m.protect[n / 8] >> (n % 8)) & 1;
}

void set_protect_bit(Model& m, uint32_t n, bool on) {
    const uint8_t bit = static_cast<uint8_t>(1u << (n % 8));
    m.protect[n / 8] =
        static_cast<uint8_t>(on ? (m.protect[n / 8] | bit) : (m.protect[n / 8] & ~bit));
}

Block sst26_block(const Model& m, uint32_t address) {
    const uint32_t k8 = 8 * 1024, k32 = 32 * 1024, k64 = 64 * 1024;
    const uint32_t n64 = m.size / k64 - 2;
    if (address < k32) {
        return Block{address & ~(k8 - 1), k8, n64 + 2 + 2 * (address / k8)};
    }
    if (address >= m.size - k32) {
        const uint32_t i = (address - (m.size - k32)) / k8;
        return Block{m.size - k32 + i * k8, k8, n64 + 2 + 8 + 2 * i};
    }
    if (address < k64) {
        return Block{k32, k32, n64};
    }
    if (address >= m.size - k64) {
        return Block{m.size - k64, k32, n64 + 1};
    }
    return Block{address & ~(k64 - 1), k64, address / k64 - 1};
}

bool protected_at(const Model& m, uint32_t address, bool erase) {
    const Family& f = family(m);
    switch (f.protection) {
    case kProtectStatus:
        return erase && (m.sr & f.protect_bits) != 0;
    case kProtectStatusAll:
        return (m.sr & f.protect_bits) != 0;
    case kProtectSectors:
        return protect_bit(m, address / kSectorSize);
    case kProtectBlocks:
        return protect_bit(m, sst26_block(m, address).lock_bit);
    case kProtectWpBottom:
        return m.wp_low && address < kSectorSize;
    default:
        return false;
    }
}

bool any_protected(const Model& m) {
    const uint32_t step = family(m).protection == kProtectBlocks ? 8 * 1024 : kSectorSize;
    for (uint32_t a = 0; a < m.size; a += step) {
        if (protected_at(m, a, true)) {
            return true;
        }
    }
    return false;
}

uint32_t model_protect_bits(const Model& m) {
    switch (family(m).protection) {
    case kProtectSectors:
        return sector_count(m);
    case kProtectBlocks:
        return m.size / kSectorSize - 2 + 2 + 16; // 64 KiB blocks, two of 32 KiB, 8 of 8 KiB
    default:
        return 0;
    }
}

bool refused(Model& m, bool refuse) {
    if (refuse && family(m).protection == kProtectSectors) {
        m.sr = static_cast<uint8_t>(m.sr & ~kSrWel);
    }
    return refuse;
}

bool write_status(Model& m, bool wel) {
    const Family& f = family(m);
    const bool enabled = f.status_enable == kEnableByWrite  ? wel
                         : f.status_enable == kEnableByEwsr ? m.ewsr != 0
                                                            : wel || m.ewsr != 0;
    // A locked status register (SRWD, BPL or SPRL with the write-protect pin low) ignores it.
    if (!enabled || m.nbytes < 2 || ((m.sr & kSrSrwd) != 0 && m.wp_low)) {
        return false;
    }
    // AT25DF: bits 5-2 all clear unprotect every sector, all set protect every sector, but only
    // while SPRL is clear: a write that finds SPRL set (the WP pin high, or it would not get this
    // far) changes SPRL alone, and a second write is needed for the sectors.
    if (f.protection == kProtectSectors && (m.sr & kSrSrwd) == 0) {
        const uint8_t global = m.new_sr & kAtGlobal;
        if (global == 0 || global == kAtGlobal) {
            for (uint32_t n = 0; n < sector_count(m); ++n) {
                set_protect_bit(m, n, global != 0);
            }
        }
    }
    // The latch stays set through the write cycle; it clears when the cycle ends.
    m.sr = static_cast<uint8_t>((m.sr & ~f.writable) | (m.new_sr & f.writable) | kSrWel);
    m.ewsr = 0;
    return true;
}

} // namespace simcore
