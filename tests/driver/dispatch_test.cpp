// The driver's request handling, run on the host against a recording port.
#include "hwi_dispatch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Access {
    bool write;
    uint16_t port;
    uint8_t value;
    bool operator==(const Access& o) const {
        return write == o.write && port == o.port && value == o.value;
    }
};

std::vector<Access> accesses;
uint8_t next_read = 0;
std::vector<uint8_t> chip;
std::vector<std::pair<unsigned long, unsigned long>> chip_reads;
std::vector<std::pair<unsigned long, unsigned long>> chip_writes;

unsigned char fake_inb(unsigned short port) {
    accesses.push_back({false, port, next_read});
    return next_read;
}

void fake_outb(unsigned short port, unsigned char value) {
    accesses.push_back({true, port, value});
}

void fake_read_chip(unsigned long offset, unsigned char* out, unsigned long len) {
    chip_reads.emplace_back(offset, len);
    ASSERT_LE(offset + len, chip.size());
    std::memcpy(out, chip.data() + offset, len);
}

void fake_write_chip(unsigned long offset, const unsigned char* in, unsigned long len) {
    chip_writes.emplace_back(offset, len);
    ASSERT_LE(offset + len, chip.size());
    std::memcpy(chip.data() + offset, in, len);
}

const hwi_ops real_ops = {fake_inb, fake_outb, 0, nullptr, nullptr};
hwi_ops sim_ops = {fake_inb, fake_outb, 0, fake_read_chip, fake_write_chip};

class Dispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        accesses.clear();
        chip_reads.clear();
        chip_writes.clear();
        next_read = 0;
        chip.resize(4096);
        for (size_t i = 0; i < chip.size(); i++)
            chip[i] = static_cast<uint8_t>(i * 7 + 3);
        sim_ops.chip_size = static_cast<unsigned long>(chip.size());
    }
    unsigned long info = 0xdeadbeef;
};

TEST_F(Dispatch, CodesAreTheDocumentedValues) {
    EXPECT_EQ(HWI_IOCTL_READ_PORT, 0x9C402004ul);
    EXPECT_EQ(HWI_IOCTL_WRITE_PORT, 0x9C402008ul);
    EXPECT_EQ(HWI_IOCTL_READ_CHIP, 0x9C4023C0ul);
    EXPECT_EQ(HWI_IOCTL_WRITE_CHIP, 0x9C4023C4ul);
}

TEST_F(Dispatch, ReadPortTakesLowByteFirstAndReturnsOneByte) {
    const uint8_t in[2] = {0x79, 0x03};
    uint8_t out[1] = {0};
    next_read = 0xA5;
    EXPECT_EQ(hwi_dispatch(&real_ops, 0x9C402004, in, 2, out, 1, &info), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 1u);
    EXPECT_EQ(out[0], 0xA5);
    ASSERT_EQ(accesses.size(), 1u);
    EXPECT_EQ(accesses[0], (Access{false, 0x379, 0xA5}));
}

TEST_F(Dispatch, ReadPortWithLargerBuffersWritesOnlyOneByte) {
    const uint8_t in[4] = {0x7A, 0x07, 0xEE, 0xEE};
    uint8_t out[4] = {0x11, 0x22, 0x33, 0x44};
    next_read = 0x35;
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_READ_PORT, in, 4, out, 4, &info),
              HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 1u);
    EXPECT_EQ(out[0], 0x35);
    EXPECT_EQ(out[1], 0x22);
    ASSERT_EQ(accesses.size(), 1u);
    EXPECT_EQ(accesses[0].port, 0x77A);
}

TEST_F(Dispatch, ReadPortInPlaceAsBufferedIoDoes) {
    uint8_t buffer[2] = {0x78, 0x03};
    next_read = 0x5C;
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_READ_PORT, buffer, 2, buffer, 2, &info),
              HWI_STATUS_SUCCESS);
    ASSERT_EQ(accesses.size(), 1u);
    EXPECT_EQ(accesses[0].port, 0x378);
    EXPECT_EQ(buffer[0], 0x5C);
}

