// The 25-series chip behind the adapter, driven bit by bit through the simulated bus.
#include "bitbang.h"

#include <gtest/gtest.h>

#include <set>

using simtest::boot;
using simtest::kData;
using simtest::kStatus;
using simtest::V;

namespace {

const uint32_t kSize = 1u << 20;

V operator+(V a, const V& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Chip : public ::testing::Test {
  protected:
    void SetUp() override { boot(); }

    static uint8_t at(uint32_t address) { return sim::chip_contents().at(address); }
    static V bytes(uint32_t address, size_t n) {
        const V chip = sim::chip_contents();
        return V(chip.begin() + address, chip.begin() + static_cast<long>(address + n));
    }
    // Write enable, page program, wait until done.
    void program(uint32_t address, const V& data) {
        spi.write_enable();
        spi.program(address, data);
        spi.wait_ready();
    }

    simtest::Spi spi;
};

TEST_F(Chip, IdentifiesWithCapacityFromItsSize) {
    for (auto [size, capacity] : {std::pair{kSize, 0x14}, std::pair{2 * kSize, 0x15}}) {
        boot([size = size](sim::Settings& s) { s.chip_size = size; });
        EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), (V{0xFF, 0x20, 0x20, uint8_t(capacity)})) << size;
    }
}

TEST_F(Chip, ProgramThenReadBackWithReadAndFastRead) {
    const V data{0x12, 0x34, 0x56, 0x78, 0x9A};
    program(0x012345, data);
    EXPECT_EQ(spi.read(0x012345, 5), data);
    EXPECT_EQ(spi.read(0x012345, 5, 0x0B), data); // fast read skips its dummy byte
    V expected(kSize, 0xFF);                      // erased at power-up apart from the data
    std::copy(data.begin(), data.end(), expected.begin() + 0x012345);
    EXPECT_EQ(sim::chip_contents(), expected);
}

TEST_F(Chip, ProgrammingOnlyClearsBits) {
    program(0x100, {0xF0, 0x0F});
    program(0x100, {0x3C, 0xFF});
    EXPECT_EQ(bytes(0x100, 2), (V{0x30, 0x0F}));
}

TEST_F(Chip, ProgramAddressWrapsInsideItsPage) {
    program(0x0010FE, {0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(bytes(0x10FE, 2), (V{0x01, 0x02}));
    EXPECT_EQ(bytes(0x1000, 2), (V{0x03, 0x04}));
    EXPECT_EQ(at(0x1100), 0xFF);

    // More than a page: the later bytes replace the earlier ones in the page latch.
    V data(258);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    data[256] = 0xA5;
    data[257] = 0x5A;
    program(0x2000, data);
    EXPECT_EQ(bytes(0x2000, 3), (V{0xA5, 0x5A, 0x02}));
    EXPECT_EQ(at(0x2100), 0xFF);
}

TEST_F(Chip, WriteLatchIsRequiredAndClearsWhenTheWorkEnds) {
    sim::set_chip_contents({0x55});
    // Program, write status, both bulk erases, sector erase: refused without the latch, and
    // write disable takes the latch back.
    for (const V& frame :
         {V{0x02, 0, 0, 0, 0x00}, V{0x01, 0x1C}, V{0xC7}, V{0x60}, V{0xD8, 0, 0, 0}}) {
        SCOPED_TRACE(int(frame[0]));
        spi.frame(frame);
        EXPECT_EQ(spi.read_status(), 0x00);
        spi.write_enable();
        spi.command(0x04);
        spi.frame(frame);
        EXPECT_EQ(spi.read_status(), 0x00);
        EXPECT_EQ(at(0), 0x55);
    }

    spi.write_enable();
    spi.program(0x0, {0x00});
    EXPECT_EQ(spi.read_status(), 0x03); // busy, latch still set
    spi.wait_ready();
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(at(0), 0x00);
    spi.program(0x1, {0x00}); // the latch went with the finished program
    EXPECT_EQ(at(1), 0xFF);
}

TEST_F(Chip, EraseSetsItsRangeUnlessBlockProtectRefusesIt) {
    spi.write_enable();
    spi.frame({0x01, 0xFF});
    spi.wait_ready();
    EXPECT_EQ(spi.read_status(), 0x9C); // write status sets only the protect bits and SRWD
    spi.write_enable();
    spi.command(0xC7);
    EXPECT_EQ(spi.read_status(), 0x9E); // and they protect
    struct Case {
        V frame;
        uint32_t first, end;
    };
    for (int bp : {0x00, 0x04, 0x08, 0x10, 0x1C}) {
        boot([bp](sim::Settings& s) { s.status = uint8_t(bp); });
        for (const Case& c : {Case{{0xD8, 0x01, 0xAB, 0xCD}, 0x10000, 0x20000},
                              Case{{0xC7}, 0, kSize}, Case{{0x60}, 0, kSize}}) {
            SCOPED_TRACE(testing::Message() << bp << " " << int(c.frame[0]));
            sim::set_chip_contents(V(kSize, 0x00));
            spi.write_enable();
            spi.frame(c.frame);
            // Busy with the latch set, or refused with the latch kept.
            EXPECT_EQ(spi.read_status(), bp == 0 ? 0x03 : bp | 0x02);
            spi.wait_ready();
            V expected(kSize, 0x00);
            if (bp == 0) {
                std::fill(expected.begin() + c.first, expected.begin() + c.end, 0xFF);
            }
            EXPECT_EQ(sim::chip_contents(), expected);
        }
    }
}

TEST_F(Chip, WhileBusyOnlyReadStatusIsAnswered) {
    sim::set_chip_contents({0x11, 0x22});
    spi.write_enable();
    spi.program(0x10, {0x00}); // 1400 us by default
    const uint64_t programmed = sim::now_ns();
    ASSERT_EQ(spi.read_status(), 0x03);
    EXPECT_EQ(spi.read(0, 2), (V{0xFF, 0xFF}));
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), V(4, 0xFF));
    spi.command(0x04); // write disable ignored
    EXPECT_EQ(spi.read_status(), 0x03);
    spi.program(0x20, {0x00}); // ignored

    // Port accesses alone advance the clock (1 us each): poll until the 1400 us are up.
    for (int polls = 0; (spi.read_status() & 1) != 0 && polls < 1000; ++polls) {
    }
    EXPECT_GE(sim::now_ns() - programmed, 1400u * 1000u);
    EXPECT_LE(sim::now_ns() - programmed, 1400u * 1000u + 66u * 1000u); // within one more poll
    EXPECT_EQ(at(0x10), 0x00);
    EXPECT_EQ(at(0x20), 0xFF);
    EXPECT_EQ(spi.read(0, 2), (V{0x11, 0x22}));
}

