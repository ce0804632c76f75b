// The chip's own parameter table (JEDEC JESD216 Serial Flash Discoverable Parameters, read with
// 0x5A), built from the family's row and timing table in the standard's layout. Freestanding,
// like model.cpp.
//
// Layout (JESD216, JESD216A, JESD216B): at 0 the header, "SFDP" (0x50444653 little-endian), the
// minor and major revision, the number of parameter headers less one, 0xFF; at 8 the basic
// table's parameter header: ID 0x00, its minor and major revision, its length in DWORDs, its
// address (PTP, three bytes) and ID 0xFF. The basic table, DWORDs little-endian:
//   1: bits 1-0 4 KiB erase (01) or not (11); bit 2 write granularity of 64 bytes or more; bit 3
//      volatile block-protect bits; bit 4 write enable for volatile status bits is 0x06 (1) or
//      0x50 (0); bits 15-8 the 4 KiB erase's instruction; bit 16 1-1-2 read; bits 18-17 address
//      bytes (00: three); bit 19 DTR; bits 20-22 1-2-2, 1-4-4, 1-1-4 reads; the rest 1.
//   2: density: bit 31 clear, the size in bits less one.
//   3-7: the fast reads' wait states and instructions (3-4), 2-2-2 and 4-4-4 (5-7).
//   8-9: erase types 1-4, each a size (2^N bytes, 0: none) and an instruction.
// From JESD216A (1.5) on, 16 DWORDs:
//   10: bits 3-0 erase multiplier (max = 2 (n + 1) typical), then for each erase type 7 bits:
//       count 4-0, unit 6-5 (1 ms, 16 ms, 128 ms, 1 s), typical = (count + 1) unit.
//   11: bits 3-0 program and chip-erase multiplier; 7-4 page size (2^N); 13-8 page program
//       (count 12-8, unit 13: 8 or 64 us); 18-14 first byte (count, unit 18: 1 or 8 us); 23-19
//       each further byte; 30-24 chip erase (count 28-24, unit 30-29: 16 ms, 256 ms, 4 s, 64 s).
//   12-13: suspend and resume (bit 31 of 12 set: not supported).
//   14: bit 31 clear: deep power-down, enter instruction 30-23, exit 22-15, exit delay 14-8
//       (count 12-8, unit 14-13: 128 ns, 1 us, 8 us, 64 us); bit 2: busy in status bit 0.
//   15: bits 22-20 quad-enable requirements (QER).
//   16: bits 6-0 how status register 1 is written (bit 0: non-volatile, after 0x06).
#include "families.h"