TEST_F(Dispatch, WritePortTakesLowHighValue) {
    const uint8_t in[3] = {0x7A, 0x07, 0x35};
    EXPECT_EQ(hwi_dispatch(&real_ops, 0x9C402008, in, 3, nullptr, 0, &info), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    ASSERT_EQ(accesses.size(), 1u);
    EXPECT_EQ(accesses[0], (Access{true, 0x77A, 0x35}));
}

TEST_F(Dispatch, WritePortIgnoresAnOutputBuffer) {
    uint8_t buffer[8] = {0x78, 0x03, 0x05, 0x99, 0x99, 0x99, 0x99, 0x99};
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_WRITE_PORT, buffer, 3, buffer, 8, &info),
              HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    ASSERT_EQ(accesses.size(), 1u);
    EXPECT_EQ(accesses[0], (Access{true, 0x378, 0x05}));
    EXPECT_EQ(buffer[3], 0x99);
}

TEST_F(Dispatch, ShortReadPortInputIsRefusedWithoutTouchingThePort) {
    const uint8_t in[2] = {0x79, 0x03};
    uint8_t out[1] = {0x42};
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_READ_PORT, in, 1, out, 1, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_READ_PORT, in, 0, out, 1, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_READ_PORT, nullptr, 2, out, 1, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(info, 0u);
    EXPECT_TRUE(accesses.empty());
    EXPECT_EQ(out[0], 0x42);
}

TEST_F(Dispatch, MissingReadPortOutputIsRefusedWithoutTouchingThePort) {
    const uint8_t in[2] = {0x79, 0x03};
    uint8_t out[1] = {0x42};
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_READ_PORT, in, 2, out, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_READ_PORT, in, 2, nullptr, 1, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(info, 0u);
    EXPECT_TRUE(accesses.empty());
    EXPECT_EQ(out[0], 0x42);
}

TEST_F(Dispatch, ShortWritePortInputIsRefusedWithoutTouchingThePort) {
    const uint8_t in[3] = {0x78, 0x03, 0x05};
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_WRITE_PORT, in, 2, nullptr, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_WRITE_PORT, nullptr, 3, nullptr, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(info, 0u);
    EXPECT_TRUE(accesses.empty());
}

TEST_F(Dispatch, UnknownCodesAreInvalidDeviceRequests) {
    const uint8_t in[4] = {0x78, 0x03, 0x05, 0x00};
    uint8_t out[4] = {};
    // Neighbouring functions, other methods and access bits, another device type.
    const unsigned long codes[] = {0x9C402000, 0x9C40200C, 0x9C402005, 0x9C402006, 0x9C406004,
                                   0x9C40A008, 0x9C412004, 0x00222004, 0};
    for (unsigned long code : codes) {
        info = 77;
        EXPECT_EQ(hwi_dispatch(&sim_ops, code, in, 4, out, 4, &info),
                  HWI_STATUS_INVALID_DEVICE_REQUEST)
            << std::hex << code;
        EXPECT_EQ(info, 0u);
    }
    EXPECT_TRUE(accesses.empty());
}

TEST_F(Dispatch, ChipRequestsAreUnknownToTheRealDriver) {
    const uint8_t in[8] = {0, 0, 0, 0, 1, 2, 3, 4};
    uint8_t out[16] = {};
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_READ_CHIP, in, 4, out, 16, &info),
              HWI_STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(hwi_dispatch(&real_ops, HWI_IOCTL_WRITE_CHIP, in, 8, nullptr, 0, &info),
              HWI_STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(info, 0u);
    EXPECT_TRUE(accesses.empty());
}

TEST_F(Dispatch, ChipReadTakesLittleEndianOffset) {
    const uint8_t in[4] = {0x34, 0x02, 0x00, 0x00}; // 0x234
    uint8_t out[16] = {};
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_READ_CHIP, in, 4, out, 16, &info),
              HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 16u);
    ASSERT_EQ(chip_reads.size(), 1u);
    EXPECT_EQ(chip_reads[0], std::make_pair(0x234ul, 16ul));
    EXPECT_EQ(0, std::memcmp(out, chip.data() + 0x234, 16));
    EXPECT_TRUE(accesses.empty());
}

