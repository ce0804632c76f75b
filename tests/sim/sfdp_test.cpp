// The chip's own parameter table (JESD216 SFDP, 0x5A): the bytes each family publishes, the
// made-up chip's JESD216B times read back against its timing rows, and the tables that lie.
#include "bitbang.h"

#include "sim/model.h"

#include <gtest/gtest.h>

using simtest::boot;
using simtest::Spi;
using simtest::V;

namespace {

void boot_sfdp(const char* name, sim::Sfdp sfdp = sim::Sfdp::family) {
    boot([&](sim::Settings& s) {
        sim::set_flash(s, name);
        s.sfdp = sfdp;
    });
}

// `n` bytes of the table from `address`: 0x5A, three address bytes, a dummy byte, then data.
V sfdp(Spi& spi, uint32_t address, size_t n) {
    const V in = spi.frame(0x5A, address, V(n + 1, 0x00));
    return V(in.begin() + 5, in.end());
}

uint32_t dword(const V& table, size_t pointer, int n) {
    const size_t at = pointer + 4 * static_cast<size_t>(n - 1);
    return uint32_t(table.at(at)) | uint32_t(table.at(at + 1)) << 8 |
           uint32_t(table.at(at + 2)) << 16 | uint32_t(table.at(at + 3)) << 24;
}

// The header, the basic table's parameter header, and the DWORDs that the tool reads, as the
// datasheets' tables give them: W25Q80DV (JESD216, 9 DWORDs at 0x80: 4 KiB erase 0x20, 1-1-2,
// 1-2-2, 1-4-4 and 1-1-4 reads, density 8 Mbit less one, erase types 4/32/64 KiB), W25Q128FV
// (the same at 128 Mbit), MX25L8006E (at 0x30, 1-1-2 only, 4 and 64 KiB).
TEST(Sfdp, EachTableInTheStandardsLayout) {
    struct Row {
        const char* name;
        V header;
        uint8_t pointer;
        uint32_t dw1, dw2, dw8, dw9;
    };
    for (const Row& r : {
             Row{"w25q80",
                 {'S', 'F', 'D', 'P', 0x00, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x01, 0x09, 0x80, 0x00,
                  0x00, 0xFF},
                 0x80,
                 0xFFF120E5,
                 0x007FFFFF,
                 0x520F200C,
                 0xFF00D810},
             Row{"w25q128",
                 {'S', 'F', 'D', 'P', 0x00, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x01, 0x09, 0x80, 0x00,
                  0x00, 0xFF},
                 0x80,
                 0xFFF120E5,
                 0x07FFFFFF,
                 0x520F200C,
                 0xFF00D810},
             Row{"mx25l8006e",
                 {'S', 'F', 'D', 'P', 0x00, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x01, 0x09, 0x30, 0x00,
                  0x00, 0xFF},
                 0x30,
                 0xFF8120E5,
                 0x007FFFFF,
                 0xD810200C,
                 0xFF000000},
         }) {
        SCOPED_TRACE(r.name);
        boot_sfdp(r.name);
        Spi spi;
        const V table = sfdp(spi, 0, 256);
        EXPECT_EQ(V(table.begin(), table.begin() + 16), r.header);
        EXPECT_EQ(dword(table, r.pointer, 1), r.dw1);
        EXPECT_EQ(dword(table, r.pointer, 2), r.dw2);
        EXPECT_EQ(dword(table, r.pointer, 8), r.dw8);
        EXPECT_EQ(dword(table, r.pointer, 9), r.dw9);
        EXPECT_EQ(table[r.pointer + 36], 0xFF); // nothing after the ninth DWORD
        // The address wraps at 256 bytes, as the table's space ends.
        EXPECT_EQ(sfdp(spi, 0x1FE, 4), (V{table[0xFE], table[0xFF], 'S', 'F'}));
    }
    // The families whose datasheets give no table do not answer 0x5A; nor does one set to none.
    for (const char* name : {"m25p80", "mx25l8005", "gd25q80", "sst25vf080b", "m45pe80"}) {
        boot_sfdp(name);
        Spi spi;
        EXPECT_EQ(sfdp(spi, 0, 4), V(4, 0xFF)) << name;
    }
    boot_sfdp("w25q80", sim::Sfdp::none);
    Spi spi;
    EXPECT_EQ(sfdp(spi, 0, 4), V(4, 0xFF));
}

// JESD216A/B times: (count + 1) units, the maximum 2 (multiplier + 1) times the typical.
} // namespace
