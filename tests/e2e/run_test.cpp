// Whole programming runs of lptspi-sim against the simulated PC: the exact transcript, the exit
// status and what the chip holds afterwards.
#include "image.h"
#include "key.h"
#include "../support/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const size_t CHIP_SIZE = 1 << 20;

using Env = std::vector<std::pair<std::string, std::string>>;

std::string format(const char* fmt, int value) {
    char text[64];
    std::snprintf(text, sizeof text, fmt, value);
    return text;
}

std::string recognisable(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++)
        bytes[i] = static_cast<char>((i >> 8) ^ (i * 13));
    return bytes;
}

std::string scramble(std::string bytes) {
    descramble(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    return bytes;
}

// What the flash holds after programming `raw`: the image, then key bytes to the page's end.
std::string programmed(const std::string& raw) {
    std::string bytes = raw;
    size_t length = (raw.size() + 255) / 256 * 256;
    for (size_t i = raw.size(); i < length; i++)
        bytes += static_cast<char>(key[i]);
    return bytes;
}

std::string opening(int family = 2, bool ecp = true) {
    std::string text = "Opening parallel port LPT1 \n" + format("On windows system %d \n", family);
    if (ecp)
        text += "setting ECP port to SPP bidirectional mode  \n";
    return text;
}

// With a 250 ms erase the tool's polls, 100 ms apart, see it busy twice.
const char* const ERASE_MS = "250";

std::string erase_and_program(int pages) {
    std::string text = "serial flash in idle state 0x00\n\n"
                       "Bulk erasing flash checking status... \n"
                       "\rstatus = 03 \rstatus = 03 \rstatus = 00 "
                       "\n done! \nprogramming code..\n" +
                       format("%d pages ...\n", pages);
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

    RunResult run(const std::string& raw, Env env = {}) {
        write_file(image, scramble(raw));
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        env.emplace_back("LPTSPI_SIM_ERASE_MS", ERASE_MS);
        RunResult result = run_program({TOOL, image}, env);
        EXPECT_EQ(result.err, "");
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

TEST_F(RunTest, OneByteImageFillsItsPageWithKeyBytes) {
    RunResult result = run("\x42");
    EXPECT_EQ(result.out, opening() + erase_and_program(1) + verified(1));
    EXPECT_EQ(result.status, 0);
    std::string flash = chip_bytes();
    EXPECT_EQ(flash.substr(0, 256), programmed("\x42"));
    EXPECT_EQ(flash.substr(256), std::string(CHIP_SIZE - 256, '\xFF'));
}

TEST_F(RunTest, FullImageOf4095Pages) {
    std::string raw = recognisable(MAX_IMAGE_SIZE);
    RunResult result = run(raw);
    EXPECT_EQ(result.out, opening() + erase_and_program(4095) + verified(4095));
    EXPECT_EQ(result.status, 0);
    std::string flash = chip_bytes();
    EXPECT_TRUE(flash.substr(0, MAX_IMAGE_SIZE) == raw);
    EXPECT_EQ(flash.substr(MAX_IMAGE_SIZE), std::string(256, '\xFF'));
}

TEST_F(RunTest, NinetyFiveFamilyDrivesThePortDirectly) {
    std::string raw = recognisable(600);
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
        std::string before = recognisable(CHIP_SIZE);
        write_file(chip, before);
        RunResult result = run(recognisable(1000), {{"LPTSPI_SIM_STATUS", c.status}});
        EXPECT_EQ(result.out,
                  opening() + "serial flash not idle! reporting state " + c.shown + "\n\n");
        EXPECT_EQ(result.status, 1);
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
    const std::string game_over = "Game over cant get a handle for the parallel port ! \n";
    const std::string nt = "Opening parallel port LPT1 \nOn windows system 2 \n";
    const std::string load_failed = "Failed to load parallel port driver! \n";
    const struct {
        Env env;
        std::string out;
    } cases[] = {
        {{{"LPTSPI_SIM_LPT", "busy"}}, "Opening parallel port LPT1 \nParallel port is in use! \n"},
        {{{"LPTSPI_SIM_PLATFORM", "unknown"}},
         "Opening parallel port LPT1 \nOn windows system 0 \n" + load_failed},
        {{{"LPTSPI_SIM_DRIVER", "missing"}},
         nt + "Failed to start parallel port I/O driver!" + load_failed},
        {{{"LPTSPI_SIM_DRIVER", "unregistered"}, {"LPTSPI_SIM_SCM", "user"}},
         nt + "Failed to install parallel port I/O driver!" + load_failed},
        {{{"LPTSPI_SIM_DRIVER", "unopenable"}},
         nt + "Failed to start parallel port I/O driver!" + load_failed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        RunResult result = run("abc", c.env);
        EXPECT_EQ(result.out, c.out + game_over);
        EXPECT_EQ(result.status, 1);
    }
}

TEST_F(RunTest, ServiceRegisteredByTheToolStartsTheDriver) {
    std::string raw = recognisable(300);
    RunResult result = run(raw, {{"LPTSPI_SIM_DRIVER", "unregistered"}});
    EXPECT_EQ(result.out, opening() + erase_and_program(2) + verified(2));
    EXPECT_EQ(result.status, 0);
}

} // namespace