TEST_F(Chip, BusyEndsWhenPausesReachTheEraseTime) {
    spi.write_enable();
    spi.command(0xC7); // 3000 ms by default
    _sleep(2990);
    EXPECT_EQ(spi.read_status() & 1, 1);
    _sleep(10);
    EXPECT_EQ(spi.read_status(), 0x00);
}

TEST_F(Chip, OutputBitIsValidBeforeEachRisingEdge) {
    const uint8_t st = 0x9E; // 1001 1110: both levels, every kind of transition
    boot([st](sim::Settings& s) { s.status = st; });
    auto miso = [] { return (sim::bus_read(kStatus) >> 6) & 1; };
    spi.select();
    spi.byte(0x05);
    for (int k = 0; k < 8; ++k) {
        SCOPED_TRACE(k);
        const int bit = (st >> (7 - k)) & 1;
        sim::bus_write(kData, 0x01); // data set, clock low
        EXPECT_EQ(miso(), bit) << "before the rising edge";
        sim::bus_write(kData, 0x09); // rising edge: the bit stays until the falling edge
        EXPECT_EQ(miso(), bit) << "after the rising edge";
        sim::bus_write(kData, 0x01); // falling edge: the next bit appears (the stream repeats)
        EXPECT_EQ(miso(), (st >> ((14 - k) % 8)) & 1) << "after the falling edge";
    }
    spi.release();
    EXPECT_EQ(sim::bus_read(kStatus), 0xFF); // released: the line floats high
}

