// Flash command frames, and the commands working against the simulated 25-series chip.
#include "flash/commands.h"
#include "../support/bus.h"

namespace {

using CommandTest = BusTest;

TEST_F(CommandTest, ReadStatusIsOneFrameOfSixteenClocks) {
    EXPECT_EQ(mc_read_status(&link), 0x00);
    EXPECT_EQ(access_trace(), frame({0x05}, 1));
    EXPECT_EQ(sim::accesses().size(), 2u + 16 * 4);
}

// Where the pauses fall between frames is pinned by the whole runs' event records.
TEST_F(CommandTest, ProgramSendsWriteEnableThenAfterAPauseTheHeaderAndData) {
    const unsigned char data[3] = {0xDE, 0xAD, 0x42};
    mc_program(&link, 0x7FA12345, data, 3);
    EXPECT_EQ(access_trace(),
              frame({0x06}) + " " + frame({0x02, 0xA1, 0x23, 0x45, 0xDE, 0xAD, 0x42}));
    EXPECT_EQ(sim::pause_count(), 1u);
    EXPECT_EQ(sim::paused_ms(), 100u);
}

TEST_F(CommandTest, ReadSendsFastReadWithADummyByteThenClocksTheData) {
    unsigned char buffer[2];
    mc_read(&link, 256, buffer, 2);
    EXPECT_EQ(access_trace(), frame({0x0B, 0x00, 0x01, 0x00, 0x00}, 2));
}

TEST_F(CommandTest, AddressesKeepTheirLow24Bits) {
    unsigned char buffer[1];
    mc_read(&link, 1 << 24, buffer, 1);
    EXPECT_EQ(access_trace(), frame({0x0B, 0x00, 0x00, 0x00, 0x00}, 1));
}

TEST_F(CommandTest, ReadIdIsOneFrameOfTheCommandAndThreeBytesIn) {
    for (uint32_t size : {1u << 12, 1u << 21}) {
        sim::Settings chip;
        chip.chip_size = size;
        power_up(chip);
        unsigned char id[4] = {0, 0, 0, 0x77};
        mc_read_id(&link, id);
        EXPECT_EQ(access_trace(), frame({0x9F}, 3));
        EXPECT_EQ(std::vector<unsigned char>(id, id + 4),
                  (std::vector<unsigned char>{0x20, 0x20, uint8_t(size == 1u << 12 ? 0x0C : 0x15),
                                              0x77}));
    }
}

TEST_F(CommandTest, EraseEndsRightAfterTheBulkEraseFrameWithTheChipBusy) {
    mc_erase_bulk(&link);
    EXPECT_EQ(access_trace(), frame({0x06}) + " " + frame({0xC7}));
    EXPECT_EQ(sim::paused_ms(), 100u);
    EXPECT_EQ(sim::chip_status() & 0x01, 0x01);
}

} // namespace
