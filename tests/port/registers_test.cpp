// Port access on each platform family, the driver requests, and the ECP set-up.
#include "port/registers.h"
#include "../support/bus.h"

namespace {

using RegisterTest = BusTest;

TEST_F(RegisterTest, WriteOnNtIsOneDriverRequestWithAddressAndValue) {
    Out32(0x378, 0x0B);
    EXPECT_EQ(access_trace(), "W378:0b");
    sim::IoctlCall call = sim::last_ioctl();
    EXPECT_EQ(call.code, 0x9C402008u);
    EXPECT_EQ(call.in_size, 3u);
    EXPECT_EQ(call.in[0], 0x78);
    EXPECT_EQ(call.in[1], 0x03);
    EXPECT_EQ(call.in[2], 0x0B);
    EXPECT_FALSE(call.has_output);
    EXPECT_EQ(call.out_size, 0u);
}

TEST_F(RegisterTest, ReadOnNtSharesOneBlockForAddressAndReply) {
    sim::Settings high;
    high.miso = sim::Miso::high;
    power_up(high);
    int value = Inp32(0x379);
    EXPECT_EQ(access_trace(), "R379");
    EXPECT_EQ(value, sim::bus_read(0x379));
    EXPECT_EQ(value & 0x40, 0x40);
    sim::IoctlCall call = sim::last_ioctl();
    EXPECT_EQ(call.code, 0x9C402004u);
    EXPECT_EQ(call.in_size, 2u);
    EXPECT_EQ(call.in[0], 0x79);
    EXPECT_EQ(call.in[1], 0x03);
    EXPECT_TRUE(call.has_output);
    EXPECT_EQ(call.out_size, 1u);
    EXPECT_TRUE(call.output_is_input);
}

// A failed read gives the address's low byte with data-in (bit 6) high, wherever the port is: a
// card's status register reads as a busy flash, never as one that answered 0x00.
TEST_F(RegisterTest, FailedReadLeavesTheAddressLowByteAsTheResult) {
    sim::Settings failing;
    failing.ioctl_fail = true;
    failing.port_base = 0xD010;
    failing.ecp_block = 0xD000;
    power_up(failing);
    const struct {
        unsigned short port;
        int value;
    } reads[] = {{0x378, 0x78},  {0x379, 0x79},  {0x77A, 0x7A}, {0xD010, 0x50},
                 {0xD011, 0x51}, {0xD002, 0x42}, {0x3BD, 0xFD}, {0x280, 0xC0}};
    for (const auto& r : reads)
        EXPECT_EQ(Inp32(r.port), r.value) << std::hex << r.port;
    baseport = 0xD010;
    EXPECT_EQ(prStatus() & 0x40, 0x40);
    Out32(0x378, 0x01);
    EXPECT_EQ(access_trace(), "");
}

TEST_F(RegisterTest, UnknownFamilyMakesNoAccessAndReadsZero) {
    sysver = SYSVER_UNKNOWN;
    EXPECT_EQ(Inp32(0x379), 0);
    Out32(0x378, 0x05);
    EXPECT_EQ(InitPort(), 0);
    EXPECT_EQ(access_trace(), "");
}

TEST_F(RegisterTest, Win9xUsesThePortInstructions) {
    sim::Settings win9x;
    win9x.platform = sim::Platform::win9x;
    power_up(win9x);
    sysver = SYSVER_WIN9X;
    Out32(0x378, 0x1FF);
    EXPECT_EQ(Inp32(0x378), 0xFF);
    EXPECT_EQ(access_trace(), "W378:ff R378");
    EXPECT_EQ(sim::last_ioctl().code, 0u); // no driver request was made
}

TEST_F(RegisterTest, HelpersAddressStatusControlAndTheEcr) {
    prStatus();
    pwControl(0x04);
    prECP();
    pwECP(0x34);
    EXPECT_EQ(access_trace(), "R379 W37a:04 R77a W77a:34");
}

TEST_F(RegisterTest, HelpersDoNothingWithoutAClaimedPort) {
    baseport = 0;
    EXPECT_EQ(prStatus(), 0);
    EXPECT_EQ(prECP(), 0);
    pwControl(0x04);
    pwECP(0x34);
    EXPECT_EQ(access_trace(), "");
}

TEST_F(RegisterTest, InitPortSwitchesAnEcpPortToByteMode) {
    testing::internal::CaptureStdout();
    int status = InitPort();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "setting ECP port to SPP bidirectional mode  \n");
    EXPECT_EQ(access_trace(), "R77a W77a:34 R77a R77a R77a W77a:35 W37a:00 R379");
    EXPECT_EQ(status, sim::bus_read(0x379));
    EXPECT_EQ(sim::bus_read(0x77A), 0x35);
}

TEST_F(RegisterTest, InitPortLeavesAPortWithoutEcrAlone) {
    sim::Settings plain;
    plain.ecp = false;
    power_up(plain);
    testing::internal::CaptureStdout();
    InitPort();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(access_trace(), "R77a W37a:00 R379");
}

} // namespace
