// The settings of the chip's second status register, deep power-down and parameter table: their
// values, the families that cannot have them, and the station's boards that name them.
#include "sim/operator.h"
#include "sim/pc.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

std::map<std::string, std::string> g_env;

bool parse(const std::string& vars, sim::Settings& out, std::string& error) {
    g_env.clear();
    std::istringstream in(vars);
    for (std::string v; in >> v;) {
        g_env["LPTSPI_SIM_" + v.substr(0, v.find('='))] = v.substr(v.find('=') + 1);
    }
    return sim::parse_settings(
        [](const char* name) {
            auto it = g_env.find(name);
            return it == g_env.end() ? nullptr : it->second.c_str();
        },
        out, error);
}

TEST(ChipSettings, ValuesAndTheFamiliesThatCannotHaveThem) {
    sim::Settings s;
    std::string error;
    ASSERT_TRUE(parse("FLASH=w25q128 STATUS2=0x42 ASLEEP=1 SFDP=wrong-erase", s, error)) << error;
    EXPECT_EQ(s.status2, 0x42);
    EXPECT_TRUE(s.status2_given);
    EXPECT_TRUE(s.asleep && s.asleep_given);
    EXPECT_EQ(s.sfdp, sim::Sfdp::wrong_erase);
    sim::Settings d;
    ASSERT_TRUE(parse("", d, error));
    EXPECT_FALSE(d.status2_given || d.asleep || d.asleep_given);
    EXPECT_EQ(d.sfdp, sim::Sfdp::family);
    ASSERT_TRUE(parse("FLASH=m25p80 STATUS2=0 ASLEEP=0 SFDP=none", s, error)) << error;

    for (auto [vars, message] : {
             std::pair{"STATUS2=256", "LPTSPI_SIM_STATUS2=256: expected a status register 2 byte "
                                      "(hex with 0x, or decimal) from 0 to 255"},
             std::pair{"FLASH=gd25q80 STATUS2=2",
                       "LPTSPI_SIM_STATUS2=2: the gd25q80 has no status register 2 (only 0 is "
                       "accepted)"},
             std::pair{"ASLEEP=yes", "LPTSPI_SIM_ASLEEP=yes: expected 1 or 0"},
             std::pair{"FLASH=sst25vf080b ASLEEP=1",
                       "LPTSPI_SIM_ASLEEP=1: the sst25vf080b has no deep power-down"},
             std::pair{"SFDP=lies", "LPTSPI_SIM_SFDP=lies: expected family, none, wrong-size or "
                                    "wrong-erase"},
             std::pair{"SFDP=wrong-size",
                       "LPTSPI_SIM_SFDP=wrong-size: the m25p80 publishes no parameter table to "
                       "lie in"},
         }) {
        sim::Settings bad;
        std::string why;
        EXPECT_FALSE(parse(vars, bad, why)) << vars;
        EXPECT_EQ(why, message);
    }
}

TEST(ChipSettings, StationBoardsNameThem) {
    sim::Settings base;
    base.chip_path = "/tmp/chip.bin";
    base.boards = "w25q80:status2=0x02:asleep=1,mx25l8006e:sfdp=wrong-size,end";
    std::vector<sim::detail::Board> boards;
    bool end = false;
    std::string error;
    ASSERT_TRUE(sim::detail::plan_boards(base, boards, end, error)) << error;
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[0].settings.status2, 0x02);
    EXPECT_TRUE(boards[0].settings.asleep);
    EXPECT_EQ(boards[1].settings.sfdp, sim::Sfdp::wrong_size);
    base.boards = "m25p80:sleep=1";
    EXPECT_FALSE(sim::detail::plan_boards(base, boards, end, error));
    EXPECT_EQ(error, "LPTSPI_SIM_BOARDS=m25p80:sleep=1: m25p80:sleep=1: expected "
                     "FAMILY[:name=value...][,FAMILY...][,end], the names noise, status, stuck, "
                     "wp, id, size, erase_ms, program_us, timing, miso, status2, asleep, sfdp or "
                     "bounce");
}

} // namespace
