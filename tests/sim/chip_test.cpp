// The 25-series chip behind the adapter, driven bit by bit through the simulated bus.
#include "bitbang.h"

#include <gtest/gtest.h>

using simtest::Spi;

namespace {

class Chip : public ::testing::Test {
  protected:
    void boot(sim::Settings s = {}) {
        settings = s;
        sim::reset(settings);
    }
    void SetUp() override { boot(); }

    static uint8_t at(uint32_t address) { return sim::chip_contents().at(address); }

    sim::Settings settings;
    Spi spi;
};

TEST_F(Chip, IdentifiesWithCapacityFromItsSize) {
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), (std::vector<uint8_t>{0xFF, 0x20, 0x20, 0x14}));
    sim::Settings s;
    s.chip_size = 1u << 21;
    boot(s);
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), (std::vector<uint8_t>{0xFF, 0x20, 0x20, 0x15}));
    EXPECT_EQ(sim::chip_contents().size(), 1u << 21);
}

TEST_F(Chip, PowersUpErasedWithStatusFromSettings) {
    EXPECT_EQ(sim::chip_contents(), std::vector<uint8_t>(1u << 20, 0xFF));
    EXPECT_EQ(spi.read_status(), 0x00);
    sim::Settings s;
    s.status = 0x02;
    boot(s);
    EXPECT_EQ(spi.read_status(), 0x02); // the first read status already sees the latch
    s.status = 0x9C;
    boot(s);
    EXPECT_EQ(spi.read_status(), 0x9C);
}

TEST_F(Chip, ProgramThenReadBack) {
    const std::vector<uint8_t> data{0x12, 0x34, 0x56, 0x78, 0x9A};
    spi.write_enable();
    EXPECT_EQ(spi.read_status(), 0x02);
    spi.program(0x012345, data);
    EXPECT_EQ(spi.read_status() & 0x01, 0x01);
    spi.wait_ready();
    EXPECT_EQ(spi.read(0x012345, 5), data);
    EXPECT_EQ(spi.read(0x012345, 5, 0x0B), data); // fast read, with its dummy byte

    std::vector<uint8_t> expected(1u << 20, 0xFF);
    std::copy(data.begin(), data.end(), expected.begin() + 0x012345);
    EXPECT_EQ(sim::chip_contents(), expected);
}

TEST_F(Chip, ProgrammingOnlyClearsBits) {
    spi.write_enable();
    spi.program(0x100, {0xF0, 0x0F});
    spi.wait_ready();
    spi.write_enable();
    spi.program(0x100, {0x3C, 0xFF});
    spi.wait_ready();
    EXPECT_EQ(at(0x100), 0x30);
    EXPECT_EQ(at(0x101), 0x0F);
}

TEST_F(Chip, ProgramAddressWrapsInsideItsPage) {
    spi.write_enable();
    spi.program(0x0010FE, {0x01, 0x02, 0x03, 0x04});
    spi.wait_ready();
    EXPECT_EQ(at(0x10FE), 0x01);
    EXPECT_EQ(at(0x10FF), 0x02);
    EXPECT_EQ(at(0x1000), 0x03);
    EXPECT_EQ(at(0x1001), 0x04);
    EXPECT_EQ(at(0x1100), 0xFF);

    // More than a page: the later bytes replace the earlier ones in the page latch.
    std::vector<uint8_t> data(258);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i);
    }
    data[256] = 0xA5;
    data[257] = 0x5A;
    spi.write_enable();
    spi.program(0x2000, data);
    spi.wait_ready();
    EXPECT_EQ(at(0x2000), 0xA5);
    EXPECT_EQ(at(0x2001), 0x5A);
    EXPECT_EQ(at(0x2002), 0x02);
    EXPECT_EQ(at(0x20FF), 0xFF);
    EXPECT_EQ(at(0x2100), 0xFF);
}

