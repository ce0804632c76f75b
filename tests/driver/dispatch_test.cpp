// The driver's request handling, run on the host against a recording port and a chip array.
#include "hwi_dispatch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <set>
#include <sstream>
#include <tuple>
#include <vector>

namespace {

using V = std::vector<uint8_t>;

// A chip request's input: the little-endian offset, then `data` bytes of 0x5A.
V chip_in(unsigned long offset, size_t data = 0) {
    V in{uint8_t(offset), uint8_t(offset >> 8), uint8_t(offset >> 16), uint8_t(offset >> 24)};
    in.resize(4 + data, 0x5A);
    return in;
}

// The request codes as the tool and the Wine harness send them.
const unsigned long kReadPort = 0x9C402004, kWritePort = 0x9C402008;
const unsigned long kReadChip = 0x9C4023C0, kWriteChip = 0x9C4023C4, kSetChipSize = 0x9C4023C8;

using Access = std::tuple<bool, uint16_t, uint8_t>; // write, port, value

std::vector<Access> accesses;
uint8_t next_read = 0;
V chip;

unsigned char fake_inb(unsigned short port) {
    accesses.push_back({false, port, next_read});
    return next_read;
}
void fake_outb(unsigned short port, unsigned char value) {
    accesses.push_back({true, port, value});
}
void fake_read_chip(unsigned long offset, unsigned char* out, unsigned long len) {
    ASSERT_LE(offset + len, chip.size());
    std::memcpy(out, chip.data() + offset, len);
}
void fake_write_chip(unsigned long offset, const unsigned char* in, unsigned long len) {
    ASSERT_LE(offset + len, chip.size());
    std::memcpy(chip.data() + offset, in, len);
}

std::vector<unsigned long> sizes_set;
void fake_set_chip_size(unsigned long size);

const hwi_ops real_ops = {fake_inb, fake_outb, 0, nullptr, nullptr, nullptr, nullptr, nullptr};
const hwi_ops sim_ops = {fake_inb,        fake_outb, 4096,    fake_read_chip,
                         fake_write_chip, nullptr,   nullptr, nullptr};
// A backend whose chip changes size on request, as hwinterface-sim.sys's does.
hwi_ops sized_ops = {fake_inb,        fake_outb,          4096,    fake_read_chip,
                     fake_write_chip, fake_set_chip_size, nullptr, nullptr};

void fake_set_chip_size(unsigned long size) {
    sizes_set.push_back(size);
    chip.assign(size, 0xFF);
    sized_ops.chip_size = size;
}

class Dispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        accesses.clear();
        sizes_set.clear();
        sized_ops.chip_size = sim_ops.chip_size;
        chip.resize(sim_ops.chip_size);
        std::iota(chip.begin(), chip.end(), uint8_t(3));
    }
    hwi_status run(const hwi_ops& ops, unsigned long code, const V& in, V* out = nullptr) {
        return hwi_dispatch(&ops, code, in.data(), in.size(), out ? out->data() : nullptr,
                            out ? out->size() : 0, &info);
    }
    unsigned long info = 0xdeadbeef;
};

