// Deep power-down and the older identification commands: a chip asleep answers only 0xAB and
// then nothing until its tRES1 has passed; 0xAB's signature, 0x90's IDs, the SST25's read-ID.
#include "bitbang.h"
#include "../support/process.h"

#include <gtest/gtest.h>

using simtest::boot;
using simtest::Spi;
using simtest::V;

namespace {

// Port accesses of 10 ns, so that microseconds pass by the access and not all within a frame.
void boot_fast(const char* name, bool asleep = false) {
    boot([&](sim::Settings& s) {
        sim::set_flash(s, name);
        s.status = 0;
        s.access_ns = 10;
        s.asleep = asleep;
    });
}

// Reads the status port until `ns` of virtual time have passed.
void pass(uint64_t ns) {
    const uint64_t until = sim::now_ns() + ns;
    while (sim::now_ns() < until) {
        sim::bus_read(0x379);
    }
}

// Each family with deep power-down: asleep, read status, read and identification find the line
// floating (0xFF); 0xAB releases it, and the chip answers again once tRES1 has passed, not before.
TEST(PowerDown, OnlyReleaseIsAnsweredThenTres1) {
    struct Row {
        const char* name;
        uint32_t tres_us;
    };
    for (const Row& r : {Row{"m25p80", 3}, Row{"w25q80", 3}, Row{"mx25l8005", 9}, Row{"gd25q80", 3},
                         Row{"en25f80", 3}, Row{"w25q128", 3}, Row{"at25df081a", 30},
                         Row{"at26df161a", 30}, Row{"m45pe80", 30}, Row{"xm25qh80b", 3},
                         Row{"mx25l8006e", 9}, Row{"s25fl008a", 30}, Row{"sfdp-only", 3}}) {
        SCOPED_TRACE(r.name);
        boot_fast(r.name);
        sim::set_chip_contents({0x42});
        Spi spi;
        const V id = spi.frame({0x9F, 0, 0, 0});
        const uint8_t status = spi.read_status();
        spi.command(0xB9);
        EXPECT_EQ(spi.read_status(), 0xFF);
        EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), V(4, 0xFF));
        EXPECT_EQ(spi.read(0, 1), V{0xFF});
        spi.write_enable(); // ignored as well
        spi.command(0xAB);
        const uint64_t released = sim::now_ns();
        EXPECT_EQ(spi.read_status(), 0xFF); // still waking
        pass(r.tres_us * 1000u - (sim::now_ns() - released) - 400);
        EXPECT_EQ(spi.read_status(), 0xFF); // its command byte ends just before tRES1
        pass(400);
        EXPECT_EQ(spi.read_status(), status);
        EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), id);
        EXPECT_EQ(spi.read(0, 1), V{0x42});
    }
    // Families without deep power-down do not take 0xB9.
    for (const char* name : {"sst25vf080b", "sst26vf016b"}) {
        boot_fast(name);
        Spi spi;
        spi.command(0xB9);
        EXPECT_NE(spi.frame({0x9F, 0, 0, 0}), V(4, 0xFF)) << name;
    }
}

} // namespace