TEST_F(Chip, FrameEndingMidByteDoesNothing) {
    // Seven bits of write enable; then a program whose data byte lacks its last bit.
    auto cut_short = [this](const V& bytes) {
        spi.select();
        for (size_t i = 0; i + 1 < bytes.size() * 8; ++i) {
            spi.bit((bytes[i / 8] >> (7 - i % 8)) & 1);
        }
        spi.release();
    };
    cut_short({0x06});
    EXPECT_EQ(spi.read_status(), 0x00);
    spi.write_enable();
    cut_short({0x02, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(spi.read_status(), 0x02); // nothing started, the latch is still set
    EXPECT_EQ(at(0), 0xFF);
    spi.frame(0x02, 0); // a program with an address but no data byte does nothing either
    EXPECT_EQ(spi.read_status(), 0x02);
}

TEST_F(Chip, HoldLineLowHidesTheBus) {
    spi.keep = 0x00;
    spi.write_enable();
    spi.program(0, {0x00});
    EXPECT_EQ(spi.read_status(), 0xFF); // the output floats
    spi.keep = 0x01;
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(at(0), 0xFF);
}

TEST_F(Chip, StuckBitsStayHighUntilErased) {
    boot([](sim::Settings& s) { s.stuck = {{0x100, 0x81}, {0x1FF, 0x10}, {0x300, 0x01}}; });
    program(0x100, V(256, 0x00));
    EXPECT_EQ(bytes(0x100, 2), (V{0x81, 0x00}));
    EXPECT_EQ(at(0x1FF), 0x10);
    EXPECT_EQ(at(0x300), 0xFF); // other page, not programmed
    EXPECT_EQ(spi.read(0x100, 1), V{0x81});
    spi.write_enable();
    spi.frame(0xD8, 0);
    spi.wait_ready();
    EXPECT_EQ(at(0x100), 0xFF);
}

TEST_F(Chip, AddressesWrapAtTheChipSize) {
    sim::set_chip_contents({0xA0, 0xA1});
    EXPECT_EQ(spi.read(0x100001, 1), V{0xA1});
    EXPECT_EQ(spi.read(kSize - 1, 3), (V{0xFF, 0xA0, 0xA1}));
    program(0xF00020, {0x00});
    EXPECT_EQ(at(0x20), 0x00);
}

TEST_F(Chip, UnknownCommandVoidsTheFrame) {
    spi.write_enable();
    EXPECT_EQ(spi.frame({0xE7, 0x02, 0x00, 0x00, 0x00, 0x00}), V(6, 0xFF));
    EXPECT_EQ(spi.read_status(), 0x02);
    EXPECT_EQ(sim::chip_contents(), V(kSize, 0xFF));
}

TEST_F(Chip, PowerUpBusyBitMeansBusyForEver) {
    boot([](sim::Settings& s) { s.status = 0x01; });
    _sleep(100000);
    spi.write_enable();
    EXPECT_EQ(spi.read_status(), 0x01);
}

// ---- flash families -------------------------------------------------------------------------

class Family : public Chip {
  protected:
    void boot_flash(const std::string& name, bool wp_low = false) {
        boot([&](sim::Settings& s) {
            ASSERT_TRUE(sim::set_flash(s, name)) << name;
            s.wp_low = wp_low;
        });
    }
    // Each family's own way to lift its power-up protection.
    void unprotect(const std::string& name) {
        if (name.rfind("sst25", 0) == 0) {
            spi.command(0x50);
            spi.frame({0x01, 0x00});
        } else if (name == "sst26vf016b") {
            spi.write_enable();
            spi.command(0x98);
        } else if (name.rfind("at2", 0) == 0) {
            spi.write_enable();
            spi.frame({0x01, 0x00});
        }
    }
    V block_protection() {
        const V in = spi.frame({0x72, 0, 0, 0, 0, 0, 0, 0});
        return V(in.begin() + 1, in.end());
    }
};

TEST_F(Family, IdentificationSizeAndPowerUpStatus) {
    struct Row {
        const char* name;
        V id;
        uint32_t size;
        uint8_t status;
    };
    for (const Row& r : {Row{"m25p80", {0x20, 0x20, 0x14}, 1u << 20, 0x00},
                         Row{"w25q80", {0xEF, 0x40, 0x14}, 1u << 20, 0x00},
                         Row{"mx25l8005", {0xC2, 0x20, 0x14}, 1u << 20, 0x00},
                         Row{"gd25q80", {0xC8, 0x40, 0x14}, 1u << 20, 0x00},
                         Row{"en25f80", {0x1C, 0x31, 0x14}, 1u << 20, 0x00},
                         Row{"w25q128", {0xEF, 0x40, 0x18}, 1u << 24, 0x00},
                         Row{"sst25vf080b", {0xBF, 0x25, 0x8E}, 1u << 20, 0x1C},
                         Row{"sst25vf040b", {0xBF, 0x25, 0x8D}, 1u << 19, 0x1C},
                         Row{"sst25vf016b", {0xBF, 0x25, 0x41}, 1u << 21, 0x1C},
                         Row{"sst26vf016b", {0xBF, 0x26, 0x41}, 1u << 21, 0x00},
                         Row{"at25df081a", {0x1F, 0x45, 0x01}, 1u << 20, 0x1C}, // bit 4: WP high
                         Row{"at26df161a", {0x1F, 0x46, 0x01}, 1u << 21, 0x1C},
                         Row{"m45pe80", {0x20, 0x40, 0x14}, 1u << 20, 0x00},
                         Row{"xm25qh80b", {0x20, 0x40, 0x14}, 1u << 20, 0x00},
                         Row{"mx25l8006e", {0xC2, 0x20, 0x14}, 1u << 20, 0x00},
                         Row{"s25fl008a", {0x01, 0x02, 0x13}, 1u << 20, 0x00},
                         // Older than JEDEC's read-ID: 0x9F finds the line floating.
                         Row{"sst25vf040", {0xFF, 0xFF, 0xFF}, 1u << 19, 0x0C},
                         Row{"sst25lf080a", {0xFF, 0xFF, 0xFF}, 1u << 20, 0x0C},
                         Row{"sfdp-only", {0x3C, 0x25, 0x01}, 1u << 21, 0x00}}) {
        SCOPED_TRACE(r.name);
        boot_flash(r.name);
        EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), (V{0xFF, r.id[0], r.id[1], r.id[2]}));
        EXPECT_EQ(sim::chip_contents().size(), r.size);
        EXPECT_EQ(spi.read_status(), r.status);
    }
    EXPECT_EQ(sim::flash_names().size(), 19u);
    EXPECT_EQ(sim::flash_names().front(), "m25p80");
}

