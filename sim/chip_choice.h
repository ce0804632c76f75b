// The chip a simulated board carries and how it starts, chosen the same way by the simulated PC
// (from its LPTSPI_SIM_* settings) and by hwinterface-sim.sys (from its choose-chip request).
// Freestanding, like model.h.
#pragma once

#include "model.h"

namespace simcore {

// A size of the choice that means "the family's own".
const uint32_t kFamilySize = ~0u;

struct ChipChoice {
    const Family* family = nullptr;    // null: the default chip (kFamilies[0])
    uint32_t size = kFamilySize;       // bytes, a power of two, or the family's
    int16_t status = -1;               // the status register at power-up; -1: the family's
    Corner corner = kTypical;          // which of its datasheet times each operation takes
    uint64_t seed = 1;                 // kRandom: the seed of the times' sequence
    uint64_t program_ns = kFamilyTime; // every program's busy time; kFamilyTime: at `corner`
    uint64_t erase_ns = kFamilyTime;   // every erase's busy time; kFamilyTime: at `corner`
    // The chip starts in deep power-down (0xB9; 0xAB wakes it), answering nothing else. The
    // model has no deep power-down yet: choose_chip refuses a choice that asks for it. Once it
    // has, this is where its power-up state is set, for both owners alike.
    bool deep_power_down = false;
};

// Sets the chip's part of `m`'s configuration from `c`: family, size, power-up status and busy
// times. The owner sets the rest (port, access time, faults) and calls model_init(). False, `m`
// unchanged, when the choice asks for what the model cannot do (deep power-down).
bool choose_chip(Model& m, const ChipChoice& c);

} // namespace simcore
