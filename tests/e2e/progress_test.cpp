// The progress of a timed phase (the bulk erase) that runs past its usual time: a line every
// 10 s into a file or a pipe, its own line rewritten on a console.
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;

// The lines of `out` that hold `text`.
std::vector<std::string> lines_with(const std::string& out, const std::string& text) {
    std::vector<std::string> found;
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        end = end == std::string::npos ? out.size() : end + 1;
        const std::string line = out.substr(at, end - at);
        if (line.find(text) != std::string::npos)
            found.push_back(line);
        at = end;
    }
    return found;
}

// lptspi --fast into a pipe with erases of several lengths on families whose table gives 8 s
// (M25P80) and 2 s (W25Q80): the tenths of the usual time as ever, then, past it, a line at it
// and every 10 s after it with the time so far and the status, until the erase ends.
TEST(Progress, EraseRunningPastItsUsualTimeSaysSoEveryTenSeconds) {
    const std::string dir = make_temp_dir(), image = dir + "/image.bin";
    write_file(image, scramble(pattern(3000, 2)));
    const std::string late = "erasing     longer than usual: ";
    const std::string tenths = "erasing 10 20 30 40 50 60 70 80 90 100";
    const struct {
        const char* flash;
        const char* erase_ms;
        std::vector<std::string> lines; // past the usual time
        std::string end, shown;         // the phase's last line; its tenths
    } cases[] = {
        {"m25p80", "5000", {}, "5.0 s", "erasing 10 20 30 40 50 60 100"},
        {"m25p80", "8500", {"0:08 so far, usually 8.0 s"}, "8.5 s", tenths},
        {"m25p80",
         "25000",
         {"0:08 so far, usually 8.0 s", "0:18 so far, usually 8.0 s"},
         "25.0 s",
         tenths},
        {"m25p80",
         "38500",
         {"0:08 so far, usually 8.0 s", "0:18 so far, usually 8.0 s", "0:28 so far, usually 8.0 s",
          "0:38 so far, usually 8.0 s"},
         "38.5 s",
         tenths},
        {"w25q80", "11000", {"0:02 so far, usually 2.0 s"}, "11.0 s", tenths},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.flash) + " " + c.erase_ms);
        RunResult run = run_program({TOOL, "--fast", image}, {{"LPTSPI_SIM_CHIP", dir + "/chip"},
                                                              {"LPTSPI_SIM_FLASH", c.flash},
                                                              {"LPTSPI_SIM_ERASE_MS", c.erase_ms}});
        EXPECT_EQ(run.status, 0) << run.out;
        std::vector<std::string> expected;
        for (const std::string& line : c.lines)
            expected.push_back(late + line + " (status 03)\n");
        EXPECT_EQ(lines_with(run.out, late), expected);
        std::string shown;
        without_progress(run.out, &shown);
        EXPECT_EQ(shown.substr(0, shown.find('\n')), c.shown);
        EXPECT_EQ(lines_with(run.out, "erasing     100%"),
                  std::vector<std::string>{"erasing     100%, " + c.end + "\n"});
    }
}

} // namespace
