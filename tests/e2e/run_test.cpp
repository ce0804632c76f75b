// Whole programming runs of lptspi-sim against the simulated PC: the exact transcript, the exit
// status and what the chip holds afterwards.
#include "image.h"
#include "../support/frames.h"
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const size_t CHIP_SIZE = 1 << 20;

// The port set-up of a run on a port with an ECP: byte mode, control lines reset, status read.
const std::string ECP_SETUP = "R 077a\nW 077a 34\nR 077a x3\nW 077a 35\nW 037a 00\nR 0379\n";

std::string opening(int family = 2, bool ecp = true) {
    std::string text = "Opening parallel port LPT1 \n" + format("On windows system %d \n", family);
    if (ecp)
        text += "setting ECP port to SPP bidirectional mode  \n";
    return text;
}

// With a 250 ms erase the tool's polls, 100 ms apart, see it busy twice.
const char* const ERASE_MS = "250";

// `erase`: the status lines of the wait for the erase (the default run's polls, 100 ms apart).
std::string
erase_and_program(int pages,
                  const std::string& erase = "\rstatus = 03 \rstatus = 03 \rstatus = 00 ") {
    std::string text = IDLE + "Bulk erasing flash checking status... \n" + erase +
                       "\n done! \nprogramming code..\n" + format("%d pages ...\n", pages);
    for (int n = 0; n < pages; n++)
        text += format("\rprogramming at %4d", n);
    return text + "\ndone, verifying...\n";
}

std::string verified(int pages) {
    std::string text;
    for (int n = 1; n <= pages; n++)
        text += format("\rpage %d ok", n);
    return text + "\ndone!";
}

class RunTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";
    std::string image = dir + "/image.bin";

    std::string trace;  // the port trace of the last traced run
    std::string events; // and as the flash sees it

    // lptspi-sim on `raw` as an image; `first` an argument before the image (an option).
    RunResult run(const std::string& raw, Env env = {}, bool traced = false,
                  const std::string& first = "") {
        write_file(image, scramble(raw));
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        env.emplace_back("LPTSPI_SIM_ERASE_MS", ERASE_MS);
        if (traced)
            env.emplace_back("LPTSPI_SIM_TRACE", dir + "/trace");
        RunResult result = run_program(first.empty() ? std::vector<std::string>{TOOL, image}
                                                     : std::vector<std::string>{TOOL, first, image},
                                       env);
        const bool reporting = std::find(env.begin(), env.end(),
                                         Env::value_type("LPTSPI_SIM_REPORT", "1")) != env.end();
        EXPECT_EQ(result.err.empty(), !reporting);
        if (traced) {
            trace = read_file(dir + "/trace");
            events = decode_frames(trace);
        }
        return result;
    }
    std::string chip_bytes() { return read_file(chip); }
};

TEST_F(RunTest, EmptyImageErasesAndProgramsNothing) {
    write_file(chip, std::string(CHIP_SIZE, '\x00'));
    RunResult result = run("");
    EXPECT_EQ(result.out, opening() + erase_and_program(0) + "\ndone!");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(chip_bytes(), std::string(CHIP_SIZE, '\xFF'));
}

// Every frame, pause and idle write of a two-page run, in order, on a PC where the tool first
// registers and starts the driver. The last page carries key bytes past the image's end.
TEST_F(RunTest, TwoPageRunInOrder) {
    std::string raw = pattern(300);
    RunResult result =
        run(raw, {{"LPTSPI_SIM_DRIVER", "unregistered"}, {"LPTSPI_SIM_PROGRAM_US", "150"}}, true);
    EXPECT_EQ(result.out, opening() + erase_and_program(2) + verified(2));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(events, ECP_SETUP +
                          "idle\nS 100\n05=00\n" // lines idle, check
                          "06\nS 100\nc7\nS 100\n05=03\nS 100\n05=03\nS 100\n05=00\n" // erase
                          "06\nS 100\n02 00 00 00 +256\n05=03 x2\n05=00\n"            // page 0
                          "06\nS 100\n02 00 01 00 +256\n05=03 x2\n05=00\n"            // page 1
                          "S 100\n0b 00 00 00 +257\n0b 00 01 00 +257\n"               // verify
                          "idle\nS 100\n");
    std::string flash = chip_bytes();
    EXPECT_EQ(flash.substr(0, 512), programmed(raw));
    EXPECT_EQ(flash.substr(512), std::string(CHIP_SIZE - 512, '\xFF'));
}

