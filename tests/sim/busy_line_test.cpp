// The SST25's hardware end-of-write detection: after 0x70, once an auto-address-increment word
// is programming, selecting the chip drives SO with RY/BY# (0 busy, 1 ready) with no command
// clocked, and read status finds it too instead of the status; released, SO floats; 0x80 turns it
// off, SO giving the status register again.
#include "bitbang.h"

#include <gtest/gtest.h>

using simtest::boot;
using simtest::kStatus;
using simtest::Spi;
using simtest::V;

namespace {

// Data-in (status port bit 6) with the chip selected and nothing clocked.
int selected_line(Spi& spi) {
    spi.select();
    const int level = (sim::bus_read(kStatus) >> 6) & 1;
    spi.release();
    return level;
}

void boot_sst(const char* name) {
    boot([&](sim::Settings& s) {
        sim::set_flash(s, name);
        s.status = 0;
        s.program_us = 5000; // long enough to watch
    });
}

TEST(BusyLine, SoShowsReadyBusyDuringWordsAfterEbsy) {
    for (const char* name : {"sst25vf080b", "sst25vf040b", "sst25vf016b"}) {
        SCOPED_TRACE(name);
        boot_sst(name);
        Spi spi;
        spi.command(0x70);
        EXPECT_EQ(selected_line(spi), 1); // no word programming yet: SO floats
        spi.write_enable();
        spi.frame({0xAD, 0x00, 0x00, 0x00, 0x12, 0x34});
        EXPECT_EQ(selected_line(spi), 0); // busy
        // Held selected, the line turns ready as the word's time ends, with no clock.
        spi.select();
        EXPECT_EQ((sim::bus_read(kStatus) >> 6) & 1, 0);
        _sleep(5);
        EXPECT_EQ((sim::bus_read(kStatus) >> 6) & 1, 1);
        spi.release();
        EXPECT_EQ(sim::bus_read(kStatus), 0xFF); // released: floats
        // Read status finds RY/BY# as well: every bit 0 while busy, 1 once ready.
        spi.frame({0xAD, 0x56, 0x78});
        EXPECT_EQ(spi.read_status(), 0x00);
        _sleep(5);
        EXPECT_EQ(selected_line(spi), 1);
        EXPECT_EQ(spi.read_status(), 0xFF);
        spi.command(0x04); // the sequence ends: SO floats again
        EXPECT_EQ(spi.read_status(), 0x00);
        EXPECT_EQ(spi.read(0, 4), (V{0x12, 0x34, 0x56, 0x78}));

        // 0x80: the words' busy time no longer shows on SO.
        spi.command(0x80);
        spi.write_enable();
        spi.frame({0xAD, 0x00, 0x10, 0x00, 0x12, 0x34});
        EXPECT_EQ(selected_line(spi), 1);
        EXPECT_EQ(spi.read_status(), 0x43);
        _sleep(5);
        spi.command(0x04);
    }
    // Without 0x70 SO floats while a word programs; families without it ignore 0x70.
    boot_sst("sst25vf080b");
    Spi spi;
    spi.write_enable();
    spi.frame({0xAD, 0x00, 0x00, 0x00, 0x12, 0x34});
    EXPECT_EQ(selected_line(spi), 1);
    boot([](sim::Settings& s) {
        sim::set_flash(s, "sst25vf040");
        s.status = 0;
    });
    spi.command(0x70);
    spi.write_enable();
    spi.frame({0xAD, 0x00, 0x00, 0x00, 0x12, 0x34});
    EXPECT_EQ(spi.read_status(), 0x02); // no word sequence on the older part
}

} // namespace