TEST_F(Chip, WriteLatchIsRequiredAndClearsWhenTheWorkEnds) {
    spi.program(0x0, {0x00});
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(at(0), 0xFF);

    spi.command(0x01);
    spi.frame({0x01, 0x1C}); // write status without the latch
    EXPECT_EQ(spi.read_status(), 0x00);
    spi.command(0xC7);
    spi.sector_erase(0);
    EXPECT_EQ(spi.read_status(), 0x00);

    spi.write_enable();
    spi.command(0x04); // write disable
    EXPECT_EQ(spi.read_status(), 0x00);
    spi.program(0x0, {0x00});
    EXPECT_EQ(at(0), 0xFF);

    spi.write_enable();
    spi.program(0x0, {0x00});
    EXPECT_EQ(spi.read_status(), 0x03); // busy, latch still set
    spi.wait_ready();
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(at(0), 0x00);

    // Without a new latch a second program does nothing.
    spi.program(0x1, {0x00});
    EXPECT_EQ(at(1), 0xFF);
}

TEST_F(Chip, SectorEraseClearsExactlyItsSector) {
    std::vector<uint8_t> zeros(3u << 16, 0x00);
    sim::set_chip_contents(zeros);
    spi.write_enable();
    spi.sector_erase(0x01ABCD);
    const uint64_t erased = sim::now_ns();
    EXPECT_EQ(spi.read_status(), 0x03);
    spi.wait_ready();
    // Busy for the 3000 ms of virtual time, seen by the first poll after it.
    EXPECT_GE(sim::now_ns() - erased, 3000ull * 1000000u);
    EXPECT_LT(sim::now_ns() - erased, 3000ull * 1000000u + 1000000u + 2 * 66000u);
    const std::vector<uint8_t> chip = sim::chip_contents();
    EXPECT_EQ(chip[0x00FFFF], 0x00);
    EXPECT_EQ(chip[0x010000], 0xFF);
    EXPECT_EQ(chip[0x01FFFF], 0xFF);
    EXPECT_EQ(chip[0x020000], 0x00);
}

TEST_F(Chip, BulkEraseBothOpcodes) {
    for (int op : {0xC7, 0x60}) {
        sim::set_chip_contents(std::vector<uint8_t>(1u << 20, 0x00));
        spi.write_enable();
        spi.command(static_cast<uint8_t>(op));
        EXPECT_EQ(spi.read_status(), 0x03) << int(op);
        spi.wait_ready();
        EXPECT_EQ(sim::chip_contents(), std::vector<uint8_t>(1u << 20, 0xFF)) << int(op);
        EXPECT_EQ(spi.read_status(), 0x00);
    }
}

TEST_F(Chip, BlockProtectRefusesEraseAndKeepsTheLatch) {
    for (int bp : {0x04, 0x08, 0x10, 0x1C}) {
        sim::Settings s;
        s.status = static_cast<uint8_t>(bp);
        boot(s);
        sim::set_chip_contents(std::vector<uint8_t>(1u << 20, 0x00));
        for (int op : {0xC7, 0x60}) {
            spi.write_enable();
            spi.command(static_cast<uint8_t>(op));
            EXPECT_EQ(spi.read_status(), bp | 0x02) << int(bp);
        }
        spi.sector_erase(0);
        EXPECT_EQ(spi.read_status(), bp | 0x02);
        EXPECT_EQ(sim::chip_contents(), std::vector<uint8_t>(1u << 20, 0x00)) << int(bp);
    }
}

TEST_F(Chip, WriteStatusSetsProtectionAndSrwdOnly) {
    spi.write_enable();
    spi.frame({0x01, 0xFF});
    EXPECT_EQ(spi.read_status(), 0x9C); // busy, latch and bits 5-6 are not written
    spi.write_enable();
    spi.command(0xC7);
    EXPECT_EQ(spi.read_status(), 0x9E); // refused
    spi.write_enable();
    spi.frame({0x01, 0x00});
    EXPECT_EQ(spi.read_status(), 0x00);
    spi.write_enable();
    spi.command(0xC7);
    EXPECT_EQ(spi.read_status(), 0x03);
}

