// Helpers for the sim tests: a tiny bit-banger that drives the adapter's lines through the
// simulated bus the way a host program would (data set with clock low, sample MISO, clock high,
// clock low), and booting with a few settings changed.
#pragma once

#include "sim/pc.h"
#include "sim/windows.h"

#include <cstdint>
#include <string>
#include <vector>

namespace simtest {

using V = std::vector<uint8_t>;
const uint16_t kData = 0x378;
const uint16_t kStatus = 0x379;

// boot([](sim::Settings& s) { s.ecp = false; }) powers up with those changes.
template <class Change> void boot(Change change) {
    sim::Settings s;
    change(s);
    sim::reset(s);
}
inline void boot() {
    boot([](sim::Settings&) {});
}

struct Spi {
    uint8_t keep = 0x01; // the always-high line; a test clears it to see the chip ignore the bus

    void select() { sim::bus_write(kData, keep); }
    void release() { sim::bus_write(kData, static_cast<uint8_t>(keep | 0x04)); }

    bool bit(bool out) {
        const uint8_t b = static_cast<uint8_t>(keep | (out ? 0x02 : 0x00));
        sim::bus_write(kData, b);
        const bool in = (sim::bus_read(kStatus) & 0x40) != 0;
        sim::bus_write(kData, static_cast<uint8_t>(b | 0x08));
        sim::bus_write(kData, b);
        return in;
    }

    uint8_t byte(uint8_t out) {
        int in = 0;
        for (int i = 7; i >= 0; --i) {
            in = in << 1 | bit((out >> i) & 1);
        }
        return static_cast<uint8_t>(in);
    }

    // One whole frame, optionally a command and a 24-bit address first; returns what came back
    // for each byte.
    V frame(const V& out) {
        select();
        V in;
        for (uint8_t b : out) {
            in.push_back(byte(b));
        }
        release();
        return in;
    }
    V frame(uint8_t cmd, uint32_t address, const V& tail = {}) {
        V out{cmd, uint8_t(address >> 16), uint8_t(address >> 8), uint8_t(address)};
        out.insert(out.end(), tail.begin(), tail.end());
        return frame(out);
    }

    void command(uint8_t c) { frame({c}); }
    void write_enable() { command(0x06); }
    uint8_t read_status() { return frame({0x05, 0x00})[1]; }
    void program(uint32_t address, const V& data) { frame(0x02, address, data); }

    // Plain read (0x03) or fast read (0x0B, which takes a dummy byte after the address).
    V read(uint32_t address, size_t n, uint8_t cmd = 0x03) {
        const long skip = cmd == 0x0B ? 5 : 4;
        const V in = frame(cmd, address, V(n + size_t(skip) - 4, 0x00));
        return V(in.begin() + skip, in.end());
    }

    // Polls read status with millisecond pauses until the chip is ready (bounded).
    void wait_ready() {
        for (int polls = 0; (read_status() & 0x01) != 0 && polls < 100000; ++polls) {
            _sleep(1);
        }
    }
};

} // namespace simtest