// After each family's unprotect: what each erase command erases around 0x12345 and how long it
// keeps the chip busy (0: the command is ignored, the latch stays set).
TEST_F(Family, EraseCommandsTheirRangesAndTimes) {
    const uint32_t all = 0xFFFFFFFF, k4 = 4096, k32 = 32768, k64 = 65536;
    struct Row {
        const char* name;
        uint32_t size[5]; // 0x20, 0x52, 0xD8, 0xDB, 0xC7 (and 0x60)
        uint32_t ms[5];
    };
    for (const Row& r : {
             Row{"m25p80", {0, 0, k64, 0, all}, {0, 0, 3000, 0, 3000}},
             Row{"w25q80", {k4, k32, k64, 0, all}, {30, 120, 150, 0, 2000}},
             Row{"mx25l8005", {k4, 0, k64, 0, all}, {60, 0, 1000, 0, 7000}},
             Row{"gd25q80", {k4, k32, k64, 0, all}, {50, 160, 250, 0, 5000}},
             Row{"en25f80", {k4, 0, k64, 0, all}, {150, 0, 800, 0, 8000}},
             Row{"w25q128", {k4, k32, k64, 0, all}, {45, 120, 150, 0, 40000}},
             Row{"sst25vf080b", {k4, k32, k64, 0, all}, {18, 18, 18, 0, 35}},
             Row{"sst25vf040b", {k4, k32, k64, 0, all}, {18, 18, 18, 0, 35}},
             Row{"sst25vf016b", {k4, k32, k64, 0, all}, {18, 18, 18, 0, 35}},
             Row{"sst26vf016b", {k4, 0, k64, 0, all}, {18, 0, 18, 0, 35}},
             Row{"at25df081a", {k4, k32, k64, 0, all}, {50, 250, 400, 0, 6000}},
             Row{"at26df161a", {k4, k32, k64, 0, all}, {50, 250, 400, 0, 12000}},
             Row{"m45pe80", {0, 0, k64, 256, 0}, {0, 0, 1000, 10, 0}},
             Row{"xm25qh80b", {k4, k32, k64, 0, all}, {30, 120, 150, 0, 2000}},
             Row{"mx25l8006e", {k4, 0, k64, 0, all}, {60, 0, 700, 0, 7000}},
             Row{"s25fl008a", {0, 0, k64, 0, all}, {0, 0, 500, 0, 3000}},
             Row{"sst25vf040", {k4, k32, 0, 0, all}, {18, 18, 0, 0, 70}},
             Row{"sst25lf080a", {k4, k32, 0, 0, all}, {18, 18, 0, 0, 70}},
             Row{"sfdp-only", {k4, k32, k64, 0, all}, {48, 128, 256, 0, 6144}},
         }) {
        const uint8_t cmds[] = {0x20, 0x52, 0xD8, 0xDB, 0xC7, 0x60};
        for (int i = 0; i < 6; ++i) {
            const int k = i < 5 ? i : 4;
            SCOPED_TRACE(testing::Message() << r.name << " " << std::hex << int(cmds[i]));
            boot_flash(r.name);
            unprotect(r.name);
            const uint32_t size = uint32_t(sim::chip_contents().size());
            sim::set_chip_contents(V(size, 0x00));
            spi.write_enable();
            spi.frame(cmds[i] == 0xC7 || cmds[i] == 0x60 ? V{cmds[i]} : V{cmds[i], 1, 0x23, 0x45});
            if (r.ms[k] == 0) {
                EXPECT_EQ(spi.read_status() & ~0x10, 0x02); // ignored: the latch is still set
            } else {
                _sleep(r.ms[k] - 1);
                EXPECT_EQ(spi.read_status() & 0x01, 0x01);
                _sleep(1);
                EXPECT_EQ(spi.read_status() & ~0x10, 0x00);
            }
            V expected(size, 0x00);
            const uint32_t n = r.size[k] == all ? size : r.size[k];
            const uint32_t first = 0x12345 & ~(n - 1) & (size - 1);
            std::fill(expected.begin() + first, expected.begin() + first + (r.size[k] ? n : 0),
                      0xFF);
            EXPECT_TRUE(sim::chip_contents() == expected);
        }
    }
    // The SST26's 0xD8 erases the block the address is in: 8 KiB at either end, then 32 KiB.
    for (auto [address, first, n] :
         {std::tuple{0x2345u, 0x2000u, 0x2000u}, std::tuple{0x9000u, 0x8000u, 0x8000u},
          std::tuple{0x1F2345u, 0x1F0000u, 0x8000u}, std::tuple{0x1FFFFFu, 0x1FE000u, 0x2000u}}) {
        boot_flash("sst26vf016b");
        unprotect("sst26vf016b");
        sim::set_chip_contents(V(1u << 21, 0x00));
        spi.write_enable();
        spi.frame(0xD8, address);
        spi.wait_ready();
        V expected(1u << 21, 0x00);
        std::fill(expected.begin() + first, expected.begin() + first + n, 0xFF);
        EXPECT_TRUE(sim::chip_contents() == expected) << std::hex << address;
    }
}

