// The parallel port registers and the MISO line modes.
#include "bitbang.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using simtest::boot;

namespace {

class Port : public ::testing::Test {
  protected:
    void SetUp() override { boot(); }
};

TEST_F(Port, EcrWithAndWithoutEcp) {
    EXPECT_EQ(sim::bus_read(0x77A), 0x15); // power-up
    sim::bus_write(0x77A, 0x34);
    EXPECT_EQ(sim::bus_read(0x77A), 0x35); // FIFO empty bit stays set
    sim::bus_write(0x77A, 0x02);           // the full flag cannot be written
    EXPECT_EQ(sim::bus_read(0x77A), 0x01);

    boot([](sim::Settings& s) { s.ecp = false; });
    EXPECT_EQ(sim::bus_read(0x77A), 0xFF);
    sim::bus_write(0x77A, 0x34);
    EXPECT_EQ(sim::bus_read(0x77A), 0xFF);
}

TEST_F(Port, DataAndControlReadBackAndOtherAddressesReadFF) {
    sim::bus_write(0x378, 0xA5);
    sim::bus_write(0x37A, 0x2A);
    for (uint16_t a : std::vector<uint16_t>{0x37B, 0x37F, 0x278, 0x3BC, 0x779, 0x77B, 0x000}) {
        sim::bus_write(a, 0x00);
        EXPECT_EQ(sim::bus_read(a), 0xFF) << std::hex << a;
    }
    EXPECT_EQ(sim::bus_read(0x378), 0xA5); // untouched by the writes above
    EXPECT_EQ(sim::bus_read(0x37A) & 0x3F, 0x2A);
    EXPECT_EQ(sim::bus_read(0x77A), 0x15);
}

TEST_F(Port, StatusIdleBitsAreSetAndMisoModesOverrideTheChip) {
    EXPECT_EQ(sim::bus_read(0x379), 0xFF); // chip not driving: MISO floats high
    simtest::Spi spi;
    boot([](sim::Settings& s) { s.miso = sim::Miso::high; });
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), std::vector<uint8_t>(4, 0xFF));
    boot([](sim::Settings& s) { s.miso = sim::Miso::low; });
    EXPECT_EQ(sim::bus_read(0x379), 0xBF); // every bit but 6 is non-zero
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), std::vector<uint8_t>(4, 0x00));
    spi.write_enable(); // the chip still listens
    EXPECT_EQ(sim::chip_status(), 0x02);
}

TEST_F(Port, NoiseFlipsDataInReadsAtItsRateInARepeatableSequence) {
    // Status reads only; the chip is not driving, so data-in reads 1 unless flipped.
    auto reads = [](double rate, uint64_t seed) {
        boot([=](sim::Settings& s) {
            s.noise_rate = rate;
            s.noise_seed = seed;
        });
        std::string bits;
        for (int i = 0; i < 4000; ++i) {
            const uint8_t v = sim::bus_read(0x379);
            EXPECT_EQ(v & 0xBF, 0xBF); // no other bit is touched
            bits += (v & 0x40) ? '1' : '0';
        }
        EXPECT_EQ(sim::bus_read(0x378), 0x00); // other registers stay clean
        EXPECT_EQ(sim::noise_flips(),
                  static_cast<uint64_t>(std::count(bits.begin(), bits.end(), '0')));
        return bits;
    };
    EXPECT_EQ(reads(0, 1), std::string(4000, '1'));
    EXPECT_EQ(reads(1, 1), std::string(4000, '0'));
    const std::string a = reads(0.01, 7);
    EXPECT_EQ(reads(0.01, 7), a); // the same seed, the same flips
    EXPECT_NE(reads(0.01, 8), a);
    const auto flips = std::count(a.begin(), a.end(), '0');
    EXPECT_GT(flips, 20); // 40 expected
    EXPECT_LT(flips, 60);
}

} // namespace
