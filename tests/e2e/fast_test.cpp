// lptspi --fast on the simulated PC: the same phases, messages and exit statuses as the default
// run on the fast link, with the frames it sends decoded as the flash sees them.
#include "../support/frames.h"
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const size_t CHIP_SIZE = 1 << 20;

class FastTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";
    std::string image = dir + "/image.bin";
    std::string trace = dir + "/trace";

    RunResult run(const std::vector<std::string>& args, const std::string& raw, Env env = {}) {
        write_file(image, scramble(raw));
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        env.emplace_back("LPTSPI_SIM_ERASE_MS", "250");
        env.emplace_back("LPTSPI_SIM_TRACE", trace);
        env.emplace_back("LPTSPI_SIM_REPORT", "1");
        std::vector<std::string> argv{TOOL};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_program(argv, env);
    }
};

// Page 1 is blank: it is left as the erase left it, and still verified.
std::string three_pages_one_blank() {
    std::string raw = pattern(256, 3) + std::string(256, '\xFF') + pattern(44, 5);
    return raw;
}

std::string transcript(int pages, const std::string& erase_lines) {
    std::string text = OPENING + IDLE + "Bulk erasing flash checking status... \n" + erase_lines +
                       "\n done! \nprogramming code..\n" + format("%d pages ...\n", pages);
    for (int n = 0; n < pages; n++)
        text += format("\rprogramming at %4d", n);
    text += "\ndone, verifying...\n";
    for (int n = 1; n <= pages; n++)
        text += format("\rpage %d ok", n);
    return text + "\ndone!";
}

TEST_F(FastTest, ThreePagesOneBlankInOrder) {
    const std::string raw = three_pages_one_blank();
    RunResult result = run({"--fast", image}, raw);
    // A 250 ms erase, polled without pauses: the status shown when it changes and every 100 ms.
    EXPECT_EQ(result.out,
              transcript(3, "\rstatus = 03 \rstatus = 03 \rstatus = 03 \rstatus = 00 "));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(decode_frames(read_file(trace)),
              "R 077a\nW 077a 34\nR 077a x3\nW 077a 35\nW 037a 00\nR 0379\n"
              "idle\nS 100\n05=00\n"                          // lines idle, check
              "06\nc7\n05=03*16 x621\n05=00*16\n"             // erase, no pause after 06
              "06\n02 00 00 00 +256\n05=03*16 x3\n05=00*16\n" // page 0; page 1 blank
              "06\n02 00 02 00 +256\n05=03*16 x3\n05=00*16\n" // page 2
              "S 100\n0b 00 00 00 +257\n0b 00 01 00 +257\n0b 00 02 00 +257\n" // verify all three
              "idle\nS 100\n");
    // One driver request a frame, one a single access outside frames (ECP set-up, idle lines),
    // and the question where LPT1 is.
    EXPECT_NE(result.err.find("lptspi-sim: driver requests: 651\n"), std::string::npos)
        << result.err;
    std::string flash = read_file(chip);
    EXPECT_EQ(flash.substr(0, 768), programmed(raw));
    EXPECT_EQ(flash.substr(768), std::string(CHIP_SIZE - 768, '\xFF'));
}

} // namespace

// A page that reads back wrong ends the fast run as it ends the default one; and a driver that
// does not know the frame request (an older hwinterface.sys) gets the same accesses one request
// at a time, with the same result.
TEST_F(FastTest, FailuresAndOlderDriversEndAsTheDefaultRunDoes) {
    const std::string raw(6 * 256, '\x00');
    const Env stuck = {{"LPTSPI_SIM_STUCK", "0x300:0x81,0x31F:0x10"}};
    RunResult slow = run({image}, raw, stuck);
    RunResult fast = run({"--fast", image}, raw, stuck);
    EXPECT_EQ(slow.status, 2);
    EXPECT_EQ(fast.status, 2);
    const std::string failed = "\rpage 3 ok!!! page 3 failed to verify \n000: 81 != 00\n01f: 10 != "
                               "00\n\ndone!";
    EXPECT_EQ(slow.out.substr(slow.out.size() - failed.size()), failed);
    EXPECT_EQ(fast.out.substr(fast.out.rfind("programming code")),
              slow.out.substr(slow.out.rfind("programming code")));

    const std::string full = pattern(20 * 256, 9);
    RunResult current = run({"--fast", image}, full);
    const std::string current_trace = read_file(trace);
    for (const char* hwi : {"no-frame", "ports-only"}) {
        SCOPED_TRACE(hwi);
        write_file(chip, std::string(CHIP_SIZE, '\x5A'));
        RunResult older = run({"--fast", image}, full, {{"LPTSPI_SIM_HWI", hwi}});
        EXPECT_EQ(older.out, current.out);
        EXPECT_EQ(older.status, 0);
        EXPECT_TRUE(read_file(trace) == current_trace) << "the port accesses differ";
        EXPECT_EQ(read_file(chip).substr(0, full.size()), full);
    }
}

// Only a first argument that begins with "--" is an option.
TEST_F(FastTest, CommandLine) {
    const struct {
        std::vector<std::string> args;
        std::string out;
    } refused[] = {
        {{"--slow", image}, "Error unknown option --slow \nlptspi [--fast] program.bin"},
        {{"--", image}, "Error unknown option -- \nlptspi [--fast] program.bin"},
        {{"--fast"}, "Error wrong number of arguments passed \nlptspi --fast program.bin"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.args[0]);
        RunResult result = run(r.args, "abc");
        EXPECT_EQ(result.out, r.out);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(read_file(trace), "") << "the port was touched";
    }
    // After the image, "--fast" is one of the arguments lptspi has always ignored.
    RunResult late = run({image, "--fast"}, pattern(256));
    EXPECT_EQ(late.status, 0);
    EXPECT_NE(decode_frames(read_file(trace)).find("06\nS 100\n02 00 00 00 +256\n"),
              std::string::npos);
}