TEST_F(Family, OneProgramCommandWritesAPageOrOneByteAndSst25WordsFollowOn) {
    // 32 bytes from 0x1F0: a page wraps at 0x200 to 0x100; an SST25 takes the first byte only.
    V data(32);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = uint8_t(0x10 + i);
    }
    for (const std::string& name : sim::flash_names()) {
        SCOPED_TRACE(name);
        boot_flash(name);
        unprotect(name);
        program(0x1F0, data);
        V first(data.begin(), data.begin() + 16), wrapped(data.begin() + 16, data.end());
        if (name.rfind("sst25", 0) == 0) {
            first = V{0x10} + V(15, 0xFF);
            wrapped = V(16, 0xFF);
        }
        EXPECT_EQ(bytes(0x1F0, 16), first);
        EXPECT_EQ(bytes(0x100, 16), wrapped);
    }

    // Auto-address-increment: address and a word, then a word a frame, until write disable.
    for (bool unprotected : {true, false}) {
        boot_flash("sst25vf080b");
        if (unprotected) {
            unprotect("sst25vf080b");
        }
        sim::set_chip_contents(V(0x1008, 0x0F));
        spi.write_enable();
        spi.frame({0xAD, 0x00, 0x10, 0x01, 0x11, 0x22}); // an odd address: the word is at 0x1000
        EXPECT_EQ(spi.read_status(), unprotected ? 0x42 : 0x1E);          // AAI, the latch kept
        EXPECT_EQ(spi.read(0, 2), unprotected ? V(2, 0xFF) : V(2, 0x0F)); // no reads meanwhile
        spi.frame({0xAD, 0x33, 0x44});
        spi.frame({0xAD, 0x55}); // half a word: nothing
        spi.frame({0xAD, 0x56, 0x66});
        spi.command(0x04);
        EXPECT_EQ(spi.read_status(), unprotected ? 0x00 : 0x1C);
        EXPECT_EQ(bytes(0x1000, 8),
                  (unprotected ? V{0x01, 0x02, 0x03, 0x04, 0x06, 0x06, 0x0F, 0x0F} : V(8, 0x0F)));
    }
    // Each word keeps the chip busy for the program time (here set to 5 ms).
    boot([](sim::Settings& s) {
        sim::set_flash(s, "sst25vf016b");
        s.status = 0;
        s.program_us = 5000;
    });
    spi.write_enable();
    spi.frame({0xAD, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(spi.read_status(), 0x43);
    spi.frame({0xAD, 0x00, 0x00}); // ignored while busy
    _sleep(5);
    EXPECT_EQ(spi.read_status(), 0x42);
    spi.frame({0xAD, 0x00, 0x00});
    _sleep(5);
    spi.command(0x04);
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(bytes(0, 6), (V{0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF}));

    // M45PE page write: the bytes sent replace theirs, the rest of the page keeps its bytes.
    boot_flash("m45pe80");
    sim::set_chip_contents(V(0x400, 0x00));
    spi.write_enable();
    spi.frame(0x0A, 0x310, {0xF0, 0x0F});
    EXPECT_EQ(spi.read_status(), 0x03);
    _sleep(11);
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(bytes(0x30F, 4), (V{0x00, 0xF0, 0x0F, 0x00}));
}

// Write status is a self-timed cycle where the datasheet gives it a time (tW): busy with the
// latch set and the new bits showing, nothing but read status answered, the latch clear at its
// end. Where it gives none the new status shows at once, the latch already clear.
TEST_F(Family, StatusWriteIsASelfTimedCycle) {
    struct Row {
        const char* name;
        uint8_t written, reads; // the status byte sent, and the stored bits it reads back as
        int ms;                 // the cycle's typical time, 0: none
    };
    for (const Row& r : {Row{"m25p80", 0x9C, 0x9C, 5}, Row{"w25q80", 0x1C, 0x1C, 10},
                         Row{"mx25l8005", 0x9C, 0x9C, 5}, Row{"gd25q80", 0x1C, 0x1C, 5},
                         Row{"en25f80", 0x9C, 0x9C, 10}, Row{"w25q128", 0x1C, 0x1C, 10},
                         Row{"sst25vf016b", 0x9C, 0x9C, 0}, Row{"at25df081a", 0x80, 0x90, 0}}) {
        SCOPED_TRACE(r.name);
        boot_flash(r.name);
        sim::set_chip_contents({0x55});
        spi.write_enable();
        spi.frame({0x01, r.written});
        if (r.ms == 0) {
            EXPECT_EQ(spi.read_status(), r.reads);
            continue;
        }
        EXPECT_EQ(spi.read_status(), r.reads | 0x03);
        // Ignored meanwhile: reads, identification, write disable, a new status write.
        EXPECT_EQ(spi.read(0, 1), V{0xFF});
        EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), V(4, 0xFF));
        spi.command(0x04);
        spi.frame({0x01, 0x00});
        _sleep(r.ms - 1);
        EXPECT_EQ(spi.read_status(), r.reads | 0x03);
        _sleep(1);
        EXPECT_EQ(spi.read_status(), r.reads);
        EXPECT_EQ(spi.read(0, 1), V{0x55});
    }
}

