// The driver's request handling, run on the host against a recording port and a chip array.
#include "hwi_dispatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
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

const hwi_ops real_ops = {fake_inb, fake_outb, 0, nullptr, nullptr, nullptr, nullptr};
const hwi_ops sim_ops = {fake_inb,        fake_outb, 4096,   fake_read_chip,
                         fake_write_chip, nullptr,   nullptr};
// A backend whose chip changes size on request, as hwinterface-sim.sys's does.
hwi_ops sized_ops = {fake_inb,        fake_outb,          4096,   fake_read_chip,
                     fake_write_chip, fake_set_chip_size, nullptr};

// The ports of a handle opened while the system described `count` ports.
using Ports = std::unique_ptr<hwi_ports>;
Ports handle_ports(const hwi_port* found = nullptr, unsigned count = 0) {
    Ports ports(new hwi_ports);
    std::memset(ports.get(), 0xA5, sizeof *ports); // nothing is left as it was
    hwi_learn_ports(ports.get(), found, count);
    return ports;
}
// A handle's ports when the system describes none: the legacy ones.
hwi_ports* legacy() {
    static Ports ports = handle_ports();
    return ports.get();
}

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
    hwi_status run(const hwi_ops& ops, unsigned long code, const V& in, V* out = nullptr,
                   hwi_ports* ports = legacy()) {
        return hwi_dispatch(&ops, ports, code, in.data(), in.size(), out ? out->data() : nullptr,
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
    EXPECT_EQ(hwi_dispatch(&real_ops, legacy(), kReadPort, buffer, 2, buffer, 2, &info),
              HWI_STATUS_SUCCESS);
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
    EXPECT_EQ(hwi_dispatch(&sim_ops, legacy(), kReadChip, buffer, 4, buffer, 64, &info),
              HWI_STATUS_SUCCESS);
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
            hwi_dispatch(&ops, legacy(), code, (nulls & null_in) ? nullptr : in.data(), in_len,
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
    const hwi_status status = hwi_dispatch(&real_ops, legacy(), write ? kWritePort : kReadPort,
                                           in.data(), write ? 3 : 2, out.data(), 2, &info);
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
    EXPECT_EQ(hwi_dispatch(&real_ops, legacy(), kReadPort, read_0x70, 1, &out, 1, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, legacy(), kReadPort, read_0x70, 2, &out, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, legacy(), kWritePort, write_0xcf9, 2, nullptr, 0, &info),
              HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(hwi_dispatch(&real_ops, legacy(), kWritePort, write_0xcf9, 3, nullptr, 0, &info),
              HWI_STATUS_ACCESS_DENIED);
    // Buffered I/O: the refused read leaves the one shared buffer as the caller filled it.
    EXPECT_EQ(hwi_dispatch(&real_ops, legacy(), kReadPort, read_0x70, 2, read_0x70, 2, &info),
              HWI_STATUS_ACCESS_DENIED);
    EXPECT_EQ(V(read_0x70, read_0x70 + 2), (V{0x70, 0x00}));
    // The simulated-chip build answers port requests under the same rule.
    EXPECT_EQ(hwi_dispatch(&sim_ops, legacy(), kReadPort, read_0x70, 2, &out, 1, &info),
              HWI_STATUS_ACCESS_DENIED);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(out, 0x42);
    EXPECT_TRUE(accesses.empty());
}

// The ports a handle may read and those it may write, found by asking for each address.
using Reach = std::pair<std::set<uint16_t>, std::set<uint16_t>>;
Reach reachable(hwi_ports* ports) {
    Reach reach;
    for (unsigned port = 0; port <= 0xFFFF; port++) {
        for (bool write : {false, true}) {
            const uint8_t in[3] = {uint8_t(port), uint8_t(port >> 8), 0x5E};
            uint8_t out = 0;
            unsigned long info = 0;
            if (hwi_dispatch(&real_ops, ports, write ? kWritePort : kReadPort, in, write ? 3 : 2,
                             &out, 1, &info) == HWI_STATUS_SUCCESS)
                (write ? reach.second : reach.first).insert(uint16_t(port));
        }
    }
    accesses.clear();
    return reach;
}

// The legacy registers and `both` (read and written) and `read_only` besides.
Reach legacy_and(std::initializer_list<int> both, std::initializer_list<int> read_only = {}) {
    Reach reach{kReadable, kWritable};
    for (int port : both)
        reach.first.insert(uint16_t(port)), reach.second.insert(uint16_t(port));
    for (int port : read_only)
        reach.first.insert(uint16_t(port));
    return reach;
}

const unsigned long kLocate = 0x9C40200C, kFrame = 0x9C402010;

// A PCI card the system describes as LPT1 (data at 0xD010, its ECP block at 0xD000, two of its
// registers), and descriptions that cannot be a parallel port's: served beside the legacy
// registers, each only inside its span, and found by locate; the legacy defaults otherwise.
TEST_F(Dispatch, PortsTheSystemDescribesAreServedAndLocated) {
    const std::u16string lpt1 = u"LPT1", lpt10 = u"LPT10";
    const hwi_port found[] = {
        {0xD010, 8, 0xD000, 2, hwi_lpt_number((const unsigned short*)lpt1.data(), 4)},
        {0x0050, 8, 0, 0, 2},      // below 0x100: the system board, never served
        {0xFFFF, 1, 0xFFFE, 8, 3}, // the top: its data register; no ECP block past the top
    };
    EXPECT_EQ(hwi_lpt_number((const unsigned short*)lpt10.data(), 5), 0);
    Ports card = handle_ports(found, 3);
    EXPECT_EQ(reachable(card.get()),
              legacy_and({0xD010, 0xD012, 0xD000, 0xD001, 0xFFFF}, {0xD011}));

    const struct {
        hwi_ports* ports;
        uint8_t n;
        hwi_status status;
        V answer;
    } locate[] = {
        {card.get(), 1, HWI_STATUS_SUCCESS, {0x10, 0xD0, 0x00, 0xD0, 0x03, 0xEE}},
        {card.get(), 3, HWI_STATUS_SUCCESS, {0xFF, 0xFF, 0x00, 0x00, 0x02, 0xEE}},
        {card.get(), 2, HWI_STATUS_SUCCESS, {0x78, 0x02, 0x78, 0x06, 0x01, 0xEE}}, // legacy default
        {legacy(), 1, HWI_STATUS_SUCCESS, {0x78, 0x03, 0x78, 0x07, 0x01, 0xEE}},
        {legacy(), 4, HWI_STATUS_NO_SUCH_DEVICE, V(6, 0xEE)},
        {legacy(), 10, HWI_STATUS_INVALID_PARAMETER, V(6, 0xEE)},
    };
    for (const auto& l : locate) {
        V out(6, 0xEE);
        EXPECT_EQ(run(real_ops, kLocate, {l.n}, &out, l.ports), l.status) << int(l.n);
        EXPECT_EQ(out, l.answer) << int(l.n);
    }
}

// What the system's parallel-port driver reports (bus address, mapped address, span of the
// registers and of the ECP block) and what a handle then reaches: only I/O-port ranges, never
// the system board's registers below 0x100 nor the PCI configuration and reset control
// registers at 0xCF8-0xCFF, and only inside the span given.
TEST_F(Dispatch, SystemDescriptionsServeOnlyIoPortRangesOffTheSystemBoard) {
    const unsigned long long kMapped = 0xFFFFF8800ABCD010ull; // a register block in memory space
    const struct {
        hwi_system_range registers, ecp;
        Reach reach;
    } rows[] = {
        {{0xD010, 0xD010, 8},
         {0xD000, 0xD000, 4},
         legacy_and({0xD010, 0xD012, 0xD000, 0xD001, 0xD002}, {0xD011})},
        {{0xD010, 0xD010, 2}, {0xD000, 0xD000, 1}, legacy_and({0xD010, 0xD000}, {0xD011})},
        {{0xD010, 0xD010, 8}, {0xD000, kMapped, 4}, legacy_and({0xD010, 0xD012}, {0xD011})},
        {{0xCF0, 0xCF0, 8}, {}, legacy_and({0xCF0, 0xCF2}, {0xCF1})}, // ends below 0xCF8
        {{0xD00, 0xD00, 3}, {}, legacy_and({0xD00, 0xD02}, {0xD01})},
        {{0xFFF8, 0xFFF8, 8}, {}, legacy_and({0xFFF8, 0xFFFA}, {0xFFF9})},
        {{0xFE10D010, kMapped, 8}, {}, legacy_and({})}, // memory space
        {{0xD010, kMapped, 8}, {}, legacy_and({})},
        {{0xCF7, 0xCF7, 8}, {}, legacy_and({})},
        {{0xCF8, 0xCF8, 8}, {}, legacy_and({})},
        {{0xF0, 0xF0, 0x20}, {}, legacy_and({})},
        {{0xFFF9, 0xFFF9, 8}, {}, legacy_and({})}, // past the top
        {{0xD010, 0xD010, 0}, {}, legacy_and({})},
    };
    const std::u16string lpt2 = u"LPT2";
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << row.registers.bus << " " << row.registers.span);
        hwi_port port{};
        const int usable = hwi_describe_port(&port, &row.registers, &row.ecp,
                                             (const unsigned short*)lpt2.data(), 4);
        EXPECT_EQ(usable, row.reach != legacy_and({}));
        EXPECT_EQ(port.lpt, 2);
        EXPECT_EQ(reachable(handle_ports(&port, usable).get()), row.reach);
    }
}

// Each handle keeps the ports the system described when it was opened: a program that started
// on the cards keeps them while a later open finds nothing or finds a card moved. Requests to one
// parallel port, through any of its registers and from any handle, take that port's lock and
// another port's take another, so a frame on one card never waits for a frame on another;
// requests the handle may not make take none.
TEST_F(Dispatch, EachHandleKeepsItsPortsAndEachPortHasItsOwnLock) {
    hwi_locks locks{};
    const hwi_port cards[] = {
        {0xD010, 8, 0xD000, 8, 1}, {0xE010, 8, 0xE000, 8, 2}, {0x378, 8, 0, 0, 3}};
    const hwi_port moved{0xE010, 8, 0, 0, 1}; // the second card alone, renamed LPT1
    Ports first = handle_ports(cards, 3), second = handle_ports(&moved, 1), none = handle_ports();
    hwi_assign_locks(&locks, first.get());
    hwi_assign_locks(&locks, second.get());
    const struct {
        const Ports& ports;
        V lpt1;
    } located[] = {{first, {0x10, 0xD0, 0x00, 0xD0, 0x03}},
                   {second, {0x10, 0xE0, 0x00, 0x00, 0x02}},
                   {none, {0x78, 0x03, 0x78, 0x07, 0x01}}};
    for (const auto& l : located) {
        V out(5);
        EXPECT_EQ(run(real_ops, kLocate, {1}, &out, l.ports.get()), HWI_STATUS_SUCCESS);
        EXPECT_EQ(out, l.lpt1);
    }

    const auto lock = [](const Ports& ports, unsigned long code, const V& in) {
        return hwi_request_lock(ports.get(), code, in.data(), in.size());
    };
    const unsigned d010 = lock(first, kFrame, {0x10, 0xD0, 0x01, 0x00, 0x9F});
    const unsigned e010 = lock(first, kFrame, {0x10, 0xE0, 0x01, 0x00, 0x9F});
    EXPECT_NE(d010, e010);
    EXPECT_GE(std::min(d010, e010), 3u);
    EXPECT_LT(std::max(d010, e010), HWI_LOCKS);
    const struct {
        const Ports& ports;
        unsigned long code;
        V in;
        unsigned lock; // and served exactly when it takes one
    } rows[] = {
        {first, kReadPort, {0x11, 0xD0}, d010},
        {first, kWritePort, {0x02, 0xD0, 0}, d010},
        {first, kReadPort, {0x11, 0xE0}, e010},
        {second, kFrame, {0x10, 0xE0, 0x01, 0x00, 0x9F}, e010},
        {first, kFrame, {0x78, 0x03, 0x01, 0x00, 0x9F}, 0},
        {second, kReadPort, {0x7A, 0x07}, 0},
        {none, kWritePort, {0xBE, 0x07, 0}, 2},
        {second, kFrame, {0x10, 0xD0, 0x01, 0x00, 0x9F}, HWI_NO_LOCK}, // not this handle's
        {none, kFrame, {0x10, 0xE0, 0x01, 0x00, 0x9F}, HWI_NO_LOCK},
        {first, kReadPort, {0x13, 0xD0}, HWI_NO_LOCK}, // beyond the port's registers
        {first, kReadPort, {0x79}, HWI_NO_LOCK},
        {first, kReadChip, {0x78, 0x03, 0, 0}, HWI_NO_LOCK},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.code << " " << int(row.in[0]));
        V out(8);
        EXPECT_EQ(lock(row.ports, row.code, row.in), row.lock);
        EXPECT_EQ(run(real_ops, row.code, row.in, &out, row.ports.get()) == HWI_STATUS_SUCCESS,
                  row.lock != HWI_NO_LOCK);
    }
}

