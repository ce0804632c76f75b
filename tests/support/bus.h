// Fixtures and helpers for tests that drive the simulated PC through the tool's port code.
#pragma once

#include "flash/session.h"
#include "port/registers.h"
#include "sim/pc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The port accesses recorded since the last clear, as "W378:0b R379 ..." (read values left out:
// what the tool writes, and where it reads, is what these tests pin down).
std::string access_trace(const std::vector<sim::Access>& accesses);
std::string access_trace();

// The accesses of `count` bits of `value` clocked out by the link, most significant first: data
// set with clock low, data-in sampled, rising edge, falling edge.
std::string bits(unsigned value, int count);

// A whole frame: select, the bytes sent, `bytes_in` bytes clocked in with data-out low, release.
std::string frame(const std::vector<unsigned>& bytes_out, int bytes_in = 0);

// Powers up a simulated NT PC with the given settings, opens the driver as the tool would after
// claiming LPT1 at 0x378, and records every port access from then on.
// `link` is a session on it with lptspi's own link.
class BusTest : public testing::Test {
  protected:
    void SetUp() override { power_up(sim::Settings{}); }
    void power_up(const sim::Settings& settings);
    FlashSession link;
};
