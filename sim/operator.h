// The operator at a simulated programming station: puts the boards LPTSPI_SIM_BOARDS lists on the
// cable one after another, each with a chip file of its own, and takes each away again once the
// program has polled its identification for a while after writing it. Internal to the simulated
// PC; the times are virtual.
#pragma once

#include "pc.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim::detail {

// How long the cable stays empty before each board, and after the last one before ",end" sends
// Ctrl-C.
const uint64_t kOperatorAbsentNs = 2000000000ull;
// A board is taken away after this many pauses in a row, each right after a read identification,
// once the program has done anything else with it.
const int kOperatorIdPolls = 8;

// A board whose contacts bounce as it goes on: for the program's first pauses after it is put on,
// its identification reads, in turn, with its third byte all ones twice, all ones, with its first
// byte all ones, with its third byte all ones twice, and so on from the start (operator.cpp).
const int kMaxBounce = 1000;

struct Board {
    Settings settings;
    int bounce = 0; // pauses of the program the identification flickers for
};

// The boards of `base.boards`, "FAMILY[:name=value...][,FAMILY...][,end]": each board the settings
// `base` gives with the family and the entry's own values of the LPTSPI_SIM_* settings named in
// lower case without the prefix (noise, status, stuck, wp, id, size, erase_ms, program_us,
// timing, miso, status2, asleep, sfdp), and `bounce=N`, N pauses of bouncing contacts; a part
// without "=" continues the value before it, so "stuck=0x300:0x81" and "noise=0.001:7" read as
// the settings themselves do. Board n's chip file is base.chip_path followed by ".n". `end`: the
// list ends with ",end". False with a one-line reason in `error`.
bool plan_boards(const Settings& base, std::vector<Board>& boards, bool& end, std::string& error);

// Starts the operator on the PC just powered up from `base` (which names boards): nothing on the
// cable yet. False with a one-line reason in `error`.
bool start_operator(const Settings& base, std::string& error);

// The program pauses (called by _sleep once the clock has moved): the operator looks at the cable
// and puts a board on it, takes one away or, after the last board of a list ending in ",end",
// presses Ctrl-C.
void operator_pause();

} // namespace sim::detail