// Locks taken and given back, each with the number of port accesses made before it.
using LockCall = std::tuple<char, unsigned, size_t>; // 't' take or 'g' give, lock, accesses
std::vector<LockCall> lock_calls;
void record_take(unsigned lock) {
    lock_calls.push_back({'t', lock, accesses.size()});
}
void record_give(unsigned lock) {
    lock_calls.push_back({'g', lock, accesses.size()});
}
hwi_port placed_port{};
void fake_place_port(const hwi_port* port) {
    placed_port = *port;
}

// A request to a port holds the port's lock around exactly its accesses; refused requests and
// those that reach no port take none. A port a test request places is reached at once by the
// handle that placed it, under the lock a handle that found it described takes.
TEST_F(Dispatch, RequestsToAPortHoldItsLockAroundTheirAccesses) {
    hwi_locks locks{};
    locks.take = record_take;
    locks.give = record_give;
    const hwi_port cards[] = {{0xE010, 8, 0, 0, 2}, {0xD010, 8, 0xD000, 8, 1}};
    Ports opened = handle_ports(cards, 2), placing = handle_ports();
    hwi_assign_locks(&locks, opened.get());
    hwi_assign_locks(&locks, placing.get());
    const unsigned d010 = hwi_request_lock(opened.get(), kReadPort, V{0x11, 0xD0}.data(), 2);
    const hwi_ops place_ops = {fake_inb,        fake_outb, 4096,           fake_read_chip,
                               fake_write_chip, nullptr,   fake_place_port};
    EXPECT_EQ(run(place_ops, 0x9C4023CC, {0x10, 0xD0, 0x00, 0xD0}, nullptr, placing.get()),
              HWI_STATUS_SUCCESS);
    EXPECT_EQ(placed_port.base, 0xD010);
    EXPECT_TRUE(lock_calls.empty());
    const struct {
        const Ports& ports;
        unsigned long code;
        V in;
        hwi_status status;
        unsigned lock;
        size_t accesses;
    } rows[] = {
        {opened, kReadPort, {0x11, 0xD0}, HWI_STATUS_SUCCESS, d010, 1},
        {placing, kWritePort, {0x02, 0xD0, 0}, HWI_STATUS_SUCCESS, d010, 1},
        {placing, kFrame, {0x10, 0xD0, 0x01, 0x00, 0x9F}, HWI_STATUS_SUCCESS, d010, 42},
        {placing, kWritePort, {0x02, 0xD0, 0}, HWI_STATUS_SUCCESS, d010, 1},
        {opened, kReadPort, {0x11, 0xE0}, HWI_STATUS_SUCCESS, 3, 1},
        {placing, kReadPort, {0x79, 0x03}, HWI_STATUS_SUCCESS, 0, 1},
        {placing, kReadPort, {0x11, 0xE0}, HWI_STATUS_ACCESS_DENIED, HWI_NO_LOCK, 0},
        {opened, kWritePort, {0x11, 0xD0, 0}, HWI_STATUS_ACCESS_DENIED, HWI_NO_LOCK, 0},
        {opened, kLocate, {1}, HWI_STATUS_SUCCESS, HWI_NO_LOCK, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << row.code << " " << int(row.in[0]));
        lock_calls.clear();
        accesses.clear();
        V out(8);
        EXPECT_EQ(run(place_ops, row.code, row.in, &out, row.ports.get()), row.status);
        EXPECT_EQ(accesses.size(), row.accesses);
        const std::vector<LockCall> held{{'t', row.lock, 0}, {'g', row.lock, row.accesses}};
        EXPECT_EQ(lock_calls, row.lock == HWI_NO_LOCK ? std::vector<LockCall>{} : held);
    }
}

