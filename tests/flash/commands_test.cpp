// Flash command frames, and the commands working against the simulated 25-series chip.
#include "flash/commands.h"
#include "../support/bus.h"
#include "../support/process.h"

#include <algorithm>
#include <vector>

namespace {

using CommandTest = BusTest;

TEST_F(CommandTest, ReadStatusIsOneFrameOfSixteenClocks) {
    EXPECT_EQ(mc_read_status(), 0x00);
    EXPECT_EQ(access_trace(), frame({0x05}, 1));
    EXPECT_EQ(sim::accesses().size(), 2u + 16 * 4);
}

TEST_F(CommandTest, ReadStatusReportsTheChipsBits) {
    sim::Settings latch;
    latch.status = 0x02;
    power_up(latch);
    EXPECT_EQ(mc_read_status(), 0x02);
}

TEST_F(CommandTest, ProgramSendsWriteEnableThenAfterAPauseTheHeaderAndData) {
    sim::Settings traced;
    std::string dir = make_temp_dir();
    traced.trace_path = dir + "/trace";
    power_up(traced);
    const unsigned char data[3] = {0xDE, 0xAD, 0x42};
    mc_program(0x7F012345, data, 3);
    EXPECT_EQ(access_trace(),
              frame({0x06}) + " " + frame({0x02, 0x01, 0x23, 0x45, 0xDE, 0xAD, 0x42}));
    EXPECT_EQ(sim::pause_count(), 1u);
    EXPECT_EQ(sim::paused_ms(), 100u);

    // The pause falls between the two frames: after the write enable's release.
    sim::shutdown();
    std::string trace = read_file(traced.trace_path);
    size_t pause = trace.find("S 100\n");
    ASSERT_NE(pause, std::string::npos) << trace.substr(0, 200);
    std::string before = trace.substr(0, pause);
    EXPECT_EQ(before.substr(before.size() - 10), "W 0378 05\n");
    EXPECT_EQ(trace.substr(pause + 6, 10), "W 0378 01\n");
    EXPECT_EQ(std::count(before.begin(), before.end(), '\n'), 1 + 8 * 4 + 1); // one frame
}

TEST_F(CommandTest, ReadSendsFastReadWithADummyByteThenClocksTheData) {
    unsigned char buffer[2];
    mc_read(256, buffer, 2);
    EXPECT_EQ(access_trace(), frame({0x0B, 0x00, 0x01, 0x00, 0x00}, 2));
}

TEST_F(CommandTest, AddressesKeepTheirLow24Bits) {
    unsigned char buffer[1];
    mc_read(1 << 24, buffer, 1);
    EXPECT_EQ(access_trace(), frame({0x0B, 0x00, 0x00, 0x00, 0x00}, 1));
}

TEST_F(CommandTest, ReadIdIsOneFrameOfTheCommandAndThreeBytesIn) {
    for (uint32_t size : {1u << 12, 1u << 21}) {
        sim::Settings chip;
        chip.chip_size = size;
        power_up(chip);
        unsigned char id[4] = {0, 0, 0, 0x77};
        mc_read_id(id);
        EXPECT_EQ(access_trace(), frame({0x9F}, 3));
        EXPECT_EQ(std::vector<unsigned char>(id, id + 4),
                  (std::vector<unsigned char>{0x20, 0x20, uint8_t(size == 1u << 12 ? 0x0C : 0x15),
                                              0x77}));
    }
}

TEST_F(CommandTest, EraseEndsRightAfterTheBulkEraseFrameWithTheChipBusy) {
    mc_erase_bulk();
    EXPECT_EQ(access_trace(), frame({0x06}) + " " + frame({0xC7}));
    EXPECT_EQ(sim::paused_ms(), 100u);
    EXPECT_EQ(sim::chip_status() & 0x01, 0x01);
}

TEST_F(CommandTest, ProgrammedPageReadsBackAfterTheChipFinishes) {
    sim::record(false);
    std::vector<unsigned char> page(256);
    for (int i = 0; i < 256; i++)
        page[i] = static_cast<unsigned char>(255 - i);
    mc_program(0x300, page.data(), 256);
    EXPECT_EQ(mc_read_status() & 0x01, 0x01);
    int polls = 1;
    while (mc_read_status() != 0x00)
        polls++;
    EXPECT_GT(polls, 1);
    std::vector<unsigned char> back(256, 0);
    mc_read(0x300, back.data(), 256);
    EXPECT_EQ(back, page);
    EXPECT_EQ(sim::chip_contents()[0x2FF], 0xFF);
    EXPECT_EQ(sim::chip_contents()[0x300], 255);
}

} // namespace
