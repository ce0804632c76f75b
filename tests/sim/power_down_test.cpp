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

// A chip the board's processor left asleep; one busy with a program ignores 0xB9; 0xAB on an
// awake chip changes nothing; a frame that ends mid-byte does nothing.
TEST(PowerDown, StartsAsleepAndEntersOnlyWhenIdle) {
    boot_fast("w25q80", true);
    Spi spi;
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), V(4, 0xFF));
    spi.command(0xAB);
    pass(3000);
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), (V{0xFF, 0xEF, 0x40, 0x14}));

    boot_fast("m25p80");
    spi.write_enable();
    spi.program(0, {0x00});
    spi.command(0xB9); // busy: ignored
    spi.wait_ready();
    EXPECT_EQ(spi.read_status(), 0x00);
    spi.frame({0xB9, 0x00}); // two bytes: not a deep power-down
    EXPECT_EQ(spi.read_status(), 0x00);
    spi.command(0xAB); // awake: nothing to release
    EXPECT_EQ(spi.read_status(), 0x00);
}

// 0xAB with three dummy bytes: the legacy signature, repeated, asleep or awake, where the
// datasheet gives one (the chip asleep is released by it); 0x90 with an address: maker and
// device, A0 picking which comes first; on an SST25 0xAB is a read-ID as 0x90, which chip select
// ends harmlessly.
TEST(PowerDown, SignatureAndOlderIdentifications) {
    struct Row {
        const char* name;
        V ab;   // 0xAB 00 00 00, two bytes read
        V rems; // 0x90 00 00 00, three bytes read (empty: 0x90 unknown)
    };
    const V none{0xFF, 0xFF};
    for (const Row& r : {
             Row{"m25p80", {0x13, 0x13}, {}},
             Row{"w25q80", {0x13, 0x13}, {0xEF, 0x13, 0xEF}},
             Row{"w25q128", {0x17, 0x17}, {0xEF, 0x17, 0xEF}},
             Row{"mx25l8005", {0x13, 0x13}, {0xC2, 0x13, 0xC2}},
             Row{"gd25q80", {0x13, 0x13}, {0xC8, 0x13, 0xC8}},
             Row{"en25f80", {0x13, 0x13}, {0x1C, 0x13, 0x1C}},
             Row{"xm25qh80b", {0x13, 0x13}, {0x20, 0x13, 0x20}},
             Row{"s25fl008a", {0x13, 0x13}, {}},
             Row{"m45pe80", none, {}},
             Row{"at25df081a", none, {}},
             Row{"sst25vf080b", {0xBF, 0x8E}, {0xBF, 0x8E, 0xBF}},
             Row{"sst25vf040b", {0xBF, 0x8D}, {0xBF, 0x8D, 0xBF}},
             Row{"sst25vf016b", {0xBF, 0x41}, {0xBF, 0x41, 0xBF}},
             Row{"sst25vf040", {0xBF, 0x44}, {0xBF, 0x44, 0xBF}},
             Row{"sst25lf080a", {0xBF, 0x80}, {0xBF, 0x80, 0xBF}},
         }) {
        SCOPED_TRACE(r.name);
        boot_fast(r.name);
        Spi spi;
        const uint8_t status = spi.read_status();
        V in = spi.frame({0xAB, 0, 0, 0, 0, 0});
        EXPECT_EQ(V(in.begin() + 4, in.end()), r.ab);
        in = spi.frame({0x90, 0, 0, 0, 0, 0, 0});
        EXPECT_EQ(V(in.begin() + 4, in.end()), r.rems.empty() ? V(3, 0xFF) : r.rems);
        if (!r.rems.empty()) {
            in = spi.frame({0x90, 0, 0, 1, 0, 0});
            EXPECT_EQ(V(in.begin() + 4, in.end()), (V{r.rems[1], r.rems[0]}));
        }
        spi.command(0xAB); // the bare 0xAB, ended by chip select, leaves the chip as it was
        pass(30000);
        EXPECT_EQ(spi.read_status(), status);
    }
    // Asleep, the signature comes out and the chip wakes.
    boot_fast("w25q128", true);
    Spi spi;
    const V in = spi.frame({0xAB, 0, 0, 0, 0});
    EXPECT_EQ(in.back(), 0x17);
    pass(3000);
    EXPECT_EQ(spi.read_status(), 0x00);
}

class PowerDownFile : public ::testing::Test {
  protected:
    void TearDown() override { boot(); }
    void boot_file(bool cycle, bool given = false, bool asleep = false) {
        boot([&](sim::Settings& s) {
            sim::set_flash(s, "at25df081a");
            s.chip_path = path;
            s.power_cycle = cycle;
            s.asleep_given = given;
            s.asleep = asleep;
        });
    }
    const std::string dir = make_temp_dir();
    const std::string path = dir + "/chip.bin";
};

// Deep power-down stays with a board that stays powered, beside the chip file; powered off and
// on, the chip wakes; the setting, given, decides.
TEST_F(PowerDownFile, AsleepStaysWithThePoweredBoard) {
    Spi spi;
    boot_file(false);
    spi.command(0xB9);
    sim::shutdown();
    EXPECT_EQ(read_file(path + ".status"), "00\nflash at25df081a\nprotect ffff\nasleep 1\n");
    boot_file(false);
    EXPECT_EQ(spi.read_status(), 0xFF);
    boot_file(false, true, false);
    EXPECT_EQ(spi.read_status(), 0x1C);
    boot_file(true);
    EXPECT_EQ(spi.read_status(), 0x1C);
    sim::shutdown();
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"chip.bin"});
}

} // namespace
