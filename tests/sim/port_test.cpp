// The parallel port registers and the MISO line modes.
#include "bitbang.h"

#include <gtest/gtest.h>

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

} // namespace