// A PCI card's port, wherever the system put it: the driver says where LPT1 is, the tool says so
// in one line and drives the card's registers (the same frames as at 0x378) and nothing else. An
// older driver cannot say, nor can the 95/98/Me family: the tool stays at 0x378, where nothing
// answers.
TEST_F(RunTest, CardWhereverTheSystemPutIt) {
    std::string raw = pattern(300);
    RunResult result =
        run(raw, {{"LPTSPI_SIM_PORT", "0xD010,0xD000"}, {"LPTSPI_SIM_PROGRAM_US", "150"}}, true);
    EXPECT_EQ(result.out, opening(2, false) + "LPT1 at 0xd010, ECP at 0xd000 \n" +
                              "setting ECP port to SPP bidirectional mode  \n" +
                              erase_and_program(2) + verified(2));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(chip_bytes().substr(0, 512), programmed(raw));
    EXPECT_EQ(decode_frames(trace, "d010"),
              "R d002\nW d002 34\nR d002 x3\nW d002 35\nW d012 00\nR d011\n"
              "idle\nS 100\n05=00\n06\nS 100\nc7\nS 100\n05=03\nS 100\n05=03\nS 100\n05=00\n"
              "06\nS 100\n02 00 00 00 +256\n05=03 x2\n05=00\n"
              "06\nS 100\n02 00 01 00 +256\n05=03 x2\n05=00\n"
              "S 100\n0b 00 00 00 +257\n0b 00 01 00 +257\nidle\nS 100\n");
    EXPECT_NE(run(raw, {{"LPTSPI_SIM_PORT", "0xD010"}}).out.find("LPT1 at 0xd010, no ECP \n"),
              std::string::npos);

    for (const Env& env : {Env{{"LPTSPI_SIM_HWI", "ports-only"}},
                           Env{{"LPTSPI_SIM_PLATFORM", "9x"}, {"LPTSPI_SIM_DRIVER", "missing"}}}) {
        SCOPED_TRACE(env[0].second);
        Env card = env;
        card.emplace_back("LPTSPI_SIM_PORT", "0xD010,0xD000");
        result = run(raw, card);
        EXPECT_EQ(result.out, opening(env.size() == 1 ? 2 : 1, false) +
                                  "serial flash not idle! reporting state 0xff\n\n");
        EXPECT_EQ(result.status, 1);
    }
}