TEST_F(Chip, WhileBusyOnlyReadStatusIsAnswered) {
    sim::Settings s;
    s.program_us = 1400;
    boot(s);
    sim::set_chip_contents({0x11, 0x22});
    spi.write_enable();
    spi.program(0x10, {0x00});
    const uint64_t programmed = sim::now_ns();
    ASSERT_EQ(spi.read_status(), 0x03);

    EXPECT_EQ(spi.read(0, 2), (std::vector<uint8_t>{0xFF, 0xFF})); // read ignored
    spi.command(0x04);                                             // write disable ignored
    EXPECT_EQ(spi.read_status(), 0x03);
    spi.program(0x20, {0x00}); // ignored, and so is everything in it
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));

    // Port accesses alone advance the clock (1 us each): keep polling until the 1400 us are up.
    int polls = 0;
    while ((spi.read_status() & 1) != 0) {
        ++polls;
    }
    const uint64_t poll_ns = 66 * 1000; // select, 16 bits of 4 accesses, release
    EXPECT_GE(sim::now_ns() - programmed, 1400u * 1000u);
    EXPECT_LT(sim::now_ns() - programmed, 1400u * 1000u + poll_ns + 1);
    EXPECT_GT(polls, 0);
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(at(0x10), 0x00);
    EXPECT_EQ(at(0x20), 0xFF); // the program sent while busy did nothing
    EXPECT_EQ(spi.read(0, 2), (std::vector<uint8_t>{0x11, 0x22}));
}

TEST_F(Chip, BusyClearsAfterPauses) {
    spi.write_enable();
    spi.command(0xC7);
    ASSERT_EQ(spi.read_status() & 1, 1);
    _sleep(2990);
    EXPECT_EQ(spi.read_status() & 1, 1);
    _sleep(10);
    EXPECT_EQ(spi.read_status(), 0x00);
}

TEST_F(Chip, ReadStatusStreamsTheCurrentValue) {
    sim::Settings s;
    s.program_us = 100; // 100 accesses
    boot(s);
    spi.write_enable();
    spi.program(0, {0x00});
    // One frame, many status bytes: each byte costs 32 accesses, so busy ends within it.
    spi.select();
    spi.byte(0x05);
    std::vector<uint8_t> seen;
    for (int i = 0; i < 8; ++i) {
        seen.push_back(spi.byte(0x00));
    }
    spi.release();
    EXPECT_EQ(seen.front(), 0x03);
    EXPECT_EQ(seen.back(), 0x00);
}

TEST_F(Chip, OutputBitIsValidBeforeEachRisingEdge) {
    sim::Settings s;
    s.status = 0x9E; // 1001 1110: both levels and both neighbours of every kind of transition
    boot(s);
    const uint8_t st = 0x9E;
    spi.select();
    spi.byte(0x05);
    for (int k = 0; k < 8; ++k) {
        const int expected = (st >> (7 - k)) & 1;
        sim::bus_write(0x378, 0x01); // data set, clock low
        EXPECT_EQ((sim::bus_read(0x379) >> 6) & 1, expected) << "before rising edge " << k;
        sim::bus_write(0x378, 0x09); // rising edge: the bit stays until the falling edge
        EXPECT_EQ((sim::bus_read(0x379) >> 6) & 1, expected) << "after rising edge " << k;
        sim::bus_write(0x378, 0x01); // falling edge: the next bit appears
        const int next = k < 7 ? (st >> (6 - k)) & 1 : (st >> 7) & 1; // the stream repeats
        EXPECT_EQ((sim::bus_read(0x379) >> 6) & 1, next) << "after falling edge " << k;
    }
    spi.release();
    EXPECT_EQ(sim::bus_read(0x379), 0xFF); // released: the line floats high
}

TEST_F(Chip, FrameEndingMidByteDoesNothing) {
    spi.select();
    for (int i = 0; i < 7; ++i) {
        spi.bit(((0x06 >> (7 - i)) & 1) != 0); // seven bits of write enable
    }
    spi.release();
    EXPECT_EQ(spi.read_status(), 0x00);

    spi.write_enable();
    spi.select();
    for (int b : {0x02, 0x00, 0x00, 0x00, 0x00}) {
        spi.byte(static_cast<uint8_t>(b));
    }
    spi.bit(false);
    spi.bit(false);
    spi.release();
    EXPECT_EQ(spi.read_status(), 0x02); // nothing started, the latch is still set
    EXPECT_EQ(at(0), 0xFF);

    // A program with an address but no data byte does nothing either.
    spi.frame({0x02, 0x00, 0x00, 0x00});
    EXPECT_EQ(spi.read_status(), 0x02);
}