// Each self-timed operation takes the family's datasheet time at the corner LPTSPI_SIM_TIMING
// names: busy 1 ms before the time in whole milliseconds (rounded up), idle at it.
TEST_F(Family, OperationsTakeTheirDatasheetTimeAtEachCorner) {
    auto lasts_ms = [this](int ms) {
        if (ms == 0) {
            return (spi.read_status() & 1) == 0;
        }
        _sleep(static_cast<unsigned long>(ms - 1));
        const bool busy = (spi.read_status() & 1) != 0;
        _sleep(1);
        return busy && (spi.read_status() & 1) == 0;
    };
    // The virtual time until the chip reads idle, polled every millisecond.
    auto busy_ns = [this] {
        const uint64_t start = sim::now_ns();
        for (int n = 0; (spi.read_status() & 1) != 0 && n < 1000000; ++n) {
            _sleep(1);
        }
        return sim::now_ns() - start;
    };
    auto start = [&](const char* name, sim::Timing timing, uint64_t seed, const V& frame) {
        boot([&](sim::Settings& s) {
            sim::set_flash(s, name);
            s.status = 0; // unprotected, the SST25 included
            s.timing = timing;
            s.timing_seed = seed;
        });
        spi.write_enable();
        spi.frame(frame);
    };
    using T = sim::Timing;
    struct Row {
        const char* name;
        V frame;
        int min, typ, max;
    };
    for (const Row& r :
         {Row{"m25p80", {0x01, 0x00}, 0, 5, 15}, // write status
          Row{"m25p80", {0x02, 0, 0, 0, 0}, 0, 2, 5}, Row{"m25p80", {0xD8, 0, 0, 0}, 0, 3000, 3000},
          Row{"m25p80", {0xC7}, 0, 3000, 20000}, Row{"w25q80", {0x01, 0x00}, 0, 10, 15},
          Row{"w25q80", {0x20, 0, 0, 0}, 0, 30, 400}, Row{"w25q80", {0x52, 0, 0, 0}, 0, 120, 800},
          Row{"w25q80", {0x60}, 0, 2000, 6000}, Row{"sst25vf080b", {0xC7}, 0, 35, 50},
          Row{"m45pe80", {0x0A, 0, 0, 0, 0}, 0, 11, 25},
          Row{"m45pe80", {0xDB, 0, 0, 0}, 0, 10, 20}}) {
        SCOPED_TRACE(testing::Message() << r.name << " " << std::hex << int(r.frame[0]));
        for (auto [timing, ms] :
             {std::pair{T::min, r.min}, std::pair{T::typical, r.typ}, std::pair{T::max, r.max}}) {
            start(r.name, timing, 1, r.frame);
            EXPECT_TRUE(lasts_ms(ms)) << "corner " << int(timing) << ", " << ms << " ms";
        }
    }

    // Random: between minimum and maximum, the same sequence for the same seed, another for
    // another seed; the chip erase of the m25p80 is 0 to 20 s.
    auto five = [&](uint64_t seed) {
        std::vector<uint64_t> ns;
        boot([&](sim::Settings& s) {
            s.timing = T::random;
            s.timing_seed = seed;
        });
        for (int i = 0; i < 5; ++i) {
            spi.write_enable();
            spi.command(0xC7);
            ns.push_back(busy_ns());
        }
        return ns;
    };
    const std::vector<uint64_t> a = five(7);
    for (uint64_t ns : a) {
        EXPECT_LE(ns, 20002000000u); // 20 s and the last poll
    }
    EXPECT_EQ(five(7), a);
    EXPECT_NE(five(8), a);
    EXPECT_NE(std::set<uint64_t>(a.begin(), a.end()).size(), 1u) << "not one time repeated";

    // A fixed erase or program time still overrides every corner; the status write keeps its own.
    boot([](sim::Settings& s) {
        s.timing = T::max;
        s.erase_ms = 4;
        s.program_us = 0;
    });
    for (auto [frame, ms] :
         {std::pair{V{0xC7}, 4}, std::pair{V{0x02, 0, 0, 0, 0}, 0}, std::pair{V{0x01, 0x00}, 15}}) {
        spi.write_enable();
        spi.frame(frame);
        EXPECT_TRUE(lasts_ms(ms)) << int(frame[0]);
    }
}