// lptspi --fast: the same phases and messages on the fast link, one driver request a frame, no
// pause after a write enable, the chip woken from deep power-down (0xab, then the table's longest
// release time), identified (twice), its parameter table read (none here) and named, the erase
// polled (16
// readings a frame) and shown when it changes and every 100 ms, the erase's first page read
// back blank, a blank page (page 1) left as the erase left it and still verified.
TEST_F(RunTest, FastRunInOrder) {
    const std::string raw = pattern(256, 3) + std::string(256, '\xFF') + pattern(44, 5);
    RunResult result = run(raw, {{"LPTSPI_SIM_REPORT", "1"}}, true, "--fast");
    std::string shown;
    const std::string out = without_progress(result.out, &shown);
    const std::string expected = opening() + IDLE +
                                 "flash M25P80 (20 20 14), 1024 KiB\nBulk erasing flash checking "
                                 "status... \nprogramming code..\n3 pages ...\n" +
                                 pass_line("M25P80", image, 3, raw);
    EXPECT_EQ(out.substr(0, expected.size()), expected);
    EXPECT_EQ(out.substr(out.size() - 4), " s)\n");
    // The erase over in a quarter of a second; three pages a third at a time.
    EXPECT_EQ(shown, "erasing 100\nprogramming 33 66 100\nverifying 33 66 100\n");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(events, ECP_SETUP + "idle\nS 100\nab\nR 0378 x31\n05=00\n9f 00 00 00 x2\n"
                                  "5a 00 00 00 +17\n"
                                  "06\nc7\n05=03*16 x621\n05=00*16 x2\n0b 00 00 00 +257\n"
                                  "06\n02 00 00 00 +256\n05=03*16 x3\n05=00*16\n"
                                  "06\n02 00 02 00 +256\n05=03*16 x3\n05=00*16\n"
                                  "0b 00 00 00 +257\n0b 00 01 00 +257\n0b 00 02 00 +257\n"
                                  "idle\nS 100\n");
    // 646 frames, 41 single accesses (the ECP set-up, the idle lines, the wait after the
    // release), the question where LPT1 is.
    EXPECT_NE(result.err.find("lptspi-sim: driver requests: 688\n"), std::string::npos)
        << result.err;
    EXPECT_EQ(chip_bytes().substr(0, 768), programmed(raw));
    EXPECT_EQ(chip_bytes().substr(768), std::string(CHIP_SIZE - 768, '\xFF'));

    // Without the frame request (an older driver, or the 95/98/Me family's port instructions)
    // the same accesses, one request each; a page that reads back wrong ends as in the default
    // run.
    const std::string fast_trace = trace;
    for (const Env& env : {Env{{"LPTSPI_SIM_PLATFORM", "9x"}, {"LPTSPI_SIM_DRIVER", "missing"}},
                           Env{{"LPTSPI_SIM_HWI", "no-frame"}, {"LPTSPI_SIM_REPORT", "1"}}}) {
        result = run(raw, env, true, "--fast");
        EXPECT_TRUE(trace == fast_trace) << env[0].second;
    }
    // The older driver is asked for a frame once, then for each access alone.
    unsigned long accesses = 0, requests = 0;
    std::sscanf(result.err.c_str(),
                "lptspi-sim: port accesses: %lu\nlptspi-sim: driver requests: %lu", &accesses,
                &requests);
    EXPECT_EQ(requests, accesses + 2) << result.err;
    const Env stuck = {{"LPTSPI_SIM_STUCK", "0x300:0x81"}};
    std::string slow = run(std::string(6 * 256, '\x00'), stuck).out;
    std::string fast = run(std::string(6 * 256, '\x00'), stuck, false, "--fast").out;
    EXPECT_EQ(slow.substr(slow.rfind("\rpage 1 ok")), "\rpage 1 ok\rpage 2 ok\rpage 3 ok!!! page 3 "
                                                      "failed to verify \n000: 81 != 00\n\ndone!");
    // The fast run's failure starts a line of its own, and its verdict names the page.
    EXPECT_EQ(fast.substr(fast.rfind("verifying    50%")),
              "verifying    50%  3 of 6 pages, 0:00 left\n!!! page 3 failed to verify \n000: 81 != "
              "00\nFAIL: page 3 differs from " +
                  image + " (1 byte)\n");
}

// Only a first argument that begins with "--" is an option.
TEST_F(RunTest, Options) {
    for (const char* option : {"--slow", "--"}) {
        RunResult result = run("abc", {}, true, option);
        EXPECT_EQ(result.out, "Error unknown option " + std::string(option) +
                                  " \nlptspi [--port LPTn] [--fast | --verify] program.bin");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(trace, "");
    }
    RunResult alone = run_program({TOOL, "--fast"});
    EXPECT_EQ(alone.out, "Error wrong number of arguments passed \nlptspi --fast program.bin\n"
                         "FAIL: wrong number of arguments: nothing done\n");
    EXPECT_EQ(alone.status, 1);
    // After the image, words that are not its options are ignored, as they always were: the run
    // is the plain one.
    EXPECT_EQ(
        run_program({TOOL, image, "extra", "--slow"}, {{"LPTSPI_SIM_TRACE", dir + "/late"}}).status,
        0);
    EXPECT_NE(decode_frames(read_file(dir + "/late")).find("06\nS 100\n02 00 00 00 +256\n"),
              std::string::npos);
}

