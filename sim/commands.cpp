// The chip's commands: what each byte of a frame does as it is clocked in, what the chip shifts
// out, and what the frame does when chip select rises. Freestanding, like model.cpp.
#include "families.h"

namespace simcore {

namespace {

// splitmix64: a fixed sequence for a given seed, so a run at random times can be repeated.
uint64_t next_random(Model& m) {
    uint64_t z = (m.random += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// How long `op` keeps the chip busy: the configured program or erase time where one is set,
// otherwise the family's time at the configured corner.
uint64_t op_time(Model& m, Operation op) {
    const bool program = op == kOpProgram || op == kOpPageWrite;
    const bool own = op == kOpStatusWrite || op == kOpRelease; // neither a program nor an erase
    const uint64_t fixed = own ? kFamilyTime : program ? m.program_ns : m.erase_ns;
    if (fixed != kFamilyTime) {
        return fixed;
    }
    const Timing* t = m.times[op];
    if (t == nullptr) {
        return 0;
    }
    uint64_t us = t->typ_us;
    if (m.corner == kMinimum) {
        us = t->min_us;
    } else if (m.corner == kMaximum) {
        us = t->max_us;
    } else if (m.corner == kRandom) {
        us = t->min_us + next_random(m) % (static_cast<uint64_t>(t->max_us - t->min_us) + 1);
    }
    return us * 1000u;
}

} // namespace

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
    case kCmdReadStatus2:
        return m.sr2;
    case kCmdReadSfdp: // three address bytes and a dummy byte
        return n >= 5 ? m.sfdp[(m.address + (n - 5)) % kSfdpBytes] : 0xFF;
    case kCmdReadMfrDevice:
    case kCmdRelease: {
        // Three address (or dummy) bytes, then the signature repeated, or the maker and the
        // device in turn from the one address bit 0 picks.
        const Family& f = family(m);
        if (n < 4 || (m.cmd == kCmdRelease && f.release == kReleaseOnly)) {
            return 0xFF;
        }
        if (m.cmd == kCmdRelease && f.release == kReleaseSignature) {
            return f.device_id;
        }
        return ((m.address + (n - 4)) & 1) != 0 ? f.device_id : m.id[0];
    }
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

static bool takes_address(const Model& m, uint8_t cmd) {
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
    case kCmdReadSfdp:
    case kCmdReadMfrDevice:
    case kCmdRelease:
        return true;
    case kCmdAaiProgram:
        return (m.sr & kSrAai) == 0; // only the first word's frame has an address
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
        // A station polls with read identification, the chip woken first (release, 0xAB).
        m.beyond_id = static_cast<uint8_t>(m.beyond_id | (b != kCmdReadId && b != kCmdRelease));
        // While busy the chip answers read status only, asleep 0xAB only, and while it wakes
        // nothing; unknown commands void the frame.
        m.frame_ignored =
            (!known_command(m, b) || sleeping(m, b) || (m.busy && b != kCmdReadStatus)) ? 1 : 0;
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
        if (family(m).programming != kProgramPage) {
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
    case kCmdWriteStatus2:
        if (data == 0) {
            m.new_sr = b;
        } else if (data == 1) {
            m.new_sr2 = b;
        }
        break;
    default:
        break;
    }
}

// Writes the first `n` bytes of the latch at `address` (inside one page): stuck bits stay high,
// and a program only clears bits where a page write replaces them.
static void commit(Model& m, uint32_t address, uint32_t n, bool replace) {
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

static void erase(Model& m, uint32_t size, Operation op) {
    uint32_t start = m.address & ~(size - 1) & (m.size - 1);
    if (size == kSectorSize && family(m).protection == kProtectBlocks) {
        const Block b = sst26_block(m, m.address);
        start = b.start;
        size = b.size;
    }
    fill(m.memory + start, m.size < size ? m.size : size, 0xFF);
    start_erase(m, op_time(m, op));
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
    case kCmdWriteStatus2:
        // A self-timed cycle: busy, latch set, only read status answered until it ends.
        if (write_status(m, wel)) {
            start_busy(m, op_time(m, kOpStatusWrite));
        }
        break;
    case kCmdPageProgram:
        if (wel && n >= 5 && !refused(m, protected_at(m, m.address, false))) {
            if (f.programming != kProgramPage) {
                commit(m, m.address, 1, false);
            } else {
                commit(m, m.address & ~(kPageSize - 1), kPageSize, false);
            }
            start_busy(m, op_time(m, kOpProgram));
        }
        break;
    case kCmdPageWrite:
        if (wel && n >= 5 && !refused(m, protected_at(m, m.address, false))) {
            commit(m, m.address & ~(kPageSize - 1), kPageSize, true);
            start_busy(m, op_time(m, kOpPageWrite));
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
        if (m.aai_ends && m.aai_address == m.aai_end) {
            m.sr = static_cast<uint8_t>(m.sr & ~(kSrAai | kSrWel)); // as after write disable
            break;
        }
        m.sr = static_cast<uint8_t>(m.sr | kSrAai);
        commit(m, m.aai_address, 2, false); // an even address: both bytes in one page
        m.aai_address = (m.aai_address + 2) & (m.size - 1);
        start_busy(m, op_time(m, kOpProgram));
        break;
    }
    case kCmdPageErase:
        if (wel && n >= 4 && !refused(m, protected_at(m, m.address, true))) {
            erase(m, kPageSize, kOpErasePage);
        }
        break;
    case kCmdErase4k:
    case kCmdErase32k:
    case kCmdSectorErase:
        // A refused erase leaves the latch set (the AT25DF's drops it; for the M45PE's bottom
        // sector no datasheet text on the latch was found, and it stays set as the others').
        if (wel && n >= 4 && !refused(m, protected_at(m, m.address, true))) {
            if (m.cmd == kCmdErase4k) {
                erase(m, 4 * 1024, kOpErase4k);
            } else if (m.cmd == kCmdErase32k) {
                erase(m, 32 * 1024, kOpErase32k);
            } else {
                erase(m, kSectorSize, kOpErase64k);
            }
        }
        break;
    case kCmdBulkErase:
    case kCmdBulkErase2:
        // Refused while anything is protected (the SST26 ignores it silently, latch and all).
        if (wel && !refused(m, any_protected(m))) {
            fill(m.memory, m.size, 0xFF);
            start_erase(m, op_time(m, kOpEraseChip));
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
    case kCmdDeepPowerDown:
        if (n == 1) {
            m.asleep = 1;
        }
        break;
    case kCmdRelease:
        // Out of deep power-down, the chip answers again once tRES1 has passed; awake, 0xAB
        // reads the signature or IDs and changes nothing.
        if (m.asleep) {
            m.asleep = 0;
            m.awake_at = m.now_ns + op_time(m, kOpRelease);
        }
        break;
    case kCmdEnableBusyOut:
    case kCmdDisableBusyOut:
        m.busy_out = m.cmd == kCmdEnableBusyOut ? 1 : 0;
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

} // namespace simcore