TEST_F(Dispatch, ChipReadStopsAtTheEndOfTheChip) {
    const uint8_t in[4] = {0xF8, 0x0F, 0x00, 0x00}; // 8 bytes before the end
    uint8_t out[32];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_READ_CHIP, in, 4, out, 32, &info),
              HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 8u);
    EXPECT_EQ(0, std::memcmp(out, chip.data() + 0xFF8, 8));
    EXPECT_EQ(out[8], 0xEE);
}

TEST_F(Dispatch, ChipReadInPlace) {
    uint8_t buffer[64] = {0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_READ_CHIP, buffer, 4, buffer, 64, &info),
              HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 64u);
    EXPECT_EQ(0, std::memcmp(buffer, chip.data() + 0x100, 64));
}

TEST_F(Dispatch, ChipReadRefusesOffsetsPastTheEnd) {
    uint8_t out[4] = {};
    const uint8_t at_end[4] = {0x00, 0x10, 0x00, 0x00};
    const uint8_t high_byte[4] = {0x00, 0x00, 0x00, 0x01}; // 16 MiB: the top byte counts
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_READ_CHIP, at_end, 4, out, 4, &info),
              HWI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_READ_CHIP, high_byte, 4, out, 4, &info),
              HWI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(info, 0u);
    EXPECT_TRUE(chip_reads.empty());
}

TEST_F(Dispatch, ChipReadRefusesShortBuffers) {
    const uint8_t in[4] = {0, 0, 0, 0};
    uint8_t out[4] = {};
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_READ_CHIP, in, 3, out, 4, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_READ_CHIP, in, 4, out, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_READ_CHIP, in, 4, nullptr, 4, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(info, 0u);
    EXPECT_TRUE(chip_reads.empty());
}

TEST_F(Dispatch, ChipWriteStoresTheBytesAfterTheOffset) {
    const uint8_t in[7] = {0x02, 0x03, 0x00, 0x00, 0xAA, 0xBB, 0xCC}; // 0x302
    const std::vector<uint8_t> before = chip;
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_WRITE_CHIP, in, 7, nullptr, 0, &info),
              HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    ASSERT_EQ(chip_writes.size(), 1u);
    EXPECT_EQ(chip_writes[0], std::make_pair(0x302ul, 3ul));
    EXPECT_EQ(chip[0x301], before[0x301]);
    EXPECT_EQ(chip[0x302], 0xAA);
    EXPECT_EQ(chip[0x303], 0xBB);
    EXPECT_EQ(chip[0x304], 0xCC);
    EXPECT_EQ(chip[0x305], before[0x305]);
    EXPECT_TRUE(accesses.empty());
}

TEST_F(Dispatch, ChipWriteMayFillTheChipToItsLastByte) {
    std::vector<uint8_t> in = {0xF0, 0x0F, 0x00, 0x00};
    in.resize(4 + 16, 0x5A);
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_WRITE_CHIP, in.data(),
                           static_cast<unsigned long>(in.size()), nullptr, 0, &info),
              HWI_STATUS_SUCCESS);
    EXPECT_EQ(chip[0xFFF], 0x5A);
}

TEST_F(Dispatch, ChipWriteRefusesRangesOutsideTheChip) {
    std::vector<uint8_t> in = {0xF1, 0x0F, 0x00, 0x00};
    in.resize(4 + 16, 0x5A); // one byte too many
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_WRITE_CHIP, in.data(),
                           static_cast<unsigned long>(in.size()), nullptr, 0, &info),
              HWI_STATUS_INVALID_PARAMETER);
    const uint8_t wraps[6] = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2}; // offset + length would wrap
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_WRITE_CHIP, wraps, 6, nullptr, 0, &info),
              HWI_STATUS_INVALID_PARAMETER);
    const uint8_t at_end[5] = {0x00, 0x10, 0x00, 0x00, 1};
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_WRITE_CHIP, at_end, 5, nullptr, 0, &info),
              HWI_STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(chip_writes.empty());
}

TEST_F(Dispatch, ChipWriteRefusesAMissingOffsetOrNoData) {
    const uint8_t in[4] = {0, 0, 0, 0};
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_WRITE_CHIP, in, 4, nullptr, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_WRITE_CHIP, in, 3, nullptr, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&sim_ops, HWI_IOCTL_WRITE_CHIP, nullptr, 8, nullptr, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_TRUE(chip_writes.empty());
}

} // namespace
