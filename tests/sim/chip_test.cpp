// The 25-series chip behind the adapter, driven bit by bit through the simulated bus.
#include "bitbang.h"

#include <gtest/gtest.h>

using simtest::boot;
using simtest::kData;
using simtest::kStatus;
using simtest::V;

namespace {

const uint32_t kSize = 1u << 20;

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
    EXPECT_EQ(spi.frame({0xAB, 0x02, 0x00, 0x00, 0x00, 0x00}), V(6, 0xFF));
    EXPECT_EQ(spi.read_status(), 0x02);
    EXPECT_EQ(sim::chip_contents(), V(kSize, 0xFF));
}

TEST_F(Chip, PowerUpBusyBitMeansBusyForEver) {
    boot([](sim::Settings& s) { s.status = 0x01; });
    _sleep(100000);
    spi.write_enable();
    EXPECT_EQ(spi.read_status(), 0x01);
}

} // namespace
