// The chip a simulated board carries: one choice of family, size, power-up status and times for
// the simulated PC and the simulated-chip driver alike. Freestanding, like model.cpp.
#include "chip_choice.h"

namespace simcore {

bool choose_chip(Model& m, const ChipChoice& c) {
    if (c.deep_power_down) {
        return false; // not modelled yet
    }
    const Family& f = c.family != nullptr ? *c.family : kFamilies[0];
    m.family = &f;
    m.size = c.size != kFamilySize ? c.size : f.size;
    m.power_status = c.status >= 0 ? static_cast<uint8_t>(c.status) : f.power_status;
    m.corner = c.corner;
    m.seed = c.seed;
    m.program_ns = c.program_ns;
    m.erase_ns = c.erase_ns;
    return true;
}

} // namespace simcore
