// What the programs refuse before they touch a board, and how they end: the runs with a verdict
// (lptspi --fast, --verify, --station, lptspi-backup) with a FAIL line whatever they refuse, an
// empty image included; lptspi's own run as it always did.
#include "../support/process.h"
#include "../support/runs.h"

#include "sha256.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const std::string BACKUP = LPTSPI_BACKUP_EXE;
const std::string USAGE = "lptspi [--port LPTn] [--fast | --verify] program.bin";
const std::string NOTHING = ": nothing done\n";
using Args = std::vector<std::string>;

class RefusedTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";
    std::string trace = dir + "/trace";
    std::string before = pattern(1 << 20, 0x33); // the chip before each run

    void SetUp() override { write_file(chip, before); }

    // Every file in the folder but the trace, by name.
    std::map<std::string, std::string> files() {
        std::map<std::string, std::string> all;
        for (const std::string& name : folder_entries(dir)) {
            if (name != "trace")
                all[name] = read_file(dir + "/" + name);
        }
        return all;
    }

    // `argv` on a simulated PC with the chip file and a trace (and `env`): its transcript and
    // status, the port untouched, every file (the chip's too) as it was and none made.
    void refused(const Args& argv, const Env& env, const std::string& out, int status = 1) {
        Env all = {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_TRACE", trace}};
        all.insert(all.end(), env.begin(), env.end());
        const std::map<std::string, std::string> kept = files();
        RunResult run = run_program(argv, all);
        EXPECT_EQ(run.out, out);
        EXPECT_EQ(run.status, status);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(read_file(trace), "") << "the port was touched";
        EXPECT_TRUE(files() == kept) << "a file was changed, made or removed";
    }
};

