// The bit-banged SPI link: exact line sequences on the data register and sampling of data-in.
#include "flash/link.h"
#include "../support/bus.h"

namespace {

class LinkTest : public BusTest {
  protected:
    void SetUp() override {
        BusTest::SetUp();
        linkfast = 0;
    }
};

TEST_F(LinkTest, PushShiftsMostSignificantBitFirstWithTheSampleBeforeTheRisingEdge) {
    push(0xA5, 8);
    EXPECT_EQ(access_trace(), bits(0xA5, 8));
}

TEST_F(LinkTest, PushIgnoresBitsAboveCount) {
    push(0x1A5, 8);
    std::string high = access_trace();
    sim::clear_accesses();
    push(0xA5, 8);
    EXPECT_EQ(high, access_trace());
}

TEST_F(LinkTest, PushHandlesTheWholeRangeOfCounts) {
    EXPECT_EQ(push(0xFFFFFFFF, 0), 0);
    EXPECT_EQ(access_trace(), "");
    push(0x80000001u, 32);
    EXPECT_EQ(access_trace(), bits(0x80000001u, 32));
    sim::clear_accesses();
    push(0x5, 3);
    EXPECT_EQ(access_trace(), bits(0x5, 3));
}

TEST_F(LinkTest, DataInHeldHighReadsOnesAndHeldLowReadsZeros) {
    sim::Settings high;
    high.miso = sim::Miso::high;
    power_up(high);
    EXPECT_EQ(push(0x00, 8), 0xFF);
    EXPECT_EQ(push(0x5A, 8), 0xFF);
    EXPECT_EQ(push(0, 32), -1);

    // The status register's other lines idle high: only bit 6 may count.
    sim::Settings low;
    low.miso = sim::Miso::low;
    power_up(low);
    EXPECT_EQ(push(0xFF, 8), 0x00);
    EXPECT_EQ(push(0x5A, 8), 0x00);
}

TEST_F(LinkTest, ZeroLengthTransfersMakeNoAccess) {
    unsigned char buffer[1] = {0x77};
    swrite(buffer, 0);
    sread(buffer, 0);
    EXPECT_EQ(access_trace(), "");
    EXPECT_EQ(buffer[0], 0x77);
}

// The fast link's accesses of a frame: select; each bit sent, data with the clock low, then the
// clock high; each bit received, the clock low, data-in sampled, the clock high; release.
std::string fast_frame(const std::vector<unsigned>& bytes_out, int bytes_in) {
    std::string text = "W378:01";
    for (unsigned b : bytes_out) {
        for (int i = 7; i >= 0; i--)
            text += ((b >> i) & 1) ? " W378:03 W378:0b" : " W378:01 W378:09";
    }
    for (int i = 0; i < bytes_in * 8; i++)
        text += " W378:01 R379 W378:09";
    return text + " W378:05";
}

// The same accesses whoever makes them: the driver in one request, or the tool one request per
// access where the driver does not know the frame request (asked once), or the processor's port
// instructions on the 95/98/Me family.
TEST_F(LinkTest, FastFramesTakeTwoWritesABitSentAndThreeAccessesABitReceived) {
    const struct {
        sim::Platform platform;
        sim::Hwi hwi;
        uint64_t requests; // for two frames
    } cases[] = {
        {sim::Platform::nt, sim::Hwi::current, 2},
        {sim::Platform::nt, sim::Hwi::no_frame, 1 + (2 + 5 * 16 + 2 * 24) + (2 + 16)},
        {sim::Platform::win9x, sim::Hwi::current, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.hwi) * 10 + int(c.platform));
        sim::Settings settings;
        settings.platform = c.platform;
        settings.hwi = c.hwi;
        power_up(settings);
        if (c.platform == sim::Platform::win9x)
            sysver = SYSVER_WIN9X;
        std::vector<uint8_t> chip(0x10000, 0xFF);
        chip[0x1234] = 0xA5;
        chip[0x1235] = 0x3C;
        sim::set_chip_contents(chip);
        linkfast = 1;
        const uint64_t before = sim::driver_request_count();
        const unsigned char read[5] = {0x0B, 0x00, 0x12, 0x34, 0x00};
        unsigned char got[3] = {0, 0, 0x77};
        frame(read, 5, got, 2);
        const unsigned char enable = 0x06;
        frame(&enable, 1, nullptr, 0);
        EXPECT_EQ(access_trace(),
                  fast_frame({0x0B, 0x00, 0x12, 0x34, 0x00}, 2) + " " + fast_frame({0x06}, 0));
        EXPECT_EQ(std::vector<int>(got, got + 3), (std::vector<int>{0xA5, 0x3C, 0x77}));
        EXPECT_EQ(sim::chip_status(), 0x02); // the write enable took
        EXPECT_EQ(sim::driver_request_count() - before, c.requests);
        linkfast = 0;
    }
}

} // namespace