TEST_F(Dispatch, PortRequestsTakeAddressLowByteFirstAndReadReturnsOneByte) {
    next_read = 0xA5;
    V out(4, 0xEE); // larger than needed: only the first byte is written
    EXPECT_EQ(run(real_ops, kReadPort, {0x79, 0x03, 0x11, 0x22}, &out), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 1u);
    EXPECT_EQ(out, (V{0xA5, 0xEE, 0xEE, 0xEE}));
    V write_out(8, 0x99); // an output buffer given with a write is left alone
    EXPECT_EQ(run(real_ops, kWritePort, {0x7A, 0x07, 0x35}, &write_out), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(write_out, V(8, 0x99));
    EXPECT_EQ(accesses, (std::vector<Access>{{false, 0x379, 0xA5}, {true, 0x77A, 0x35}}));

    uint8_t buffer[2] = {0x78, 0x03}; // buffered I/O: one buffer in and out
    next_read = 0x5C;
    EXPECT_EQ(hwi_dispatch(&real_ops, kReadPort, buffer, 2, buffer, 2, &info), HWI_STATUS_SUCCESS);
    EXPECT_EQ(accesses.back(), (Access{false, 0x378, 0x5C}));
    EXPECT_EQ(buffer[0], 0x5C);
}

TEST_F(Dispatch, ChipRequestsCopyInRangeAndStopAtTheEnd) {
    V out(16);
    EXPECT_EQ(run(sim_ops, kReadChip, {0x34, 0x02, 0x00, 0x00}, &out), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 16u);
    EXPECT_EQ(out, V(chip.begin() + 0x234, chip.begin() + 0x244));
    V tail(32, 0xEE);
    EXPECT_EQ(run(sim_ops, kReadChip, chip_in(0xFF8), &tail), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 8u); // 8 bytes before the end
    EXPECT_EQ(V(tail.begin(), tail.begin() + 8), V(chip.end() - 8, chip.end()));
    EXPECT_EQ(tail[8], 0xEE);
    uint8_t buffer[64] = {0x00, 0x01, 0x00, 0x00}; // in place
    EXPECT_EQ(hwi_dispatch(&sim_ops, kReadChip, buffer, 4, buffer, 64, &info), HWI_STATUS_SUCCESS);
    EXPECT_EQ(V(buffer, buffer + 64), V(chip.begin() + 0x100, chip.begin() + 0x140));

    V expected = chip;
    std::fill(expected.begin() + 0x302, expected.begin() + 0x304, 0x5A);
    std::fill(expected.end() - 16, expected.end(), 0x5A);
    EXPECT_EQ(run(sim_ops, kWriteChip, chip_in(0x302, 2)), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(run(sim_ops, kWriteChip, chip_in(0xFF0, 16)), HWI_STATUS_SUCCESS); // to the last byte
    EXPECT_EQ(chip, expected);
    EXPECT_TRUE(accesses.empty());
}

TEST_F(Dispatch, SetChipSizeTakesAPowerOfTwoFrom4KiBTo16MiBAndTheChipRequestsFollowIt) {
    V out(16, 0xEE);
    EXPECT_EQ(run(sized_ops, kSetChipSize, chip_in(0x2000), &out), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(out, V(16, 0xEE)); // no output
    EXPECT_EQ(run(sized_ops, kReadChip, chip_in(0x1FF8), &out), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 8u); // up to the new end
    EXPECT_EQ(run(sized_ops, kWriteChip, chip_in(0x1FFF, 1)), HWI_STATUS_SUCCESS);
    EXPECT_EQ(run(sized_ops, kReadChip, chip_in(0x2000), &out), HWI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(run(sized_ops, kSetChipSize, chip_in(0x1000)), HWI_STATUS_SUCCESS);
    EXPECT_EQ(run(sized_ops, kSetChipSize, chip_in(0x1000000)), HWI_STATUS_SUCCESS);
    EXPECT_EQ(sizes_set, (std::vector<unsigned long>{0x2000, 0x1000, 0x1000000}));

    sizes_set.clear();
    for (unsigned long size : {0ul, 1ul, 0x800ul, 0x3000ul, 0x1001ul, 0x2000000ul, 0x80000000ul}) {
        EXPECT_EQ(run(sized_ops, kSetChipSize, chip_in(size)), HWI_STATUS_INVALID_PARAMETER)
            << std::hex << size;
    }
    V three{0x00, 0x20, 0x00};
    EXPECT_EQ(run(sized_ops, kSetChipSize, three), HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(run(sim_ops, kSetChipSize, chip_in(0x2000)), HWI_STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(run(real_ops, kSetChipSize, chip_in(0x2000)), HWI_STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_TRUE(sizes_set.empty());
    EXPECT_TRUE(accesses.empty());
}

TEST_F(Dispatch, RefusedRequestsTouchNeitherThePortNorTheOutput) {
    const int null_in = 1, null_out = 2;
    // Status, information, and whether the output buffer kept its contents.
    auto run = [this](const hwi_ops& ops, unsigned long code, const V& in, unsigned long in_len,
                      unsigned long out_len, int nulls = 0) {
        V out(16, 0x42);
        info = 77;
        const hwi_status status =
            hwi_dispatch(&ops, code, (nulls & null_in) ? nullptr : in.data(), in_len,
                         (nulls & null_out) ? nullptr : out.data(), out_len, &info);
        return std::make_tuple(status, info, out == V(16, 0x42));
    };
    const auto small = std::make_tuple(HWI_STATUS_BUFFER_TOO_SMALL, 0ul, true);
    const auto range = std::make_tuple(HWI_STATUS_INVALID_PARAMETER, 0ul, true);
    const auto unknown = std::make_tuple(HWI_STATUS_INVALID_DEVICE_REQUEST, 0ul, true);
    const V port{0x78, 0x03, 0x05, 0x00}, before = chip;
    EXPECT_EQ(run(real_ops, kReadPort, port, 1, 1), small);
    EXPECT_EQ(run(real_ops, kReadPort, port, 0, 1), small);
    EXPECT_EQ(run(real_ops, kReadPort, port, 2, 1, null_in), small);
    EXPECT_EQ(run(real_ops, kReadPort, port, 2, 0), small);
    EXPECT_EQ(run(real_ops, kReadPort, port, 2, 1, null_out), small);
    EXPECT_EQ(run(real_ops, kWritePort, port, 2, 0), small);
    EXPECT_EQ(run(real_ops, kWritePort, port, 3, 0, null_in), small);
    EXPECT_EQ(run(sim_ops, kReadChip, chip_in(0), 3, 4), small);
    EXPECT_EQ(run(sim_ops, kReadChip, chip_in(0), 4, 0), small);
    EXPECT_EQ(run(sim_ops, kReadChip, chip_in(0), 4, 4, null_out), small);
    EXPECT_EQ(run(sim_ops, kWriteChip, chip_in(0, 1), 4, 0), small); // no data
    EXPECT_EQ(run(sim_ops, kWriteChip, chip_in(0, 1), 3, 0), small);
    EXPECT_EQ(run(sim_ops, kWriteChip, chip_in(0, 4), 8, 0, null_in), small);
    EXPECT_EQ(run(sim_ops, kReadChip, chip_in(0x1000), 4, 4), range);
    EXPECT_EQ(run(sim_ops, kReadChip, chip_in(0x1000000), 4, 4), range); // the top byte counts
    EXPECT_EQ(run(sim_ops, kWriteChip, chip_in(0x1000, 1), 5, 0), range);
    EXPECT_EQ(run(sim_ops, kWriteChip, chip_in(0xFF1, 16), 20, 0), range); // one byte too many
    EXPECT_EQ(run(sim_ops, kWriteChip, chip_in(0xFFFFFFFF, 2), 6, 0),
              range);                                                // offset + length wraps
    EXPECT_EQ(run(real_ops, kReadChip, chip_in(0), 4, 16), unknown); // not in the real driver
    EXPECT_EQ(run(real_ops, kWriteChip, chip_in(0, 1), 5, 0), unknown);
    // Neighbouring functions, other methods and access bits, another device type.
    for (unsigned long code : {0x9C402000ul, 0x9C402014ul, 0x9C402005ul, 0x9C402006ul, 0x9C406004ul,
                               0x9C40A008ul, 0x9C412004ul, 0x00222004ul, 0x9C4023D0ul, 0ul}) {
        EXPECT_EQ(run(sim_ops, code, port, 4, 4), unknown) << std::hex << code;
    }
    EXPECT_TRUE(accesses.empty());
    EXPECT_EQ(chip, before);
}

// The parallel-port registers the port requests reach, written out rather than computed: data,
// status and control, and the ECP block 0x400 above, at each of the three legacy bases. The
// status register is never written (0x279 is also the plug-and-play address port).
const std::set<uint16_t> kReadable = {0x378, 0x379, 0x37A, 0x778, 0x779, 0x77A, //
                                      0x278, 0x279, 0x27A, 0x678, 0x679, 0x67A, //
                                      0x3BC, 0x3BD, 0x3BE, 0x7BC, 0x7BD, 0x7BE};
const std::set<uint16_t> kWritable = {0x378, 0x37A, 0x778, 0x779, 0x77A, //
                                      0x278, 0x27A, 0x678, 0x679, 0x67A, //
                                      0x3BC, 0x3BE, 0x7BC, 0x7BD, 0x7BE};

std::string hex(unsigned port) {
    std::ostringstream s;
    s << "port 0x" << std::hex << std::uppercase << port;
    return s.str();
}

// One port request on `port`; its status and information, the output buffer afterwards, and the
// port accesses it made.
struct PortResult {
    hwi_status status;
    unsigned long info;
    V out;
    std::vector<Access> accesses;
};

PortResult port_request(bool write, unsigned port) {
    accesses.clear();
    next_read = 0xC3;
    const V in{uint8_t(port), uint8_t(port >> 8), 0x5E};
    V out(2, 0x42);
    unsigned long info = 77;
    const hwi_status status = hwi_dispatch(&real_ops, write ? kWritePort : kReadPort, in.data(),
                                           write ? 3 : 2, out.data(), 2, &info);
    return {status, info, out, accesses};
}

TEST_F(Dispatch, PortRequestsReachOnlyTheParallelPortRegisters) {
    // The edges, by name: around each register block, the status register written, and ports a
    // caller could do harm with (CMOS/NMI, keyboard controller reset, reset control, the top).
    struct Row {
        uint16_t port;
        bool read, write;
    };
    const Row rows[] = {
        {0x377, false, false}, {0x378, true, true},   {0x379, true, false},  {0x37A, true, true},
        {0x37B, false, false}, {0x777, false, false}, {0x778, true, true},   {0x779, true, true},
        {0x77A, true, true},   {0x77B, false, false}, {0x77C, false, false}, {0x77D, false, false},
        {0x277, false, false}, {0x278, true, true},   {0x279, true, false},  {0x27A, true, true},
        {0x27B, false, false}, {0x677, false, false}, {0x67A, true, true},   {0x67B, false, false},
        {0x3BB, false, false}, {0x3BC, true, true},   {0x3BD, true, false},  {0x3BE, true, true},
        {0x3BF, false, false}, {0x7BB, false, false}, {0x7BE, true, true},   {0x7BF, false, false},
        {0x70, false, false},  {0x71, false, false},  {0x64, false, false},  {0x60, false, false},
        {0x92, false, false},  {0xB2, false, false},  {0xCF9, false, false}, {0x0, false, false},
        {0xFFFF, false, false}};
    const auto granted = [](hwi_status status) { return status == HWI_STATUS_SUCCESS; };
    for (const Row& row : rows) {
        EXPECT_EQ(granted(port_request(false, row.port).status), row.read) << hex(row.port);
        EXPECT_EQ(granted(port_request(true, row.port).status), row.write) << hex(row.port);
    }

    // Every address of the bus, both ways: granted exactly on the list, each grant one access
    // to that port; each refusal STATUS_ACCESS_DENIED with the port, the output buffer and the
    // information left alone.
    for (unsigned port = 0; port <= 0xFFFF; port++) {
        for (bool write : {false, true}) {
            const PortResult r = port_request(write, port);
            const bool allowed = (write ? kWritable : kReadable).count(uint16_t(port)) == 1;
            const std::string what = hex(port) + (write ? " write" : " read");
            if (allowed) {
                ASSERT_EQ(r.status, HWI_STATUS_SUCCESS) << what;
                ASSERT_EQ(r.info, write ? 0u : 1u) << what;
                ASSERT_EQ(r.out, (write ? V{0x42, 0x42} : V{0xC3, 0x42})) << what;
                ASSERT_EQ(r.accesses,
                          (std::vector<Access>{
                              {write, uint16_t(port), write ? uint8_t(0x5E) : uint8_t(0xC3)}}))
                    << what;
            } else {
                ASSERT_EQ(r.status, HWI_STATUS_ACCESS_DENIED) << what;
                ASSERT_EQ(r.info, 0u) << what;
                ASSERT_EQ(r.out, V(2, 0x42)) << what;
                ASSERT_TRUE(r.accesses.empty()) << what;
            }
        }
    }
}

TEST_F(Dispatch, ShortBuffersAreRefusedBeforeThePortIsChecked) {
    uint8_t read_0x70[2] = {0x70, 0x00}, write_0xcf9[3] = {0xF9, 0x0C, 0x0E};
    uint8_t out = 0x42;
    EXPECT_EQ(hwi_dispatch(&real_ops, kReadPort, read_0x70, 1, &out, 1, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, kReadPort, read_0x70, 2, &out, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, kWritePort, write_0xcf9, 2, nullptr, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, kWritePort, write_0xcf9, 3, nullptr, 0, &info),
              HWI_STATUS_ACCESS_DENIED);
    // Buffered I/O: the refused read leaves the one shared buffer as the caller filled it.
    EXPECT_EQ(hwi_dispatch(&real_ops, kReadPort, read_0x70, 2, read_0x70, 2, &info),
              HWI_STATUS_ACCESS_DENIED);
    EXPECT_EQ(V(read_0x70, read_0x70 + 2), (V{0x70, 0x00}));
    // The simulated-chip build answers port requests under the same rule.
    EXPECT_EQ(hwi_dispatch(&sim_ops, kReadPort, read_0x70, 2, &out, 1, &info),
              HWI_STATUS_ACCESS_DENIED);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(out, 0x42);
    EXPECT_TRUE(accesses.empty());
}

// Ports the system describes: a PCI card at 0xD010 with its ECP block at 0xD000 (LPT1), and
// descriptions that cannot be a parallel port's or are cut short by their span.
const hwi_port kDescribed[] = {
    {0xD010, 8, 0xD000, 4, 1},
    {0x0050, 8, 0x0000, 0, 2},  // below 0x100: the system board, never served
    {0xE000, 2, 0xFFFE, 8, 3},  // data and status only; an ECP block past the top is dropped
    {0xE800, 3, 0xE400, 2, 12}, // two ECP registers; a name that is no LPTn
    {0xFFFF, 1, 0x0000, 0, 4},  // the very top: its data register alone
};

TEST_F(Dispatch, LearnedPortsAreServedBesideTheLegacyOnesAndNothingElse) {
    hwi_ports ports{};
    hwi_learn_ports(&ports, kDescribed, 5);
    ASSERT_EQ(ports.count, 4u);
    EXPECT_EQ(ports.port[1].base, 0xE000);
    EXPECT_EQ(ports.port[1].ecp, 0);
    EXPECT_EQ(ports.port[2].lpt, 0);
    const hwi_ops card_ops = {fake_inb, fake_outb, 0, nullptr, nullptr, nullptr, &ports, nullptr};

    std::set<uint16_t> readable = kReadable, writable = kWritable;
    for (int port :
         {0xD010, 0xD012, 0xD000, 0xD001, 0xD002, 0xE000, 0xE800, 0xE802, 0xE400, 0xE401, 0xFFFF}) {
        readable.insert(uint16_t(port));
        writable.insert(uint16_t(port));
    }
    for (int status : {0xD011, 0xE001, 0xE801})
        readable.insert(uint16_t(status));
    for (unsigned port = 0; port <= 0xFFFF; port++) {
        for (bool write : {false, true}) {
            accesses.clear();
            const V in{uint8_t(port), uint8_t(port >> 8), 0x5E};
            V out(1, 0x42);
            const hwi_status status = hwi_dispatch(&card_ops, write ? kWritePort : kReadPort,
                                                   in.data(), write ? 3 : 2, out.data(), 1, &info);
            const bool allowed = (write ? writable : readable).count(uint16_t(port)) == 1;
            ASSERT_EQ(status, allowed ? HWI_STATUS_SUCCESS : HWI_STATUS_ACCESS_DENIED)
                << hex(port) << (write ? " write" : " read");
            ASSERT_EQ(accesses.size(), allowed ? 1u : 0u) << hex(port);
        }
    }

    // Learning anew forgets what was learned before; nothing learned leaves the legacy ports.
    hwi_learn_ports(&ports, kDescribed + 1, 1);
    EXPECT_EQ(ports.count, 0u);
    V byte(1);
    EXPECT_EQ(run(card_ops, kReadPort, {0x11, 0xD0}, &byte), HWI_STATUS_ACCESS_DENIED);
    EXPECT_EQ(run(card_ops, kReadPort, {0x79, 0x03}, &byte), HWI_STATUS_SUCCESS);
}

TEST_F(Dispatch, LocateAnswersWithTheSystemsPortOrTheLegacyDefault) {
    hwi_ports ports{};
    const hwi_ops card_ops = {fake_inb, fake_outb, 0, nullptr, nullptr, nullptr, &ports, nullptr};
    auto locate = [&](const hwi_ops& ops, unsigned n, hwi_status* status) {
        V out(6, 0xEE);
        *status = run(ops, 0x9C40200C, {uint8_t(n)}, &out);
        return out;
    };
    hwi_status status;
    // Nothing learned (or the real driver before any open): the legacy places, ECR to be probed.
    EXPECT_EQ(locate(card_ops, 1, &status), (V{0x78, 0x03, 0x78, 0x07, 0x01, 0xEE}));
    EXPECT_EQ(info, 5u);
    EXPECT_EQ(locate(real_ops, 2, &status), (V{0x78, 0x02, 0x78, 0x06, 0x01, 0xEE}));
    EXPECT_EQ(locate(real_ops, 3, &status), (V{0xBC, 0x03, 0xBC, 0x07, 0x01, 0xEE}));
    EXPECT_EQ(status, HWI_STATUS_SUCCESS);
    for (unsigned n : {4u, 9u}) {
        EXPECT_EQ(locate(real_ops, n, &status), V(6, 0xEE));
        EXPECT_EQ(status, HWI_STATUS_NO_SUCH_DEVICE) << n;
    }
    for (unsigned n : {0u, 10u, 0x31u, 0xFFu}) {
        EXPECT_EQ(locate(real_ops, n, &status), V(6, 0xEE));
        EXPECT_EQ(status, HWI_STATUS_INVALID_PARAMETER) << n;
    }

    // The system's names win: LPT1 on the card, with and without its ECP block; a port the
    // system calls LPT3 replaces the legacy default.
    hwi_learn_ports(&ports, kDescribed, 5);
    EXPECT_EQ(locate(card_ops, 1, &status), (V{0x10, 0xD0, 0x00, 0xD0, 0x03, 0xEE}));
    EXPECT_EQ(locate(card_ops, 3, &status), (V{0x00, 0xE0, 0x00, 0x00, 0x02, 0xEE}));
    EXPECT_EQ(locate(card_ops, 4, &status), (V{0xFF, 0xFF, 0x00, 0x00, 0x02, 0xEE}));
    EXPECT_EQ(locate(card_ops, 2, &status), (V{0x78, 0x02, 0x78, 0x06, 0x01, 0xEE}));

    V out(5, 0xEE);
    EXPECT_EQ(run(card_ops, 0x9C40200C, {}, &out), HWI_STATUS_BUFFER_TOO_SMALL);
    V short_out(4, 0xEE);
    EXPECT_EQ(run(card_ops, 0x9C40200C, {1}, &short_out), HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(short_out, V(4, 0xEE));
    uint8_t shared[5] = {1}; // buffered I/O: the number in, the answer out, one buffer
    EXPECT_EQ(hwi_dispatch(&card_ops, 0x9C40200C, shared, 1, shared, 5, &info), HWI_STATUS_SUCCESS);
    EXPECT_EQ(V(shared, shared + 5), (V{0x10, 0xD0, 0x00, 0xD0, 0x03}));
    EXPECT_TRUE(accesses.empty());
}

std::vector<std::pair<unsigned, unsigned>> placed;
void fake_place_port(unsigned short base, unsigned short ecp) {
    placed.emplace_back(base, ecp);
}

TEST_F(Dispatch, PlacePortMovesTheSimulatedPortAndNamesItLpt1) {
    hwi_ports ports{};
    hwi_learn_ports(&ports, kDescribed + 2, 1); // replaced by the placed port
    const hwi_ops placing = {fake_inb,        fake_outb, 4096,   fake_read_chip,
                             fake_write_chip, nullptr,   &ports, fake_place_port};
    placed.clear();
    EXPECT_EQ(run(placing, 0x9C4023CC, {0x10, 0xD0, 0x00, 0xD0}), HWI_STATUS_SUCCESS);
    EXPECT_EQ(run(placing, 0x9C4023CC, {0x10, 0xC0, 0x00, 0x00}), HWI_STATUS_SUCCESS);
    ASSERT_EQ(ports.count, 1u);
    EXPECT_EQ(ports.port[0].base, 0xC010);
    EXPECT_EQ(ports.port[0].ecp, 0);
    EXPECT_EQ(ports.port[0].lpt, 1);
    for (const V& in : {V{0x50, 0x00, 0x00, 0x00}, V{0x10, 0xD0, 0xFF, 0xFF}})
        EXPECT_EQ(run(placing, 0x9C4023CC, in), HWI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(run(placing, 0x9C4023CC, {0x10, 0xD0, 0x00}), HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(placed, (std::vector<std::pair<unsigned, unsigned>>{{0xD010, 0xD000}, {0xC010, 0}}));
    EXPECT_EQ(run(sim_ops, 0x9C4023CC, {0x10, 0xD0, 0x00, 0xD0}),
              HWI_STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(run(real_ops, 0x9C4023CC, {0x10, 0xD0, 0x00, 0xD0}),
              HWI_STATUS_INVALID_DEVICE_REQUEST);
}

// The accesses of a frame on the port at `base`: select, two writes a bit sent, three accesses a
// bit received (the status read answering `next`), release.
std::vector<Access> frame_accesses(uint16_t base, const V& sent, size_t received, uint8_t next) {
    std::vector<Access> a{{true, base, 0x01}};
    for (uint8_t b : sent) {
        for (int i = 7; i >= 0; i--) {
            const uint8_t lines = ((b >> i) & 1) ? 0x03 : 0x01;
            a.push_back({true, base, lines});
            a.push_back({true, base, uint8_t(lines | 0x08)});
        }
    }
    for (size_t i = 0; i < received * 8; i++) {
        a.push_back({true, base, 0x01});
        a.push_back({false, uint16_t(base + 1), next});
        a.push_back({true, base, 0x09});
    }
    a.push_back({true, base, 0x05});
    return a;
}

TEST_F(Dispatch, FrameRequestClocksAWholeFrameOnAParallelPortOnly) {
    const unsigned long kFrame = 0x9C402010;
    next_read = 0x40 | 0x3F; // data-in high, and every other status line
    V out(3, 0xEE);
    EXPECT_EQ(run(real_ops, kFrame, {0x78, 0x03, 0x02, 0x00, 0xA5}, &out), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 2u);
    EXPECT_EQ(out, (V{0xFF, 0xFF, 0xEE}));
    EXPECT_EQ(accesses, frame_accesses(0x378, {0xA5}, 2, next_read));

    // Buffered I/O: the bytes sent are all read before the first byte received lands.
    accesses.clear();
    next_read = 0x00;
    uint8_t shared[7] = {0x78, 0x03, 0x03, 0x00, 0x9F, 0x06, 0x5A};
    EXPECT_EQ(hwi_dispatch(&real_ops, kFrame, shared, 7, shared, 7, &info), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 3u);
    EXPECT_EQ(V(shared, shared + 7), (V{0x00, 0x00, 0x00, 0x00, 0x9F, 0x06, 0x5A}));
    EXPECT_EQ(accesses, frame_accesses(0x378, {0x9F, 0x06, 0x5A}, 3, 0x00));

    // A card the system described; a frame with nothing to receive needs no output.
    hwi_ports ports{};
    hwi_learn_ports(&ports, kDescribed, 1);
    const hwi_ops card_ops = {fake_inb, fake_outb, 0, nullptr, nullptr, nullptr, &ports, nullptr};
    accesses.clear();
    EXPECT_EQ(run(card_ops, kFrame, {0x10, 0xD0, 0x00, 0x00, 0x06}), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(accesses, frame_accesses(0xD010, {0x06}, 0, 0));

    // Refused before any access: a base whose data register may not be written or whose status
    // register may not be read, lengths beyond the bound, short buffers.
    accesses.clear();
    V big(4 + 4097, 0x00);
    big[0] = 0x78;
    big[1] = 0x03;
    const struct {
        V in;
        unsigned long out_len;
        hwi_status status;
    } refused[] = {
        {{0x7A, 0x03, 0x00, 0x00, 0x06}, 0, HWI_STATUS_ACCESS_DENIED}, // status at 0x37B: no
        {{0x79, 0x03, 0x00, 0x00, 0x06}, 0, HWI_STATUS_ACCESS_DENIED}, // data at 0x379: no
        {{0x0F, 0xD0, 0x00, 0x00, 0x06}, 0, HWI_STATUS_ACCESS_DENIED}, // beside the card
        {{0x70, 0x00, 0x00, 0x00}, 0, HWI_STATUS_ACCESS_DENIED},
        {{0x78, 0x03, 0x01, 0x10}, 4097, HWI_STATUS_INVALID_PARAMETER},
        {big, 0, HWI_STATUS_INVALID_PARAMETER},
        {{0x78, 0x03, 0x02, 0x00}, 1, HWI_STATUS_BUFFER_TOO_SMALL},
        {{0x78, 0x03, 0x00}, 0, HWI_STATUS_BUFFER_TOO_SMALL},
    };
    for (const auto& r : refused) {
        V buffer(r.out_len, 0x42);
        info = 77;
        EXPECT_EQ(hwi_dispatch(&card_ops, kFrame, r.in.data(), r.in.size(),
                               r.out_len ? buffer.data() : nullptr, r.out_len, &info),
                  r.status)
            << r.in.size();
        EXPECT_EQ(info, 0u);
        EXPECT_EQ(buffer, V(r.out_len, 0x42));
    }
    big.resize(4 + 4096);
    V page(4096);
    big[2] = 0x00;
    big[3] = 0x10; // 4096 in, 4096 out: the largest frame
    EXPECT_EQ(run(real_ops, kFrame, big, &page), HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 4096u);
    EXPECT_EQ(accesses.size(), 2u + 4096 * 16 + 4096 * 24);
}

TEST(DispatchNames, OnlyLpt1ToLpt9AreNumbered) {
    const std::u16string names[] = {u"LPT1", u"LPT9", u"LPT0", u"LPT10", u"lpt1", u"COM1", u"LPT"};
    const unsigned char numbers[] = {1, 9, 0, 0, 0, 0, 0};
    for (size_t i = 0; i < 7; i++) {
        std::vector<unsigned short> name(names[i].begin(), names[i].end());
        EXPECT_EQ(hwi_lpt_number(name.data(), name.size()), numbers[i]) << i;
    }
    EXPECT_EQ(hwi_lpt_number(nullptr, 4), 0);
}

TEST(DispatchCreate, OpensOnlyTheDeviceItself) {
    EXPECT_EQ(hwi_create(0), HWI_STATUS_SUCCESS); // \\.\hwinterface
    // \\.\hwinterface\ and \\.\hwinterface\x: a name after the device's, in UTF-16 bytes.
    for (unsigned long name_bytes : {1ul, 2ul, 4ul, 0xFFFEul, 0xFFFFFFFFul}) {
        EXPECT_EQ(hwi_create(name_bytes), HWI_STATUS_OBJECT_NAME_NOT_FOUND) << name_bytes;
    }
}

} // namespace