namespace simcore {

namespace {

void put32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

uint8_t log2_of(uint32_t v) {
    uint8_t n = 0;
    while (v > 1) {
        v >>= 1;
        ++n;
    }
    return n;
}

// (count + 1) units of the smallest unit that holds `us` in `count_bits` bits, rounded up:
// count | unit index << count_bits. 0 with no time.
uint32_t encode_time(uint32_t us, const uint32_t (&units)[4], int count_bits) {
    const uint32_t most = 1u << count_bits;
    for (uint32_t u = 0; u < 4; ++u) {
        const uint32_t n = (us + units[u] - 1) / units[u];
        if (n <= most || u == 3) {
            const uint32_t count = (n == 0 ? 1 : n > most ? most : n) - 1;
            return count | (u << count_bits);
        }
    }
    return 0;
}
uint32_t encode_two(uint32_t us, uint32_t small, uint32_t large, int count_bits) {
    const uint32_t most = 1u << count_bits;
    const bool big = (us + small - 1) / small > most;
    const uint32_t unit = big ? large : small;
    uint32_t n = (us + unit - 1) / unit;
    n = n == 0 ? 1 : n > most ? most : n;
    return (n - 1) | (big ? 1u << count_bits : 0);
}

// The multiplier n (max = 2 (n + 1) typical) that covers every row's maximum.
uint32_t multiplier(const Model& m, const Operation* ops, int count) {
    uint32_t n = 0;
    for (int i = 0; i < count; ++i) {
        const Timing* t = m.times[ops[i]];
        if (t != nullptr && t->typ_us != 0) {
            const uint32_t ratio = (t->max_us + t->typ_us - 1) / t->typ_us; // rounded up
            const uint32_t need = ratio <= 2 ? 0 : (ratio + 1) / 2 - 1;
            n = need > n ? need : n;
        }
    }
    return n > 15 ? 15 : n;
}

// The byte-program times a JESD216A table gives (DWORD 11), which no row here has: the made-up
// chip's, the only family whose table has them.
const uint32_t kFirstByteUs = 32, kNextByteUs = 1;

uint32_t typ(const Model& m, Operation op) {
    return m.times[op] != nullptr ? m.times[op]->typ_us : 0;
}

} // namespace

void build_sfdp(Model& m) {
    const Family& f = family(m);
    fill(m.sfdp, kSfdpBytes, 0xFF);
    m.has_sfdp = 0;
    if (f.sfdp.major == 0 || m.sfdp_mode == kSfdpNone) {
        return;
    }
    m.has_sfdp = 1;
    const bool later = f.sfdp.minor >= 5; // JESD216A and on: 16 DWORDs
    const uint8_t dwords = later ? 16 : 9;
    const uint8_t header[16] = {
        'S',  'F',          'D',          'P',    f.sfdp.minor,   f.sfdp.major, 0x00, 0xFF,
        0x00, f.sfdp.minor, f.sfdp.major, dwords, f.sfdp.pointer, 0x00,         0x00, 0xFF};
    for (int i = 0; i < 16; ++i) {
        m.sfdp[i] = header[i];
    }
    uint32_t dw[16];
    for (uint32_t& d : dw) {
        d = 0xFFFFFFFF;
    }

    // The erase types, smallest first: size as 2^N and the instruction.
    struct Erase {
        uint16_t has;
        uint8_t log2, instruction;
        Operation op;
    };
    const Erase erases[] = {{kHasErase4k, 12, kCmdErase4k, kOpErase4k},
                            {kHasErase32k, 15, kCmdErase32k, kOpErase32k},
                            {kHasErase64k, 16, kCmdSectorErase, kOpErase64k}};
    uint8_t types[4][2] = {};
    Operation type_ops[4] = {};
    int n = 0;
    for (const Erase& e : erases) {
        if ((f.commands & e.has) != 0) {
            types[n][0] = e.log2;
            types[n][1] = e.instruction;
            type_ops[n++] = e.op;
        }
    }
    const bool has4k = (f.commands & kHasErase4k) != 0;
    uint8_t erase4k = has4k ? kCmdErase4k : 0xFF;
    if (m.sfdp_mode == kSfdpWrongErase && has4k) {
        erase4k = 0xD7; // not the family's 4 KiB erase
        types[0][1] = erase4k;
    }

    dw[0] = 0xFF800000u | static_cast<uint32_t>(f.sfdp.fast_reads & 0x71) << 16 |
            static_cast<uint32_t>(erase4k) << 8 | 0xE0u | (f.sfdp.volatile_enable_06 ? 0x10u : 0) |
            0x04u | (has4k ? 0x01u : 0x03u);
    const uint64_t bits =
        static_cast<uint64_t>(m.size) * 8u * (m.sfdp_mode == kSfdpWrongSize ? 2 : 1);
    dw[1] = static_cast<uint32_t>(bits - 1);
    dw[2] = f.sfdp.dword3_4[0];
    dw[3] = f.sfdp.dword3_4[1];
    dw[4] = 0xFFFFFFEE; // no 2-2-2, no 4-4-4
    dw[7] = static_cast<uint32_t>(types[0][0]) | static_cast<uint32_t>(types[0][1]) << 8 |
            static_cast<uint32_t>(types[1][0]) << 16 | static_cast<uint32_t>(types[1][1]) << 24;
    dw[8] = static_cast<uint32_t>(types[2][0]) | static_cast<uint32_t>(types[2][1]) << 8 |
            static_cast<uint32_t>(types[3][0]) << 16 | static_cast<uint32_t>(types[3][1]) << 24;
    if (types[3][0] == 0) {
        dw[8] |= 0xFF000000u; // no fourth type: size 0, instruction 0xFF
        dw[8] &= 0xFF00FFFFu;
    }

    if (later) {
        static const uint32_t erase_units[4] = {1000, 16000, 128000, 1000000};
        dw[9] = multiplier(m, type_ops, n);
        for (int i = 0; i < n; ++i) {
            dw[9] |= encode_time(typ(m, type_ops[i]), erase_units, 5) << (4 + 7 * i);
        }
        const Operation program_ops[] = {kOpProgram, kOpEraseChip};
        static const uint32_t chip_units[4] = {16000, 256000, 4000000, 64000000};
        const uint32_t page = typ(m, kOpProgram);
        dw[10] = multiplier(m, program_ops, 2) | static_cast<uint32_t>(log2_of(kPageSize)) << 4 |
                 encode_two(page, 8, 64, 5) << 8 | encode_two(kFirstByteUs, 1, 8, 4) << 14 |
                 encode_two(kNextByteUs, 1, 8, 4) << 19 |
                 encode_time(typ(m, kOpEraseChip), chip_units, 5) << 24 | 0x80000000u;
        // dw[11], dw[12]: suspend and resume not supported (all 1s).
        if ((f.commands & kHasDeepPowerDown) != 0) {
            static const uint32_t exit_units_ns[4] = {128, 1000, 8000, 64000};
            const uint32_t ns =
                (m.times[kOpRelease] != nullptr ? m.times[kOpRelease]->max_us : 0) * 1000u;
            dw[13] = static_cast<uint32_t>(kCmdDeepPowerDown) << 23 |
                     static_cast<uint32_t>(kCmdRelease) << 15 |
                     encode_time(ns, exit_units_ns, 5) << 8 | 0x04u | 0x03u;
        } else {
            dw[13] = 0xFFFFFFFF; // bit 31: no deep power-down
        }
        dw[14] = 0xFF000000u | static_cast<uint32_t>(f.sfdp.qer & 7) << 20;
        dw[15] = 0x80u | (f.sfdp.sr1_enable & 0x7F);
    }
    for (int i = 0; i < dwords; ++i) {
        put32(m.sfdp + ((f.sfdp.pointer + 4 * i) % kSfdpBytes), dw[i]);
    }
}

} // namespace simcore
