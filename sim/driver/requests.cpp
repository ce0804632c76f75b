// The choose-chip request of hwinterface-sim.sys read into a chip choice (sim_requests.h).
// Freestanding, like the model: compiled into the driver and into the host's tests.
#include "sim_requests.h"

namespace {

uint32_t le32(const unsigned char* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

// A busy time in microseconds as the model takes it, in nanoseconds.
uint64_t busy_ns(uint32_t us) {
    return us == HWI_SIM_FAMILY_TIME ? simcore::kFamilyTime : static_cast<uint64_t>(us) * 1000u;
}

} // namespace

hwi_status sim_choice_from_request(const unsigned char* in, unsigned long in_len,
                                   simcore::ChipChoice& choice) {
    if (in == nullptr || in_len < HWI_SIM_CHOOSE_IN) {
        return HWI_STATUS_BUFFER_TOO_SMALL;
    }
    char name[HWI_SIM_NAME_MAX + 1];
    for (unsigned i = 0; i < HWI_SIM_NAME_MAX; ++i) {
        name[i] = static_cast<char>(in[i]);
    }
    name[HWI_SIM_NAME_MAX] = '\0';
    const unsigned flags = in[16], corner = in[18];
    const simcore::Family* family = simcore::find_family(name);
    if (family == nullptr || (flags & ~(HWI_SIM_STATUS_GIVEN | HWI_SIM_DEEP_POWER_DOWN)) != 0 ||
        corner > HWI_SIM_MAXIMUM || in[19] != 0) {
        return HWI_STATUS_INVALID_PARAMETER;
    }
    simcore::ChipChoice c;
    c.family = family;
    c.status = (flags & HWI_SIM_STATUS_GIVEN) != 0 ? in[17] : -1;
    c.corner = corner == HWI_SIM_MINIMUM   ? simcore::kMinimum
               : corner == HWI_SIM_MAXIMUM ? simcore::kMaximum
                                           : simcore::kTypical;
    c.program_ns = busy_ns(le32(in + 20));
    c.erase_ns = busy_ns(le32(in + 24));
    c.deep_power_down = (flags & HWI_SIM_DEEP_POWER_DOWN) != 0;
    choice = c;
    return HWI_STATUS_SUCCESS;
}
