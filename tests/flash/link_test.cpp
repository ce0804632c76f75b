// The bit-banged SPI link: exact line sequences on the data register and sampling of data-in.
#include "flash/link.h"
#include "../support/bus.h"

namespace {

using LinkTest = BusTest;

TEST_F(LinkTest, PushShiftsMostSignificantBitFirstWithTheSampleBeforeTheRisingEdge) {
    push(&link, 0xA5, 8);
    EXPECT_EQ(access_trace(), bits(0xA5, 8));
}

TEST_F(LinkTest, PushIgnoresBitsAboveCount) {
    push(&link, 0x1A5, 8);
    std::string high = access_trace();
    sim::clear_accesses();
    push(&link, 0xA5, 8);
    EXPECT_EQ(high, access_trace());
}

TEST_F(LinkTest, PushHandlesTheWholeRangeOfCounts) {
    EXPECT_EQ(push(&link, 0xFFFFFFFF, 0), 0);
    EXPECT_EQ(access_trace(), "");
    push(&link, 0x80000001u, 32);
    EXPECT_EQ(access_trace(), bits(0x80000001u, 32));
    sim::clear_accesses();
    push(&link, 0x5, 3);
    EXPECT_EQ(access_trace(), bits(0x5, 3));
}

TEST_F(LinkTest, DataInHeldHighReadsOnesAndHeldLowReadsZeros) {
    sim::Settings high;
    high.miso = sim::Miso::high;
    power_up(high);
    EXPECT_EQ(push(&link, 0x00, 8), 0xFF);
    EXPECT_EQ(push(&link, 0x5A, 8), 0xFF);
    EXPECT_EQ(push(&link, 0, 32), -1);

    // The status register's other lines idle high: only bit 6 may count.
    sim::Settings low;
    low.miso = sim::Miso::low;
    power_up(low);
    EXPECT_EQ(push(&link, 0xFF, 8), 0x00);
    EXPECT_EQ(push(&link, 0x5A, 8), 0x00);
}

TEST_F(LinkTest, ZeroLengthTransfersMakeNoAccess) {
    unsigned char buffer[1] = {0x77};
    swrite(&link, buffer, 0);
    sread(&link, buffer, 0);
    EXPECT_EQ(access_trace(), "");
    EXPECT_EQ(buffer[0], 0x77);
}

} // namespace
