// The adapter and the 25-series chip. See model.h for the rules this file keeps (freestanding).
#include "model.h"

namespace simcore {

// The families, from their datasheets. The first is the chip the simulated PC always had: its
// busy times (3 s for either erase, 1.4 ms a page) are the simulator's long-standing ones. Times
// not given are those of commands the family does not have.
// clang-format off
const Family kFamilies[] = {
    // The common model: page program, 64 KiB and bulk erase, block-protect bits 2-4 and SRWD.
    {.name = "m25p80", .jedec_id = 0x202014, .size = 1u << 20, .power_status = 0x00,
     .writable = 0x9C, .nonvolatile = 0x9C, .protect_bits = kSrBp, .busy_bits = kSrBusy,
     .protection = kProtectStatus, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasWriteStatus | kHasErase64k | kHasBulkErase,
     .program_us = 1400, .erase_64k_us = 3000000, .erase_chip_us = 3000000},
    {.name = "w25q80", .jedec_id = 0xEF4014, .size = 1u << 20, .power_status = 0x00,
     .writable = 0xFC, .nonvolatile = 0xFC, .protect_bits = kSrBp, .busy_bits = kSrBusy,
     .protection = kProtectStatus, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase,
     .program_us = 700, .erase_4k_us = 30000, .erase_32k_us = 120000, .erase_64k_us = 150000,
     .erase_chip_us = 2000000},
    {.name = "mx25l8005", .jedec_id = 0xC22014, .size = 1u << 20, .power_status = 0x00,
     .writable = 0x9C, .nonvolatile = 0x9C, .protect_bits = kSrBp, .busy_bits = kSrBusy,
     .protection = kProtectStatus, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase,
     .program_us = 1400, .erase_4k_us = 60000, .erase_64k_us = 700000, .erase_chip_us = 7000000},
    {.name = "gd25q80", .jedec_id = 0xC84014, .size = 1u << 20, .power_status = 0x00,
     .writable = 0xFC, .nonvolatile = 0xFC, .protect_bits = kSrBp, .busy_bits = kSrBusy,
     .protection = kProtectStatus, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase,
     .program_us = 700, .erase_4k_us = 50000, .erase_32k_us = 160000, .erase_64k_us = 250000,
     .erase_chip_us = 5000000},
    {.name = "en25f80", .jedec_id = 0x1C3114, .size = 1u << 20, .power_status = 0x00,
     .writable = 0x9C, .nonvolatile = 0x9C, .protect_bits = kSrBp, .busy_bits = kSrBusy,
     .protection = kProtectStatus, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase,
     .program_us = 1300, .erase_4k_us = 90000, .erase_64k_us = 500000, .erase_chip_us = 8000000},
    // 16 MiB: the bulk erase takes 40 s (200 s at most).
    {.name = "w25q128", .jedec_id = 0xEF4018, .size = 1u << 24, .power_status = 0x00,
     .writable = 0xFC, .nonvolatile = 0xFC, .protect_bits = kSrBp, .busy_bits = kSrBusy,
     .protection = kProtectStatus, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase,
     .program_us = 700, .erase_4k_us = 45000, .erase_32k_us = 120000, .erase_64k_us = 150000,
     .erase_chip_us = 40000000},
    // SST25: byte programs and AAI words; BP0-BP3 (bits 2-5, volatile) come up 0111, BPL
    // (bit 7) clear; the 080B and 040B take the status write only right after 0x50.
    {.name = "sst25vf080b", .jedec_id = 0xBF258E, .size = 1u << 20, .power_status = 0x1C,
     .writable = 0xBC, .nonvolatile = 0x00, .protect_bits = 0x3C, .busy_bits = kSrBusy,
     .protection = kProtectStatusAll, .programming = kProgramByte, .status_enable = kEnableByEwsr,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase,
     .program_us = 10, .erase_4k_us = 18000, .erase_32k_us = 18000, .erase_64k_us = 18000,
     .erase_chip_us = 35000},
    {.name = "sst25vf040b", .jedec_id = 0xBF258D, .size = 1u << 19, .power_status = 0x1C,
     .writable = 0xBC, .nonvolatile = 0x00, .protect_bits = 0x3C, .busy_bits = kSrBusy,
     .protection = kProtectStatusAll, .programming = kProgramByte, .status_enable = kEnableByEwsr,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase,
     .program_us = 10, .erase_4k_us = 18000, .erase_32k_us = 18000, .erase_64k_us = 18000,
     .erase_chip_us = 35000},
    {.name = "sst25vf016b", .jedec_id = 0xBF2541, .size = 1u << 21, .power_status = 0x1C,
     .writable = 0xBC, .nonvolatile = 0x00, .protect_bits = 0x3C, .busy_bits = kSrBusy,
     .protection = kProtectStatusAll, .programming = kProgramByte, .status_enable = kEnableByEither,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase,
     .program_us = 10, .erase_4k_us = 18000, .erase_32k_us = 18000, .erase_64k_us = 18000,
     .erase_chip_us = 35000},
    // SST26: the status register protects nothing and reads busy in bits 0 and 7; write status
    // reaches the configuration register only; 0xD8 erases the block the address is in.
    {.name = "sst26vf016b", .jedec_id = 0xBF2641, .size = 1u << 21, .power_status = 0x00,
     .writable = 0x00, .nonvolatile = 0x00, .protect_bits = 0x00, .busy_bits = 0x81,
     .protection = kProtectBlocks, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase64k | kHasBulkErase,
     .program_us = 1000, .erase_4k_us = 18000, .erase_64k_us = 18000, .erase_chip_us = 35000},
    // AT25DF/AT26DF: every sector protected at power-up; status bit 4 shows the WP pin, bit 7 is
    // SPRL, which locks the sector protection. Identification bytes 2-3: family and version.
    {.name = "at25df081a", .jedec_id = 0x1F4501, .size = 1u << 20, .power_status = 0x0C,
     .writable = 0x80, .nonvolatile = 0x00, .protect_bits = 0x00, .busy_bits = kSrBusy,
     .protection = kProtectSectors, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase,
     .program_us = 1000, .erase_4k_us = 50000, .erase_32k_us = 250000, .erase_64k_us = 400000,
     .erase_chip_us = 6000000},
    {.name = "at26df161a", .jedec_id = 0x1F4601, .size = 1u << 21, .power_status = 0x0C,
     .writable = 0x80, .nonvolatile = 0x00, .protect_bits = 0x00, .busy_bits = kSrBusy,
     .protection = kProtectSectors, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasWriteStatus | kHasErase4k | kHasErase32k | kHasErase64k | kHasBulkErase,
     .program_us = 1500, .erase_4k_us = 50000, .erase_32k_us = 250000, .erase_64k_us = 400000,
     .erase_chip_us = 12000000},
    // M45PE: no bulk erase and no status write; page erase, page write and 64 KiB sector erase.
    {.name = "m45pe80", .jedec_id = 0x204014, .size = 1u << 20, .power_status = 0x00,
     .writable = 0x00, .nonvolatile = 0x00, .protect_bits = 0x00, .busy_bits = kSrBusy,
     .protection = kProtectNone, .programming = kProgramPage, .status_enable = kEnableByWrite,
     .commands = kHasErase64k | kHasPageErase | kHasPageWrite,
     .program_us = 800, .page_write_us = 11000, .erase_page_us = 10000,
     .erase_64k_us = 1000000},
};
// clang-format on
const int kFamilyCount = static_cast<int>(sizeof kFamilies / sizeof kFamilies[0]);

const Family* find_family(const char* name) {
    for (int i = 0; i < kFamilyCount; ++i) {
        const char* a = kFamilies[i].name;
        const char* b = name;
        while (*a != '\0' && *a == *b) {
            ++a;
            ++b;
        }
        if (*a == *b) {
            return &kFamilies[i];
        }
    }
    return nullptr;
}

namespace {

const uint8_t kNoCommand = 0x00; // not a command this chip knows, so a frame with it does nothing
const uint8_t kAtSwp = 0x0C;     // AT25DF status bits 2-3: 00 no sector protected, 11 all, 01 some
const uint8_t kAtWpp = 0x10;     // AT25DF status bit 4: the WP pin is high
const uint8_t kAtGlobal = 0x3C;  // AT25DF write status bits 5-2: 0000 unprotects all, 1111 protects

uint8_t log2_of(uint32_t size) {
    uint8_t n = 0;
    while (size > 1) {
        size >>= 1;
        ++n;
    }
    return n;
}

const Family& family(const Model& m) {
    return m.family != nullptr ? *m.family : kFamilies[0];
}

bool has(const Model& m, uint16_t command) {
    return (family(m).commands & command) != 0;
}

void update_status_port(Model& m) {
    uint8_t level;
    if (m.miso_mode == kMisoHigh) {
        level = 1;
    } else if (m.miso_mode == kMisoLow) {
        level = 0;
    } else {
        level = m.held ? 1 : m.miso; // output is high impedance while held
    }
    m.status_port = static_cast<uint8_t>(kStatusIdle | (level ? kStatusMiso : 0));
}

void set_miso(Model& m, uint8_t level) {
    m.miso = level;
    update_status_port(m);
}

// Ends a program or erase once its time has passed; the write latch clears with it, except
// between the words of an auto-address-increment program.
void settle(Model& m) {
    if (m.busy && !m.stuck_busy && m.now_ns >= m.busy_until) {
        m.busy = 0;
        if ((m.sr & kSrAai) == 0) {
            m.sr = static_cast<uint8_t>(m.sr & ~kSrWel);
        }
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

// The SST26's blocks: 8 KiB in the lowest and highest 32 KiB, a 32 KiB block next to each of
// those, 64 KiB blocks between. Register bits: one per 64 KiB block from the bottom, then the
// lower and the upper 32 KiB block, then a write-lock (even) and read-lock (odd) bit per 8 KiB
// block from the bottom.
struct Block {
    uint32_t start, size, lock_bit;
};

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

// Whether a program or erase at `address` is refused by the protection.
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

uint8_t status_now(Model& m) {
    settle(m);
    const Family& f = family(m);
    uint8_t sr = m.sr;
    if (f.protection == kProtectSectors) {
        // Bits 2-3 sum the sectors' protection up; bit 4 is the WP pin.
        bool all = true, some = false;
        for (uint32_t n = 0; n < sector_count(m); ++n) {
            all = all && protect_bit(m, n);
            some = some || protect_bit(m, n);
        }
        sr = static_cast<uint8_t>((sr & ~(kAtSwp | kAtWpp)) |
                                  (all    ? kAtSwp
                                   : some ? 0x04
                                          : 0) |
                                  (m.wp_low ? 0 : kAtWpp));
    }
    return static_cast<uint8_t>(sr | (m.busy ? f.busy_bits : 0));
}

void start_busy(Model& m, uint64_t ns) {
    m.busy = 1;
    m.busy_until = m.now_ns + ns;
    settle(m); // a zero busy time completes at once
}

// An erase begins: a chip that gives way under its current stops answering.
void start_erase(Model& m, uint64_t ns) {
    if (m.miso_mode == kMisoLost) {
        m.miso_mode = kMisoHigh;
        update_status_port(m);
    }
    start_busy(m, ns);
}

uint64_t program_time(const Model& m, uint32_t us) {
    return m.program_ns != kFamilyTime ? m.program_ns : static_cast<uint64_t>(us) * 1000u;
}

uint64_t erase_time(const Model& m, uint32_t us) {
    return m.erase_ns != kFamilyTime ? m.erase_ns : static_cast<uint64_t>(us) * 1000u;
}

void fill(uint8_t* p, uint32_t n, uint8_t value) {
    for (uint32_t i = 0; i < n; ++i) {
        p[i] = value;
    }
}

// Bytes the chip shifts out during byte `n` of the frame (n whole bytes already clocked in).
uint8_t next_output(Model& m) {
    const uint32_t n = m.nbytes;
    if (m.frame_ignored || n == 0) {
        return 0xFF;
    }
    switch (m.cmd) {
    case kCmdReadStatus:
        return status_now(m);
    case kCmdRead:
        if (n >= 4) {
            return m.memory[(m.address + (n - 4)) & (m.size - 1)];
        }
        return 0xFF;
    case kCmdFastRead:
        if (n >= 5) {
            return m.memory[(m.address + (n - 5)) & (m.size - 1)];
        }
        return 0xFF;
    case kCmdReadId:
        if (n <= 3) {
            return m.id[n - 1];
        }
        return 0xFF;
    case kCmdReadSectorProtection:
        if (n >= 4) {
            return protect_bit(m, m.address / kSectorSize) ? 0xFF : 0x00;
        }
        return 0xFF;
    case kCmdReadBlockProtection: {
        // Most significant byte first.
        const uint32_t bytes = (model_protect_bits(m) + 7) / 8;
        return n <= bytes ? m.protect[bytes - n] : 0xFF;
    }
    default:
        return 0xFF;
    }
}

bool takes_address(const Model& m, uint8_t cmd) {
    switch (cmd) {
    case kCmdRead:
    case kCmdFastRead:
    case kCmdPageProgram:
    case kCmdPageWrite:
    case kCmdSectorErase:
    case kCmdErase4k:
    case kCmdErase32k:
    case kCmdPageErase:
    case kCmdProtectSector:
    case kCmdUnprotectSector:
    case kCmdReadSectorProtection:
        return true;
    case kCmdAaiProgram:
        return (m.sr & kSrAai) == 0; // only the first word's frame has an address
    default:
        return false;
    }
}

bool known_command(const Model& m, uint8_t cmd) {
    const Family& f = family(m);
    if ((m.sr & kSrAai) != 0) {
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

// A whole byte has been clocked in; m.nbytes is its index in the frame.
void byte_in(Model& m, uint8_t b) {
    const uint32_t n = m.nbytes;
    if (n == 0) {
        settle(m);
        m.cmd = b;
        m.address = 0;
        // While busy the chip answers read status only; unknown commands void the frame.
        m.frame_ignored = (!known_command(m, b) || (m.busy && b != kCmdReadStatus)) ? 1 : 0;
        if (b != kCmdWriteStatus) {
            m.ewsr = 0; // enable-write-status lets through only the frame right after it
        }
        if (!m.frame_ignored && (b == kCmdPageProgram || b == kCmdAaiProgram)) {
            fill(m.page, kPageSize, 0xFF);
        }
        return;
    }
    if (m.frame_ignored) {
        return;
    }
    if (takes_address(m, m.cmd) && n <= 3) {
        m.address = ((m.address << 8) | b) & (m.size - 1);
        if (n == 3 && m.cmd == kCmdPageWrite) {
            // A page write starts from the page as it is: bytes not sent keep their value.
            const uint8_t* p = m.memory + (m.address & ~(kPageSize - 1));
            for (uint32_t i = 0; i < kPageSize; ++i) {
                m.page[i] = p[i];
            }
        }
        return;
    }
    const uint32_t data = takes_address(m, m.cmd) ? n - 4 : n - 1; // index among the data bytes
    switch (m.cmd) {
    case kCmdPageProgram:
    case kCmdPageWrite:
        if (family(m).programming == kProgramByte) {
            if (data == 0) {
                m.page[0] = b; // a byte program: the bytes after the first are ignored
            }
        } else {
            // The address wraps inside its page: later bytes overwrite earlier ones in the latch.
            m.page[(m.address + data) & (kPageSize - 1)] = b;
        }
        break;
    case kCmdAaiProgram:
    case kCmdWriteBlockProtection:
        if (data < kProtectBytes) {
            m.page[data] = b;
        }
        break;
    case kCmdWriteStatus:
        if (data == 0) {
            m.new_sr = b;
        }
        break;
    default:
        break;
    }
}

// Writes the first `n` bytes of the latch at `address` (inside one page): stuck bits stay high,
// and a program only clears bits where a page write replaces them.
void commit(Model& m, uint32_t address, uint32_t n, bool replace) {
    for (int k = 0; k < m.stuck_count; ++k) {
        const uint32_t i = m.stuck[k].address - address;
        if (i < n) {
            m.page[i] = static_cast<uint8_t>(m.page[i] | m.stuck[k].mask);
        }
    }
    uint8_t* p = m.memory + address;
    for (uint32_t i = 0; i < n; ++i) {
        p[i] = replace ? m.page[i] : static_cast<uint8_t>(p[i] & m.page[i]);
    }
}

void erase(Model& m, uint32_t size, uint32_t us) {
    uint32_t start = m.address & ~(size - 1) & (m.size - 1);
    if (size == kSectorSize && family(m).protection == kProtectBlocks) {
        const Block b = sst26_block(m, m.address);
        start = b.start;
        size = b.size;
    }
    fill(m.memory + start, m.size < size ? m.size : size, 0xFF);
    start_erase(m, erase_time(m, us));
}

// A program or erase the protection refuses: the AT25DF drops its latch, the others keep it.
bool refused(Model& m, bool refuse) {
    if (refuse && family(m).protection == kProtectSectors) {
        m.sr = static_cast<uint8_t>(m.sr & ~kSrWel);
    }
    return refuse;
}

void write_status(Model& m, bool wel) {
    const Family& f = family(m);
    const bool enabled = f.status_enable == kEnableByWrite  ? wel
                         : f.status_enable == kEnableByEwsr ? m.ewsr != 0
                                                            : wel || m.ewsr != 0;
    // A locked status register (SRWD, BPL or SPRL with the write-protect pin low) ignores it.
    if (!enabled || m.nbytes < 2 || ((m.sr & kSrSrwd) != 0 && m.wp_low)) {
        return;
    }
    if (f.protection == kProtectSectors) {
        const uint8_t global = m.new_sr & kAtGlobal;
        if (global == 0 || global == kAtGlobal) {
            for (uint32_t n = 0; n < sector_count(m); ++n) {
                set_protect_bit(m, n, global != 0);
            }
        }
    }
    m.sr = static_cast<uint8_t>((m.sr & ~(f.writable | kSrWel)) | (m.new_sr & f.writable));
    m.ewsr = 0;
}

// Chip select rose: the commands that act at the end of a frame do so now, but only when a
// whole number of bytes was clocked in.
void frame_end(Model& m) {
    if (m.frame_ignored || m.bits != 0 || m.nbytes == 0) {
        return;
    }
    settle(m);
    const Family& f = family(m);
    const bool wel = (m.sr & kSrWel) != 0;
    const uint32_t n = m.nbytes;
    switch (m.cmd) {
    case kCmdWriteEnable:
        m.sr = static_cast<uint8_t>(m.sr | kSrWel);
        break;
    case kCmdWriteDisable:
        m.sr = static_cast<uint8_t>(m.sr & ~(kSrWel | kSrAai)); // it also ends AAI programming
        break;
    case kCmdEnableWriteStatus:
        m.ewsr = 1;
        break;
    case kCmdWriteStatus:
        write_status(m, wel);
        break;
    case kCmdPageProgram:
        if (wel && n >= 5 && !refused(m, protected_at(m, m.address, false))) {
            if (f.programming == kProgramByte) {
                commit(m, m.address, 1, false);
            } else {
                commit(m, m.address & ~(kPageSize - 1), kPageSize, false);
            }
            start_busy(m, program_time(m, f.program_us));
        }
        break;
    case kCmdPageWrite:
        if (wel && n >= 5) {
            commit(m, m.address & ~(kPageSize - 1), kPageSize, true);
            start_busy(m, program_time(m, f.page_write_us));
        }
        break;
    case kCmdAaiProgram: {
        // The first word's frame: command, address, two bytes; then command and two bytes.
        const bool first = (m.sr & kSrAai) == 0;
        if (n < (first ? 6u : 3u) || (first && !wel)) {
            break;
        }
        if (first) {
            m.aai_address = m.address & ~1u;
        }
        if (refused(m, protected_at(m, m.aai_address, false))) {
            break;
        }
        m.sr = static_cast<uint8_t>(m.sr | kSrAai);
        commit(m, m.aai_address, 2, false); // an even address: both bytes in one page
        m.aai_address = (m.aai_address + 2) & (m.size - 1);
        start_busy(m, program_time(m, f.program_us));
        break;
    }
    case kCmdPageErase:
        if (wel && n >= 4) {
            erase(m, kPageSize, f.erase_page_us);
        }
        break;
    case kCmdErase4k:
    case kCmdErase32k:
    case kCmdSectorErase:
        // A refused erase leaves the latch set (the AT25DF's drops it).
        if (wel && n >= 4 && !refused(m, protected_at(m, m.address, true))) {
            if (m.cmd == kCmdErase4k) {
                erase(m, 4 * 1024, f.erase_4k_us);
            } else if (m.cmd == kCmdErase32k) {
                erase(m, 32 * 1024, f.erase_32k_us);
            } else {
                erase(m, kSectorSize, f.erase_64k_us);
            }
        }
        break;
    case kCmdBulkErase:
    case kCmdBulkErase2:
        // Refused while anything is protected (the SST26 ignores it silently, latch and all).
        if (wel && !refused(m, any_protected(m))) {
            fill(m.memory, m.size, 0xFF);
            start_erase(m, erase_time(m, f.erase_chip_us));
        }
        break;
    case kCmdProtectSector:
    case kCmdUnprotectSector:
        // Refused while SPRL locks the sector protection.
        if (wel && n >= 4 && (m.sr & kSrSrwd) == 0) {
            set_protect_bit(m, m.address / kSectorSize, m.cmd == kCmdProtectSector);
        }
        m.sr = static_cast<uint8_t>(m.sr & ~kSrWel);
        break;
    case kCmdGlobalUnlock:
        if (wel) {
            fill(m.protect, kProtectBytes, 0);
            m.sr = static_cast<uint8_t>(m.sr & ~kSrWel);
        }
        break;
    case kCmdWriteBlockProtection: {
        const uint32_t bytes = (model_protect_bits(m) + 7) / 8;
        if (wel && n >= 1 + bytes) {
            for (uint32_t i = 0; i < bytes; ++i) {
                m.protect[bytes - 1 - i] = m.page[i]; // most significant byte first
            }
            m.sr = static_cast<uint8_t>(m.sr & ~kSrWel);
        }
        break;
    }
    default:
        break;
    }
}

void rising_edge(Model& m, uint8_t mosi) {
    m.shift_in = static_cast<uint8_t>((m.shift_in << 1) | mosi);
    if (++m.bits == 8) {
        m.bits = 0;
        byte_in(m, m.shift_in);
        ++m.nbytes;
    }
}

// Mode 0: the output changes after the falling edge, ready for the next rising edge.
void falling_edge(Model& m) {
    if (m.bits == 0) {
        m.out = next_output(m);
    }
    set_miso(m, static_cast<uint8_t>((m.out >> (7 - m.bits)) & 1));
}

// Chip select fell: nothing of the frame is clocked in yet.
void start_frame(Model& m) {
    m.cmd = kNoCommand;
    m.frame_ignored = 0;
    m.bits = 0;
    m.nbytes = 0;
    m.address = 0;
    m.out = 0xFF;
}

} // namespace

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

bool model_init(Model& m) {
    if (m.memory == nullptr || m.size == 0 || (m.size & (m.size - 1)) != 0 || m.size < kPageSize ||
        m.base == 0 || (family(m).protection == kProtectBlocks && m.size < 2 * kSectorSize)) {
        return false;
    }
    const Family& f = family(m);
    m.now_ns = 0;
    m.accesses = 0;
    m.data = 0;
    m.control = 0;
    m.ecr = kEcrPowerUp;
    m.held = 1; // the data register is 0 at power-up, so the always-high line is low
    m.sck = 0;
    m.selected = 0; // the chip has seen no select yet
    m.miso = 1;
    m.sr = static_cast<uint8_t>(m.power_status & ~kSrBusy);
    m.stuck_busy = (m.power_status & kSrBusy) ? 1 : 0;
    m.busy = m.stuck_busy;
    m.busy_until = 0;
    const uint32_t id = m.jedec_id != 0 ? m.jedec_id : f.jedec_id;
    m.id[0] = static_cast<uint8_t>(id >> 16);
    m.id[1] = static_cast<uint8_t>(id >> 8);
    m.id[2] = static_cast<uint8_t>(id);
    if (m.jedec_id == 0 && (f.jedec_id & 0xFF) == log2_of(f.size)) {
        m.id[2] = log2_of(m.size); // the capacity byte follows the size
    }
    // The protection register's power-up state: the AT25DF's sectors as status bits 2-3 say,
    // the SST26's write-lock bits set (its read-lock bits clear).
    fill(m.protect, kProtectBytes, 0);
    const uint32_t bits = model_protect_bits(m);
    for (uint32_t n = 0; n < bits; ++n) {
        const bool read_lock = f.protection == kProtectBlocks && n >= bits - 16 && (n & 1) != 0;
        const bool on = f.protection == kProtectBlocks ? !read_lock : (m.sr & kAtSwp) != 0;
        set_protect_bit(m, n, on);
    }
    if (f.protection == kProtectSectors) {
        m.sr = static_cast<uint8_t>(m.sr & ~(kAtSwp | kAtWpp)); // read from the sectors and the pin
    }
    m.ewsr = 0;
    m.aai_address = 0;
    m.shift_in = 0;
    m.new_sr = 0;
    start_frame(m);
    m.frame_ignored = 1; // until the chip sees a select
    update_status_port(m);
    return true;
}

bool model_add_stuck(Model& m, uint32_t address, uint8_t mask) {
    if (m.stuck_count >= kMaxStuck || address >= m.size) {
        return false;
    }
    m.stuck[m.stuck_count].address = address;
    m.stuck[m.stuck_count].mask = mask;
    ++m.stuck_count;
    return true;
}

void model_advance(Model& m, uint64_t ns) {
    m.now_ns += ns;
}

uint8_t model_chip_status(Model& m) {
    return status_now(m);
}

void model_data_write(Model& m, uint8_t value) {
    m.data = value;

    // While the always-high line is low the chip sees nothing of the bus.
    if ((value & kLineHold) == 0) {
        if (!m.held) {
            m.held = 1;
            update_status_port(m);
        }
        return;
    }
    const uint8_t sck = (value & kLineSck) ? 1 : 0;
    bool clock_seen = true;
    if (m.held) {
        // Back from hold: SCK is taken as it is, with no edge; chip select is compared with
        // what the chip last saw, so a select made while held starts a frame now.
        m.held = 0;
        m.sck = sck;
        clock_seen = false;
        update_status_port(m);
    }

    const uint8_t cs_low = (value & kLineCs) ? 0 : 1;
    if (cs_low != m.selected) {
        m.selected = cs_low;
        if (cs_low) {
            settle(m);
            start_frame(m);
        } else {
            frame_end(m);
        }
        set_miso(m, 1);
    }

    if (!clock_seen || sck == m.sck) {
        return;
    }
    m.sck = sck;
    if (!m.selected) {
        return;
    }
    if (sck) {
        rising_edge(m, (value & kLineMosi) ? 1 : 0);
    } else {
        falling_edge(m);
    }
}

} // namespace simcore
