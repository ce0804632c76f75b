// A tiny bit-banger for the tests: drives the adapter's lines through the simulated bus the way
// a host program would (data set with clock low, sample MISO, clock high, clock low).
#pragma once

#include "sim/pc.h"
#include "sim/windows.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace simtest {

const uint16_t kData = 0x378;
const uint16_t kStatus = 0x379;

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
        uint8_t in = 0;
        for (int i = 7; i >= 0; --i) {
            in = static_cast<uint8_t>((in << 1) | (bit(((out >> i) & 1) != 0) ? 1 : 0));
        }
        return in;
    }

    // One whole frame: returns what came back for each byte sent.
    std::vector<uint8_t> frame(const std::vector<uint8_t>& out) {
        select();
        std::vector<uint8_t> in;
        for (uint8_t b : out) {
            in.push_back(byte(b));
        }
        release();
        return in;
    }

    void command(uint8_t c) { frame({c}); }
    void write_enable() { command(0x06); }

    uint8_t read_status() { return frame({0x05, 0x00})[1]; }

    std::vector<uint8_t> read(uint32_t address, size_t n, uint8_t cmd = 0x03) {
        std::vector<uint8_t> out{cmd, static_cast<uint8_t>(address >> 16),
                                 static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
        if (cmd == 0x0B) {
            out.push_back(0x00); // dummy byte
        }
        const size_t header = out.size();
        out.resize(header + n, 0x00);
        std::vector<uint8_t> in = frame(out);
        return std::vector<uint8_t>(in.begin() + static_cast<long>(header), in.end());
    }

    void program(uint32_t address, const std::vector<uint8_t>& data) {
        std::vector<uint8_t> out{0x02, static_cast<uint8_t>(address >> 16),
                                 static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
        for (uint8_t b : data) {
            out.push_back(b);
        }
        frame(out);
    }

    void sector_erase(uint32_t address) {
        frame({0xD8, static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
               static_cast<uint8_t>(address)});
    }

    // Polls read status with millisecond pauses; returns the number of polls (bounded).
    int wait_ready(int limit = 100000) {
        int polls = 0;
        while ((read_status() & 0x01) != 0 && polls < limit) {
            _sleep(1);
            ++polls;
        }
        return polls;
    }
};

} // namespace simtest
