// The parallel port registers, the MISO line modes, the access record, the trace and the clock.
#include "bitbang.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

using simtest::Spi;

namespace {

using A = sim::Access;

class Port : public ::testing::Test {
  protected:
    void SetUp() override { sim::reset(sim::Settings{}); }
};

TEST_F(Port, DataAndControlReadBackWhatWasWritten) {
    for (int v : {0x00, 0x5A, 0xA5, 0xFF, 0x05}) {
        sim::bus_write(0x378, static_cast<uint8_t>(v));
        EXPECT_EQ(sim::bus_read(0x378), v);
        sim::bus_write(0x37A, static_cast<uint8_t>(v & 0x3F));
        EXPECT_EQ(sim::bus_read(0x37A) & 0x3F, v & 0x3F);
    }
}

TEST_F(Port, StatusIdleBitsAreSetAndBit6CarriesMiso) {
    EXPECT_EQ(sim::bus_read(0x379), 0xFF); // chip not driving: MISO floats high
    sim::Settings s;
    s.miso = sim::Miso::low;
    sim::reset(s);
    EXPECT_EQ(sim::bus_read(0x379), 0xBF); // every bit but 6 is non-zero
}

TEST_F(Port, MisoModesIgnoreTheChip) {
    sim::Settings s;
    s.miso = sim::Miso::high;
    sim::reset(s);
    Spi spi;
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    s.miso = sim::Miso::low;
    sim::reset(s);
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00}));
    // The chip still listens: the write enable took effect.
    spi.write_enable();
    EXPECT_EQ(sim::chip_status(), 0x02);
}

TEST_F(Port, EcrWithEcp) {
    EXPECT_EQ(sim::bus_read(0x77A), 0x15);
    sim::bus_write(0x77A, 0x34);
    EXPECT_EQ(sim::bus_read(0x77A), 0x35);
    sim::bus_write(0x77A, (0x35 & 0x1F) | 0x20);
    EXPECT_EQ(sim::bus_read(0x77A), 0x35);
    sim::bus_write(0x77A, 0x02); // full flag cannot be written
    EXPECT_EQ(sim::bus_read(0x77A), 0x01);
}

TEST_F(Port, EcrWithoutEcp) {
    sim::Settings s;
    s.ecp = false;
    sim::reset(s);
    EXPECT_EQ(sim::bus_read(0x77A), 0xFF);
    sim::bus_write(0x77A, 0x34);
    EXPECT_EQ(sim::bus_read(0x77A), 0xFF);
}

TEST_F(Port, OtherAddressesReadFFAndIgnoreWrites) {
    for (int a : {0x37B, 0x37F, 0x278, 0x3BC, 0x779, 0x77B, 0x000}) {
        sim::bus_write(static_cast<uint16_t>(a), 0x00);
        EXPECT_EQ(sim::bus_read(static_cast<uint16_t>(a)), 0xFF) << std::hex << a;
    }
    EXPECT_EQ(sim::bus_read(0x378), 0x00); // data untouched by the writes above
    EXPECT_EQ(sim::bus_read(0x77A), 0x15);
}

TEST_F(Port, RecordHoldsEveryAccessInOrder) {
    sim::bus_write(0x378, 0x01); // not recorded: recording is off after reset
    EXPECT_TRUE(sim::accesses().empty());
    sim::record(true);
    Spi spi;
    spi.bit(true);
    EXPECT_EQ(
        sim::accesses(),
        (std::vector<A>{
            {true, 0x378, 0x03}, {false, 0x379, 0xFF}, {true, 0x378, 0x0B}, {true, 0x378, 0x03}}));
    sim::clear_accesses();
    EXPECT_TRUE(sim::accesses().empty());
    sim::record(false);
    spi.bit(false);
    EXPECT_TRUE(sim::accesses().empty());
    sim::record(true);
    sim::reset(sim::Settings{});
    sim::bus_read(0x379);
    EXPECT_TRUE(sim::accesses().empty());
}

TEST_F(Port, ClockAndCounters) {
    EXPECT_EQ(sim::access_count(), 0u);
    EXPECT_EQ(sim::now_ns(), 0u);
    Spi spi;
    spi.read_status(); // select + 16 bits x 4 + release
    EXPECT_EQ(sim::access_count(), 66u);
    EXPECT_EQ(sim::now_ns(), 66000u);
    _sleep(5);
    _sleep(0);
    _sleep(20);
    EXPECT_EQ(sim::pause_count(), 3u);
    EXPECT_EQ(sim::paused_ms(), 25u);
    EXPECT_EQ(sim::now_ns(), 66000u + 25000000u);
    EXPECT_EQ(sim::projected_ns(), sim::now_ns());

    sim::Settings s;
    s.access_ns = 250;
    sim::reset(s);
    EXPECT_EQ(sim::pause_count(), 0u);
    EXPECT_EQ(sim::paused_ms(), 0u);
    sim::bus_read(0x379);
    sim::bus_write(0x378, 1);
    _sleep(1);
    EXPECT_EQ(sim::access_count(), 2u);
    EXPECT_EQ(sim::projected_ns(), 500u + 1000000u);
    EXPECT_EQ(sim::now_ns(), sim::projected_ns());
}

TEST_F(Port, TraceWritesOneLinePerEvent) {
    char dir[] = "/tmp/lptspi-sim-trace-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/trace.txt";
    sim::Settings s;
    s.trace_path = path;
    sim::reset(s);
    sim::bus_write(0x378, 0x0B);
    sim::bus_read(0x379);
    _sleep(100);
    sim::bus_write(0x77A, 0x34);
    sim::shutdown();
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "W 0378 0b\nR 0379 ff\nS 100\nW 077a 34\n");
    sim::reset(sim::Settings{});
    std::remove(path.c_str());
    rmdir(dir);
}

} // namespace