TEST_F(RunTest, FullImageOf4095Pages) {
    std::string raw = pattern(MAX_IMAGE_SIZE);
    RunResult result = run(raw);
    EXPECT_EQ(result.out, opening() + erase_and_program(4095) + verified(4095));
    EXPECT_EQ(result.status, 0);
    std::string flash = chip_bytes();
    EXPECT_TRUE(flash.substr(0, MAX_IMAGE_SIZE) == raw);
    EXPECT_EQ(flash.substr(MAX_IMAGE_SIZE), std::string(256, '\xFF'));
}

TEST_F(RunTest, NinetyFiveFamilyDrivesThePortDirectly) {
    std::string raw = pattern(600);
    RunResult result = run(
        raw,
        {{"LPTSPI_SIM_PLATFORM", "9x"}, {"LPTSPI_SIM_ECP", "0"}, {"LPTSPI_SIM_DRIVER", "missing"}});
    EXPECT_EQ(result.out, opening(1, false) + erase_and_program(3) + verified(3));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(chip_bytes().substr(0, 768), programmed(raw));
}

TEST_F(RunTest, FlashThatIsNotIdleIsLeftUntouched) {
    const struct {
        const char* status;
        const char* shown;
    } cases[] = {{"0x02", "0x02"}, {"0x1C", "0x1c"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        std::string before = pattern(CHIP_SIZE);
        write_file(chip, before);
        RunResult result = run(pattern(1000), {{"LPTSPI_SIM_STATUS", c.status}}, true);
        EXPECT_EQ(result.out,
                  opening() + "serial flash not idle! reporting state " + c.shown + "\n\n");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(events, ECP_SETUP + "idle\nS 100\n" + "05=" + (c.shown + 2) + "\n");
        EXPECT_TRUE(chip_bytes() == before);
    }
}

TEST_F(RunTest, StuckBitsFailVerificationOfTheirPageAndStopThere) {
    std::string raw(6 * 256, '\x00');
    RunResult result = run(raw, {{"LPTSPI_SIM_STUCK", "0x300:0x81,0x31F:0x10"}});
    EXPECT_EQ(result.out, opening() + erase_and_program(6) + "\rpage 1 ok\rpage 2 ok\rpage 3 ok" +
                              "!!! page 3 failed to verify \n000: 81 != 00\n01f: 10 != 00\n" +
                              "\ndone!");
    EXPECT_EQ(result.status, 2);
}

TEST_F(RunTest, NoChipOrDeadDriverReadsAsBusy) {
    const Env cases[] = {{{"LPTSPI_SIM_MISO", "high"}}, {{"LPTSPI_SIM_IOCTL", "fail"}}};
    for (const Env& env : cases) {
        SCOPED_TRACE(env[0].first);
        RunResult result = run("abc", env);
        EXPECT_EQ(result.out, opening(2, env[0].first != "LPTSPI_SIM_IOCTL") +
                                  "serial flash not idle! reporting state 0xff\n\n");
        EXPECT_EQ(result.status, 1);
    }
}

TEST_F(RunTest, PortAndDriverFailures) {
    const std::string load_failed = "Failed to load parallel port driver! \n";
    const struct {
        Env env;
        std::string out;
    } cases[] = {
        {{{"LPTSPI_SIM_LPT", "busy"}}, PORT_IN_USE},
        {{{"LPTSPI_SIM_PLATFORM", "unknown"}},
         "Opening parallel port LPT1 \nOn windows system 0 \n" + load_failed},
        {{{"LPTSPI_SIM_DRIVER", "missing"}},
         NT_OPENED + "Failed to start parallel port I/O driver!" + load_failed},
        {{{"LPTSPI_SIM_DRIVER", "unregistered"}, {"LPTSPI_SIM_SCM", "user"}},
         NT_OPENED + "Failed to install parallel port I/O driver!" + load_failed},
        {{{"LPTSPI_SIM_DRIVER", "unopenable"}},
         NT_OPENED + "Failed to start parallel port I/O driver!" + load_failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        RunResult result = run("abc", c.env, true);
        EXPECT_EQ(result.out, c.out + GAME_OVER);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(events, ""); // the port was never touched
    }
}

} // namespace
