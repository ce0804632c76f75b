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
uint32_t erase_us(uint32_t field7) {
    static const uint32_t unit[4] = {1000, 16000, 128000, 1000000};
    return ((field7 & 31) + 1) * unit[(field7 >> 5) & 3];
}

// The chip that only its table describes: JESD216B, 16 DWORDs, whose size, erases and times a
// program reads back as the family's own rows; deep power-down and its exit time; no quad-enable
// bit; status register 1 written after 0x06.
TEST(Sfdp, TheMadeUpChipsTableGivesItsOwnFacts) {
    boot_sfdp("sfdp-only");
    Spi spi;
    const V table = sfdp(spi, 0, 256);
    EXPECT_EQ(V(table.begin(), table.begin() + 16),
              (V{'S', 'F', 'D', 'P', 0x06, 0x01, 0x00, 0xFF, 0x00, 0x06, 0x01, 0x10, 0x30, 0x00,
                 0x00, 0xFF}));
    const simcore::Family& f = *simcore::find_family("sfdp-only");
    auto max_us = [&](simcore::Operation op) {
        return simcore::family_time(f, op, simcore::kMaximum);
    };
    auto typ_us = [&](simcore::Operation op) {
        return simcore::family_time(f, op, simcore::kTypical);
    };
    EXPECT_EQ(dword(table, 0x30, 2) + 1, (2u << 20) * 8); // bits
    EXPECT_EQ(dword(table, 0x30, 8), 0x520F200Cu);
    EXPECT_EQ(dword(table, 0x30, 9) & 0xFFFF, 0xD810u);
    const uint32_t dw10 = dword(table, 0x30, 10);
    const uint32_t erase_mult = 2 * ((dw10 & 15) + 1);
    const simcore::Operation erases[] = {simcore::kOpErase4k, simcore::kOpErase32k,
                                         simcore::kOpErase64k};
    for (int i = 0; i < 3; ++i) {
        const uint32_t t = erase_us(dw10 >> (4 + 7 * i));
        EXPECT_EQ(t, typ_us(erases[i])) << i;
        EXPECT_EQ(t * erase_mult, max_us(erases[i])) << i;
    }
    const uint32_t dw11 = dword(table, 0x30, 11);
    const uint32_t program_mult = 2 * ((dw11 & 15) + 1);
    EXPECT_EQ((dw11 >> 4) & 15, 8u); // 256-byte pages
    const uint32_t page = (((dw11 >> 8) & 31) + 1) * ((dw11 >> 13) & 1 ? 64 : 8);
    EXPECT_EQ(page, typ_us(simcore::kOpProgram));
    EXPECT_EQ(page * program_mult, max_us(simcore::kOpProgram));
    static const uint32_t chip_unit_ms[4] = {16, 256, 4000, 64000};
    const uint32_t chip_ms = (((dw11 >> 24) & 31) + 1) * chip_unit_ms[(dw11 >> 29) & 3];
    EXPECT_EQ(chip_ms * 1000, typ_us(simcore::kOpEraseChip));
    EXPECT_EQ(chip_ms * 1000 * program_mult, max_us(simcore::kOpEraseChip));
    const uint32_t dw14 = dword(table, 0x30, 14);
    EXPECT_EQ(dw14 >> 31, 0u); // deep power-down
    EXPECT_EQ((dw14 >> 23) & 0xFF, 0xB9u);
    EXPECT_EQ((dw14 >> 15) & 0xFF, 0xABu);
    static const uint32_t exit_unit_ns[4] = {128, 1000, 8000, 64000};
    const uint32_t exit_ns = (((dw14 >> 8) & 31) + 1) * exit_unit_ns[(dw14 >> 13) & 3];
    EXPECT_GE(exit_ns, max_us(simcore::kOpRelease) * 1000);
    EXPECT_LT(exit_ns, max_us(simcore::kOpRelease) * 1000 + 128);
    EXPECT_EQ((dword(table, 0x30, 15) >> 20) & 7, 0u); // QER: no quad-enable bit
    EXPECT_EQ(dword(table, 0x30, 16) & 0x7F, 0x01u);   // non-volatile, after 0x06
    EXPECT_EQ(table[0x30 + 64], 0xFF);                 // nothing after the sixteenth DWORD
}

// A table that lies, as on a relabelled or cloned part: the density doubled, or a 4 KiB erase
// instruction that is not the family's; the rest as the family's.
TEST(Sfdp, TablesThatLie) {
    boot_sfdp("w25q80", sim::Sfdp::wrong_size);
    Spi spi;
    V table = sfdp(spi, 0, 256);
    EXPECT_EQ(dword(table, 0x80, 2), 0x00FFFFFFu);
    EXPECT_EQ(dword(table, 0x80, 1), 0xFFF120E5u);
    boot_sfdp("w25q80", sim::Sfdp::wrong_erase);
    table = sfdp(spi, 0, 256);
    EXPECT_EQ(dword(table, 0x80, 1), 0xFFF1D7E5u);
    EXPECT_EQ(dword(table, 0x80, 8), 0x520FD70Cu);
    EXPECT_EQ(dword(table, 0x80, 2), 0x007FFFFFu);
    // The chip itself still erases 4 KiB with 0x20 only.
    sim::set_chip_contents(V(0x2000, 0x00));
    spi.write_enable();
    spi.frame({0xD7, 0x00, 0x10, 0x00});
    spi.wait_ready();
    EXPECT_EQ(sim::chip_contents()[0x1000], 0x00);
    spi.frame({0x20, 0x00, 0x10, 0x00}); // the latch is still set: the 0xD7 was ignored
    spi.wait_ready();
    EXPECT_EQ(sim::chip_contents()[0x1000], 0xFF);
}

} // namespace
