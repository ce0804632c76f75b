// The chip a board carries, chosen alike from the simulated PC's settings and from the choose-chip
// request of hwinterface-sim.sys (sim/chip_choice.h, sim/driver/sim_requests.h).
#include "bitbang.h"
#include "sim/chip_choice.h"
#include "sim/driver/sim_requests.h"
#include "sim/state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

using simtest::V;

// A choose-chip request's input: the family's name, the flags and status, the corner, byte 19,
// then the program and erase times in microseconds.
V request(const char* name, uint8_t flags = 0, uint8_t status = 0, uint8_t corner = 0,
          uint32_t program_us = HWI_SIM_FAMILY_TIME, uint32_t erase_us = HWI_SIM_FAMILY_TIME,
          uint8_t reserved = 0) {
    V in(HWI_SIM_CHOOSE_IN, 0);
    std::memcpy(in.data(), name, std::strlen(name));
    in[16] = flags;
    in[17] = status;
    in[18] = corner;
    in[19] = reserved;
    for (int i = 0; i < 4; ++i) {
        in[20 + i] = static_cast<uint8_t>(program_us >> (8 * i));
        in[24 + i] = static_cast<uint8_t>(erase_us >> (8 * i));
    }
    return in;
}

// A request, the settings of the simulated PC that ask for the same chip, and what that chip is
// at power-up.
struct Same {
    V in;
    std::function<void(sim::Settings&)> settings;
    const char* family;
    uint8_t status; // read status at power-up
    simcore::Corner corner;
    uint64_t program_ns, erase_ns;
};

// Each choice powers up the same chip behind the driver's port as behind the simulated PC's:
// family, size, identification, status, protection register and busy times.
TEST(ChipChoice, TheDriversRequestAndThePcsSettingsChooseTheSameChip) {
    const uint64_t family = simcore::kFamilyTime;
    const std::vector<Same> rows = {
        {request("sst25vf080b"), [](sim::Settings& s) { sim::set_flash(s, "sst25vf080b"); },
         "sst25vf080b", 0x1C, simcore::kTypical, family, family},
        {request("at25df081a", HWI_SIM_STATUS_GIVEN, 0x8C, HWI_SIM_TYPICAL, HWI_SIM_FAMILY_TIME,
                 10000),
         [](sim::Settings& s) {
             sim::set_flash(s, "at25df081a");
             s.status = 0x8C;
             s.status_given = true;
             s.erase_ms = 10;
         },
         "at25df081a", 0x9C, simcore::kTypical, family, 10000000},
        {request("w25q80", HWI_SIM_STATUS_GIVEN, 0x1C, HWI_SIM_MAXIMUM),
         [](sim::Settings& s) {
             sim::set_flash(s, "w25q80");
             s.status = 0x1C;
             s.status_given = true;
             s.timing = sim::Timing::max;
         },
         "w25q80", 0x1C, simcore::kMaximum, family, family},
        {request("sst26vf016b", 0, 0, HWI_SIM_MINIMUM, 1400),
         [](sim::Settings& s) {
             sim::set_flash(s, "sst26vf016b");
             s.timing = sim::Timing::min;
             s.program_us = 1400;
         },
         "sst26vf016b", 0x00, simcore::kMinimum, 1400000, family},
    };
    static uint8_t memory[HWI_CHIP_SIZE_MAX];
    for (const Same& row : rows) {
        SCOPED_TRACE(row.family);
        simcore::ChipChoice choice;
        ASSERT_EQ(sim_choice_from_request(row.in.data(), row.in.size(), choice),
                  HWI_STATUS_SUCCESS);
        simcore::Model driver{};
        driver.memory = memory;
        driver.base = simtest::kData;
        driver.access_ns = 1000;
        ASSERT_TRUE(simcore::choose_chip(driver, choice));
        ASSERT_TRUE(simcore::model_init(driver));

        simtest::boot(row.settings);
        const simcore::Model& pc = sim::detail::g_hot.model;
        EXPECT_STREQ(driver.family->name, row.family);
        EXPECT_EQ(driver.family, pc.family);
        EXPECT_EQ(driver.size, pc.size);
        EXPECT_EQ(V(driver.id, driver.id + 3), V(pc.id, pc.id + 3));
        EXPECT_EQ(simcore::model_chip_status(driver), row.status);
        EXPECT_EQ(sim::chip_status(), row.status);
        EXPECT_EQ(V(driver.protect, driver.protect + simcore::kProtectBytes),
                  V(pc.protect, pc.protect + simcore::kProtectBytes));
        EXPECT_EQ(driver.corner, row.corner);
        EXPECT_EQ(pc.corner, row.corner);
        EXPECT_EQ(driver.program_ns, row.program_ns);
        EXPECT_EQ(pc.program_ns, row.program_ns);
        EXPECT_EQ(driver.erase_ns, row.erase_ns);
        EXPECT_EQ(pc.erase_ns, row.erase_ns);
    }
}

// What the request refuses, with the status the driver answers, the choice left as it was; and
// deep power-down, which the request reads but no chip can be chosen in yet.
TEST(ChipChoice, RequestsTheDriverRefuses) {
    const V ok = request("m25p80");
    const struct {
        const char* what;
        V in;
        hwi_status status;
    } rows[] = {
        {"27 bytes", V(ok.begin(), ok.end() - 1), HWI_STATUS_BUFFER_TOO_SMALL},
        {"no such family", request("m25p81"), HWI_STATUS_INVALID_PARAMETER},
        {"an unknown flag", request("m25p80", 0x04), HWI_STATUS_INVALID_PARAMETER},
        {"the random corner", request("m25p80", 0, 0, 3), HWI_STATUS_INVALID_PARAMETER},
        {"byte 19 not 0", request("m25p80", 0, 0, 0, HWI_SIM_FAMILY_TIME, HWI_SIM_FAMILY_TIME, 1),
         HWI_STATUS_INVALID_PARAMETER},
    };
    for (const auto& row : rows) {
        simcore::ChipChoice choice;
        choice.size = 12345;
        EXPECT_EQ(sim_choice_from_request(row.in.data(), row.in.size(), choice), row.status)
            << row.what;
        EXPECT_EQ(choice.size, 12345u) << row.what;
    }
    simcore::ChipChoice none;
    EXPECT_EQ(sim_choice_from_request(nullptr, HWI_SIM_CHOOSE_IN, none),
              HWI_STATUS_BUFFER_TOO_SMALL);

    simcore::ChipChoice asleep;
    const V in = request("w25q80", HWI_SIM_DEEP_POWER_DOWN);
    ASSERT_EQ(sim_choice_from_request(in.data(), in.size(), asleep), HWI_STATUS_SUCCESS);
    EXPECT_TRUE(asleep.deep_power_down);
    simcore::Model m{};
    EXPECT_FALSE(simcore::choose_chip(m, asleep));
    EXPECT_EQ(m.family, nullptr);
    EXPECT_EQ(m.size, 0u);
}

} // namespace