TEST_F(Family, PowerUpProtectionAndEachFamilysWayToLiftIt) {
    // SST25VF080B: write enable does not open the status write; enable-write-status right
    // before it does. Meanwhile neither program nor chip erase gets through.
    boot_flash("sst25vf080b");
    sim::set_chip_contents({0x55});
    spi.write_enable();
    spi.frame({0x01, 0x00});
    EXPECT_EQ(spi.read_status(), 0x1E);
    spi.program(0, {0x00});
    spi.command(0xC7);
    spi.wait_ready();
    EXPECT_EQ(at(0), 0x55);
    spi.command(0x50);
    spi.read_status(); // not right before it any more
    spi.frame({0x01, 0x00});
    EXPECT_EQ(spi.read_status(), 0x1E);
    spi.command(0x50);
    spi.frame({0x01, 0x00});
    EXPECT_EQ(spi.read_status(), 0x00);
    // The 016B takes write enable as well.
    boot_flash("sst25vf016b");
    spi.write_enable();
    spi.frame({0x01, 0x00});
    EXPECT_EQ(spi.read_status(), 0x00);

    // SST26: status 0x00, every block write-locked in the block-protection register; chip
    // erase and programs of a locked block are ignored, the latch kept.
    boot_flash("sst26vf016b");
    sim::set_chip_contents({0x55});
    EXPECT_EQ(block_protection(), (V{0x55, 0x55, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    spi.write_enable();
    spi.program(0, {0x00});
    spi.command(0xC7);
    EXPECT_EQ(spi.read_status(), 0x02);
    EXPECT_EQ(at(0), 0x55);
    // Writing the register unlocks the 64 KiB block at 0x10000 only (bit 0).
    spi.frame({0x42, 0x55, 0x55, 0xFF, 0xFF, 0xFF, 0xFE});
    program(0x10000, {0x00});
    program(0x20000, {0x00});
    EXPECT_EQ((V{at(0x10000), at(0x20000)}), (V{0x00, 0xFF}));
    spi.write_enable();
    spi.command(0x98); // global unlock
    EXPECT_EQ(block_protection(), (V{0, 0, 0, 0, 0, 0, 0xFF}));
    spi.write_enable();
    spi.command(0xC7);
    EXPECT_EQ(spi.read_status(), 0x83); // busy in bits 0 and 7
    spi.wait_ready();
    EXPECT_EQ(sim::chip_contents(), V(1u << 21, 0xFF));

    // AT25DF: status bits 2-3 sum up the sector protection (0x3C reads a sector's), bit 4 is
    // the WP pin. A refused program drops the latch. Write status with bits 5-2 all clear
    // unprotects every sector, all set protects every sector; SPRL (bit 7) with WP low locks.
    for (bool wp_low : {false, true}) {
        SCOPED_TRACE(wp_low);
        const uint8_t wpp = wp_low ? 0x00 : 0x10;
        boot_flash("at25df081a", wp_low);
        EXPECT_EQ(spi.read_status(), 0x0C | wpp);
        EXPECT_EQ(spi.frame({0x3C, 0x01, 0x00, 0x00, 0x00})[4], 0xFF);
        spi.write_enable();
        spi.program(0x10000, {0x00});
        EXPECT_EQ(spi.read_status(), 0x0C | wpp);
        EXPECT_EQ(at(0x10000), 0xFF);
        spi.write_enable();
        spi.frame({0x01, 0x00});
        EXPECT_EQ(spi.read_status(), wpp);
        EXPECT_EQ(spi.frame({0x3C, 0x01, 0x00, 0x00, 0x00})[4], 0x00);
        spi.write_enable();
        spi.frame(0x36, 0x10000); // protect one sector: some protected
        EXPECT_EQ(spi.read_status(), 0x04 | wpp);
        spi.write_enable();
        spi.frame({0x01, 0xBC}); // all protected, and SPRL
        EXPECT_EQ(spi.read_status(), 0x8C | wpp);
        spi.write_enable();
        spi.frame(0x39, 0x10000); // SPRL refuses a sector's unprotect
        spi.write_enable();
        spi.frame({0x01, 0x00});
        // Refused with WP low; with WP high it clears SPRL alone (the sectors stay protected).
        EXPECT_EQ(spi.read_status(), wp_low ? 0x8E : 0x1C);
    }

    // M45PE: no status write at all.
    boot_flash("m45pe80");
    spi.write_enable();
    spi.frame({0x01, 0x1C});
    EXPECT_EQ(spi.read_status(), 0x02);
}

// The write-protect corners: an AT25DF write status that finds SPRL set clears SPRL and nothing
// else, so unprotecting takes a second write; the M45PE's pin held low guards its bottom sector.
TEST_F(Family, SprlNeedsItsOwnWriteAndTheM45peWpPinGuardsTheBottomSector) {
    boot([](sim::Settings& s) {
        sim::set_flash(s, "at25df081a");
        s.status = 0x8C; // SPRL, every sector protected; WP high
    });
    EXPECT_EQ(spi.read_status(), 0x9C);
    for (int status : {0x1C, 0x10}) {
        spi.write_enable();
        spi.frame({0x01, 0x00});
        EXPECT_EQ(spi.read_status(), status);
    }
    program(0x10000, {0x00});
    EXPECT_EQ(at(0x10000), 0x00);

    // Page program, page write, page erase, sector erase: refused in the bottom 64 KiB with the
    // pin low, the latch kept; above it, or with the pin high, done.
    for (bool wp_low : {true, false}) {
        for (uint32_t address : {0x0FF00u, 0x10000u}) {
            for (const V& frame : {V{0x02, 0, 0, 0, 0x00}, V{0x0A, 0, 0, 0, 0x00}, V{0xDB, 0, 0, 0},
                                   V{0xD8, 0, 0, 0}}) {
                SCOPED_TRACE(testing::Message()
                             << wp_low << " " << std::hex << address << " " << int(frame[0]));
                boot_flash("m45pe80", wp_low);
                sim::set_chip_contents(V(0x20000, 0x55));
                V f = frame;
                f[1] = uint8_t(address >> 16);
                f[2] = uint8_t(address >> 8);
                spi.write_enable();
                spi.frame(f);
                const bool refused = wp_low && address < 0x10000;
                EXPECT_EQ(spi.read_status(), refused ? 0x02 : 0x03);
                spi.wait_ready();
                EXPECT_EQ(at(address) != 0x55, !refused);
            }
        }
    }
}

} // namespace