TEST_F(Chip, HoldLineLowHidesTheBus) {
    spi.keep = 0x00;
    spi.write_enable();
    spi.program(0, {0x00});
    spi.keep = 0x01;
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(at(0), 0xFF);

    // Held in the middle of the status byte: the output floats and clocks are not counted.
    sim::Settings s;
    s.status = 0x1C;
    boot(s);
    spi.select();
    spi.byte(0x05);
    EXPECT_EQ(spi.bit(false), false); // bit 7 of 0x1C
    sim::bus_write(0x378, 0x00);      // hold
    EXPECT_EQ(sim::bus_read(0x379) & 0x40, 0x40);
    sim::bus_write(0x378, 0x08);
    sim::bus_write(0x378, 0x00);
    sim::bus_write(0x378, 0x01); // release
    uint8_t rest = 0;
    for (int i = 0; i < 7; ++i) {
        rest = static_cast<uint8_t>((rest << 1) | (spi.bit(false) ? 1 : 0));
    }
    spi.release();
    EXPECT_EQ(rest, 0x1C & 0x7F);
}

TEST_F(Chip, StuckBitsStayHigh) {
    sim::Settings s;
    s.stuck = {{0x100, 0x81}, {0x1FF, 0x10}, {0x300, 0x01}};
    boot(s);
    spi.write_enable();
    spi.program(0x100, std::vector<uint8_t>(256, 0x00));
    spi.wait_ready();
    EXPECT_EQ(at(0x100), 0x81);
    EXPECT_EQ(at(0x101), 0x00);
    EXPECT_EQ(at(0x1FF), 0x10);
    EXPECT_EQ(at(0x300), 0xFF); // other page, not programmed
    EXPECT_EQ(spi.read(0x100, 1)[0], 0x81);
    // An erase sets everything, stuck bytes included.
    spi.write_enable();
    spi.sector_erase(0);
    spi.wait_ready();
    EXPECT_EQ(at(0x100), 0xFF);
}

TEST_F(Chip, AddressesWrapAtTheChipSize) {
    std::vector<uint8_t> bytes(1u << 20, 0xFF);
    bytes[0] = 0xA0;
    bytes[1] = 0xA1;
    bytes[0x10] = 0xB0;
    bytes[0xFFFFF] = 0xAF;
    sim::set_chip_contents(bytes);
    EXPECT_EQ(spi.read(0x100010, 1), std::vector<uint8_t>{0xB0});
    EXPECT_EQ(spi.read(0xFFFFF, 3), (std::vector<uint8_t>{0xAF, 0xA0, 0xA1}));
    spi.write_enable();
    spi.program(0xF00020, {0x00});
    spi.wait_ready();
    EXPECT_EQ(at(0x20), 0x00);
}

TEST_F(Chip, UnknownCommandVoidsTheFrame) {
    spi.write_enable();
    EXPECT_EQ(spi.frame({0xAB, 0x02, 0x00, 0x00, 0x00, 0x00}), std::vector<uint8_t>(6, 0xFF));
    EXPECT_EQ(spi.read_status(), 0x02);
    EXPECT_EQ(sim::chip_contents(), std::vector<uint8_t>(1u << 20, 0xFF));
}

TEST_F(Chip, PowerUpBusyBitMeansBusyForEver) {
    sim::Settings s;
    s.status = 0x01;
    boot(s);
    _sleep(100000);
    EXPECT_EQ(spi.read_status(), 0x01);
    spi.write_enable();
    EXPECT_EQ(spi.read_status(), 0x01);
}

TEST_F(Chip, ZeroBusyTimesCompleteAtOnce) {
    sim::Settings s;
    s.program_us = 0;
    s.erase_ms = 0;
    boot(s);
    spi.write_enable();
    spi.program(0, {0x00});
    EXPECT_EQ(spi.read_status(), 0x00);
    spi.write_enable();
    spi.command(0x60);
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(at(0), 0xFF);
}

} // namespace
