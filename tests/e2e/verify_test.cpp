// lptspi --verify's verdict: the chip its identification names, on every kind of answer.
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;

// A chip of the table is named; one whose identification names no row (an unknown maker, an
// identification that reads ff ff ff) is "the flash", and is compared all the same; a page that
// differs fails as ever. The chip is only read.
TEST(Verify, VerdictNamesTheChip) {
    const std::string dir = make_temp_dir(), chip = dir + "/chip.bin", image = dir + "/image.bin";
    const std::string raw = pattern(700, 12);
    write_file(image, scramble(raw));
    std::string worn = programmed(raw);
    worn[0x105] = static_cast<char>(worn[0x105] ^ 0x04);
    const struct {
        Env env;
        std::string holds, verdict;
        int status;
    } cases[] = {
        {{}, programmed(raw), "PASS: M25P80 holds ", 0},
        {{{"LPTSPI_SIM_FLASH", "w25q80"}}, programmed(raw), "PASS: W25Q80 holds ", 0},
        {{{"LPTSPI_SIM_FLASH", "sst25vf080b"}}, programmed(raw), "PASS: SST25VF080B holds ", 0},
        {{{"LPTSPI_SIM_FLASH", "sst26vf016b"}}, programmed(raw), "PASS: SST26VF016B holds ", 0},
        {{{"LPTSPI_SIM_ID", "0xABCD14"}}, programmed(raw), "PASS: the flash holds ", 0},
        {{{"LPTSPI_SIM_ID", "0xFFFFFF"}}, programmed(raw), "PASS: the flash holds ", 0},
        {{{"LPTSPI_SIM_FLASH", "w25q80"}},
         worn,
         "FAIL: page 1 differs from " + image + " (1 byte)\n",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.verdict);
        write_file(chip, c.holds);
        Env env = c.env;
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        RunResult run = run_program({TOOL, "--verify", image}, env);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, "");
        const size_t verdict = run.out.rfind(c.status == 0 ? "PASS: " : "FAIL: ");
        ASSERT_NE(verdict, std::string::npos) << run.out;
        const std::string expected =
            c.status == 0 ? c.verdict + pass_line("", image, 3, raw).substr(13) : c.verdict;
        EXPECT_EQ(untimed(run.out.substr(verdict)),
                  c.status == 0 ? untimed(expected + "0.0 s)\n") : expected);
        EXPECT_TRUE(read_file(chip).substr(0, c.holds.size()) == c.holds);
    }
}

} // namespace
