// The chip's status registers and its write protection: what protects an address, and what a
// write status (0x01, 0x31) changes. Freestanding, like model.cpp.
#include "families.h"

namespace simcore {

namespace {

const uint8_t kAtGlobal = 0x3C; // AT25DF write status bits 5-2: 0000 unprotects all, 1111 protects

// CMP set: BP0-BP2 all clear protect the whole array, all set none (the complement of the
// protection they give with CMP clear), anything between a part of it.
enum Cover { kNone, kPart, kWhole };

Cover status_cover(const Model& m) {
    const Family& f = family(m);
    const uint8_t bp = m.sr & f.protect_bits;
    if ((f.sr2_writable & kSr2Cmp) == 0 || (m.sr2 & kSr2Cmp) == 0) {
        return bp == 0 ? kNone : kPart;
    }
    return bp == 0 ? kWhole : bp == f.protect_bits ? kNone : kPart;
}

} // namespace

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
    case kProtectStatus: {
        // Part of the array protected refuses every erase (a simplification of the ranges);
        // the whole array, with CMP, refuses programs as well.
        const Cover cover = status_cover(m);
        return cover == kWhole || (erase && cover == kPart);
    }
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

bool status_locked(const Model& m) {
    // SRWD (SRP0, BPL, SPRL) with the write-protect pin low; SRP1 set: the power-supply
    // lock-down (SRP0 clear) until the chip is powered off, or for good (SRP0 set).
    const bool srp1 = (family(m).sr2_writable & kSr2Srp1) != 0 && (m.sr2 & kSr2Srp1) != 0;
    return ((m.sr & kSrSrwd) != 0 && m.wp_low) || srp1;
}

void model_power_cycle_status2(Model& m) {
    if ((m.sr2 & kSr2Srp1) != 0 && (m.sr & kSrSrwd) == 0) {
        m.sr2 = static_cast<uint8_t>(m.sr2 & ~kSr2Srp1); // the lock-down ends with the power
    }
}

namespace {

// Status register 2 as a write leaves it: the writable bits as given, the lock bits (one-time
// programmable) never cleared.
void store_status2(Model& m, uint8_t value) {
    const uint8_t writable = family(m).sr2_writable;
    const uint8_t otp = m.sr2 & kSr2Lb;
    m.sr2 = static_cast<uint8_t>((m.sr2 & ~writable) | (value & writable) | otp);
}

bool enabled(const Model& m, bool wel) {
    const Family& f = family(m);
    return f.status_enable == kEnableByWrite  ? wel
           : f.status_enable == kEnableByEwsr ? m.ewsr != 0
                                              : wel || m.ewsr != 0;
}

} // namespace

bool write_status(Model& m, bool wel) {
    const Family& f = family(m);
    if (!enabled(m, wel) || m.nbytes < 2 || status_locked(m)) {
        return false;
    }
    if (m.cmd == kCmdWriteStatus2) {
        store_status2(m, m.new_sr);
        m.sr = static_cast<uint8_t>(m.sr | kSrWel);
        return true;
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
    // Status register 2: the second byte, or a one-byte write clears what the generation's
    // datasheet says it clears.
    if (f.sr2_writable != 0) {
        if (m.nbytes >= 3) {
            store_status2(m, m.new_sr2);
        } else {
            m.sr2 = static_cast<uint8_t>(m.sr2 & ~f.sr2_one_byte_clears);
        }
    }
    // The latch stays set through the write cycle; it clears when the cycle ends.
    m.sr = static_cast<uint8_t>((m.sr & ~f.writable) | (m.new_sr & f.writable) | kSrWel);
    m.ewsr = 0;
    return true;
}

} // namespace simcore