// One frame: select, two writes a bit sent, clock low, status read and clock high a bit
// received, release; refused whole, with no access, on a base whose status register is not
// served, beyond 4096 bytes, or with too short an output.
TEST_F(Dispatch, FrameRequestClocksAWholeFrameOnAParallelPortOnly) {
    next_read = 0x40;
    uint8_t shared[6] = {0x78, 0x03, 0x01, 0x00, 0xA5, 0x42}; // buffered I/O: one buffer
    EXPECT_EQ(hwi_dispatch(&real_ops, legacy(), kFrame, shared, 5, shared, 6, &info),
              HWI_STATUS_SUCCESS);
    EXPECT_EQ(info, 1u);
    EXPECT_EQ(shared[0], 0xFF);
    std::vector<Access> expected{{true, 0x378, 0x01}};
    for (int i = 7; i >= 0; i--) {
        const uint8_t lines = ((0xA5 >> i) & 1) ? 0x03 : 0x01;
        expected.insert(expected.end(), {{true, 0x378, lines}, {true, 0x378, uint8_t(lines | 8)}});
    }
    for (int i = 0; i < 8; i++)
        expected.insert(expected.end(),
                        {{true, 0x378, 0x01}, {false, 0x379, 0x40}, {true, 0x378, 0x09}});
    expected.push_back({true, 0x378, 0x05});
    EXPECT_EQ(accesses, expected);

    accesses.clear();
    V big(4 + 4097);
    big[0] = 0x78, big[1] = 0x03;
    V out(4, 0x42);
    EXPECT_EQ(run(real_ops, kFrame, {0x7A, 0x03, 0x01, 0x00, 0x9F}, &out),
              HWI_STATUS_ACCESS_DENIED); // 0x37B is no status register
    EXPECT_EQ(run(real_ops, kFrame, {0x78, 0x03, 0x01, 0x10}, &out), HWI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(run(real_ops, kFrame, big, &out), HWI_STATUS_INVALID_PARAMETER);
    EXPECT_EQ(run(real_ops, kFrame, {0x78, 0x03, 0x05, 0x00}, &out), HWI_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(out, V(4, 0x42));
    EXPECT_TRUE(accesses.empty());
}

TEST(DispatchCreate, OpensOnlyTheDeviceItself) {
    EXPECT_EQ(hwi_create(0), HWI_STATUS_SUCCESS); // \\.\hwinterface
    // \\.\hwinterface\ and \\.\hwinterface\x: a name after the device's, in UTF-16 bytes.
    for (unsigned long name_bytes : {1ul, 2ul, 4ul, 0xFFFEul, 0xFFFFFFFFul}) {
        EXPECT_EQ(hwi_create(name_bytes), HWI_STATUS_OBJECT_NAME_NOT_FOUND) << name_bytes;
    }
}

} // namespace