// A missing file, a folder, an image over 4095 pages, a bad option, a bad LPTSPI_PORT, a port
// in use: every run with a verdict ends with "FAIL: ...", after the usage on a line of its own;
// lptspi's own run says what it always said, and lptspi-backup ends with FAIL too.
TEST_F(RefusedTest, EveryRefusalEndsWithAVerdict) {
    const std::string image = dir + "/image.bin", big = dir + "/big.bin", none = dir + "/none.bin";
    write_file(image, scramble(pattern(600, 4)));
    write_file(big, std::string(1048321, 'x'));
    const std::string too_big = "\n Error program greater than 1MB program don't fit\n";
    const std::string firmware = "firmware " + image + ": 3 pages, sha256 ";
    struct Case {
        Args argv;
        Env env;
        std::string out;
    };
    std::vector<Case> cases;
    for (const std::string mode : {"--fast", "--verify", "--station"}) {
        cases.push_back({{TOOL, mode, none},
                         {},
                         "Cant open " + none + " \nFAIL: " + none + " cannot be opened" + NOTHING});
        cases.push_back({{TOOL, mode, dir},
                         {},
                         "Cant read " + dir + " \nFAIL: " + dir + " cannot be read" + NOTHING});
        cases.push_back(
            {{TOOL, mode, big},
             {},
             too_big + "FAIL: " + big + " is larger than 4095 pages of 256 bytes" + NOTHING});
        cases.push_back(
            {{TOOL, mode, "--slow", image},
             {},
             "Error unknown option --slow \n" + USAGE + "\nFAIL: unknown option --slow" + NOTHING});
        cases.push_back(
            {{TOOL, "--port", "LPT2", mode, "--port", "LPT3", image},
             {},
             "Error --port given twice \n" + USAGE + "\nFAIL: --port given twice" + NOTHING});
        cases.push_back({{TOOL, mode, image},
                         {{"LPTSPI_PORT", "PRN"}},
                         "Error LPTSPI_PORT takes LPT1 to LPT9, not PRN \nFAIL: LPTSPI_PORT takes "
                         "LPT1 to LPT9, not PRN" +
                             NOTHING});
        cases.push_back({{TOOL, mode, image, "--port", "LPT1"},
                         {},
                         "Error --port after " + image +
                             ": options go before the file, nothing done \nFAIL: --port after "
                             "the file" +
                             NOTHING});
    }
    // The station's port in use: the firmware line, the port's lines and the verdict.
    const std::string busy = PORT_IN_USE + GAME_OVER;
    char sha[SHA256_HEX];
    const std::string raw = pattern(600, 4);
    sha256_hex(reinterpret_cast<const unsigned char*>(raw.data()), raw.size(), sha);
    cases.push_back({{TOOL, "--station", image},
                     {{"LPTSPI_SIM_LPT", "busy"}},
                     firmware + sha + "\n" + busy +
                         "FAIL: LPT1 cannot be used (see above): nothing written\n"});
    cases.push_back({{TOOL, "--fast", image},
                     {{"LPTSPI_SIM_LPT", "busy"}},
                     busy + "FAIL: LPT1 cannot be used (see above): nothing written\n"});
    // lptspi's own run: what it always said.
    cases.push_back({{TOOL, none}, {}, "Cant open " + none + " \n"});
    cases.push_back({{TOOL, dir}, {}, "Cant read " + dir + " \n"});
    cases.push_back({{TOOL, big}, {}, too_big});
    cases.push_back({{TOOL, "--slow", image}, {}, "Error unknown option --slow \n" + USAGE});
    cases.push_back({{TOOL, image},
                     {{"LPTSPI_PORT", "PRN"}},
                     "Error LPTSPI_PORT takes LPT1 to LPT9, not PRN \n"});
    cases.push_back({{TOOL, image}, {{"LPTSPI_SIM_LPT", "busy"}}, busy});
    // lptspi-backup: the verdict after every refusal.
    const std::string backup = dir + "/backup.bin";
    cases.push_back({{BACKUP, "--slow", backup},
                     {},
                     "Error unknown option --slow \nlptspi-backup [--port LPTn] backup.bin\nFAIL: "
                     "unknown option --slow" +
                         NOTHING});
    cases.push_back({{BACKUP, backup},
                     {{"LPTSPI_PORT", "PRN"}},
                     "Error LPTSPI_PORT takes LPT1 to LPT9, not PRN \nFAIL: LPTSPI_PORT takes "
                     "LPT1 to LPT9, not PRN" +
                         NOTHING});
    cases.push_back({{BACKUP, backup, "extra"},
                     {},
                     "Error wrong number of arguments passed \nlptspi-backup backup.bin\nFAIL: "
                     "wrong number of arguments" +
                         NOTHING});
    cases.push_back({{BACKUP, backup},
                     {{"LPTSPI_SIM_LPT", "busy"}},
                     busy + "FAIL: LPT1 cannot be used (see above): nothing written\n"});
    for (const Case& c : cases) {
        std::string shown;
        for (size_t i = 1; i < c.argv.size(); i++)
            shown += c.argv[i].substr(c.argv[i].rfind('/') + 1) + " ";
        SCOPED_TRACE(shown + (c.env.empty() ? "" : c.env[0].first + "=" + c.env[0].second));
        refused(c.argv, c.env, c.out);
    }
}

// An empty image: every run with a verdict refuses it before the port is touched (it would leave
// every board erased, or pass any board), pointing to --erase; the station makes no log. Only
// lptspi's own run takes it, as it always did: the chip bulk-erased, nothing programmed.
TEST_F(RefusedTest, EmptyImageIsRefusedButByLptspisOwnRun) {
    const std::string empty = dir + "/empty.bin", log = dir + "/log.csv";
    write_file(empty, "");
    const std::string said = "Error " + empty +
                             " is empty: nothing to write (lptspi --erase erases the flash) \n"
                             "FAIL: " +
                             empty + " is empty" + NOTHING;
    for (const Args& argv :
         {Args{TOOL, "--fast", empty}, Args{TOOL, "--verify", empty},
          Args{TOOL, "--station", empty}, Args{TOOL, "--station", "--log", log, empty},
          Args{TOOL, "--port", "LPT1", "--fast", empty}}) {
        SCOPED_TRACE(argv[1] + " " + argv[2]);
        refused(argv, {{"LPTSPI_SIM_BOARDS", "m25p80,end"}}, said);
    }
    RunResult plain = run_program({TOOL, empty}, {{"LPTSPI_SIM_CHIP", chip}});
    EXPECT_EQ(plain.status, 0);
    const std::string end = "\n0 pages ...\n\ndone, verifying...\n\ndone!";
    ASSERT_GE(plain.out.size(), end.size());
    EXPECT_EQ(plain.out.substr(plain.out.size() - end.size()), end);
    EXPECT_TRUE(read_file(chip) == std::string(1 << 20, '\xFF'));
}

} // namespace
