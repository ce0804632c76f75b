// Whole programming runs of lptspi-sim against the simulated PC: the exact transcript, the exit
// status and what the chip holds afterwards.
#include "image.h"
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const size_t CHIP_SIZE = 1 << 20;

// A run's port trace, one line per event: a frame as the bytes sent (the first four, then "+N"
// for the rest), a status read as "05=" and the status; "S ms" for a pause; "idle" for the lines
// released outside a frame; any other access as traced, without the value read. Repeats are
// counted ("05=03 x2"). A frame not clocked bit by bit as the flash needs (data set, sample,
// rising edge, falling edge) shows as "bad frame".
std::string condense(const std::string& trace) {
    std::vector<std::pair<std::string, int>> events;
    auto add = [&](const std::string& event) {
        if (!events.empty() && events.back().first == event)
            events.back().second++;
        else
            events.emplace_back(event, 1);
    };
    std::vector<std::string> frame;
    bool selected = false;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        if (selected && line != "W 0378 05") {
            frame.push_back(line);
        } else if (line == "W 0378 01") {
            selected = true;
            frame.clear();
        } else if (line == "W 0378 05" && !selected) {
            add("idle");
        } else if (line == "W 0378 05") {
            selected = false;
            std::vector<unsigned> out, in;
            bool good = frame.size() % 32 == 0;
            for (size_t i = 0; good && i < frame.size(); i += 4) {
                const std::string& set = frame[i];
                bool one = set == "W 0378 03";
                good = (one || set == "W 0378 01") && frame[i + 1].rfind("R 0379 ", 0) == 0 &&
                       frame[i + 2] == (one ? "W 0378 0b" : "W 0378 09") && frame[i + 3] == set;
                if (i % 32 == 0) {
                    out.push_back(0);
                    in.push_back(0);
                }
                unsigned long sample = good ? std::stoul(frame[i + 1].substr(7), nullptr, 16) : 0;
                out.back() = out.back() << 1 | one;
                in.back() = in.back() << 1 | static_cast<unsigned>((sample >> 6) & 1);
            }
            char text[32] = "bad frame";
            if (good && out.size() == 2 && out[0] == 0x05)
                std::snprintf(text, sizeof text, "05=%02x", in[1]);
            else if (good)
                for (size_t i = 0, n = 0; i < out.size() && i < 4; i++)
                    n += std::snprintf(text + n, sizeof text - n, i ? " %02x" : "%02x", out[i]);
            add(text + (good && out.size() > 4 ? " +" + std::to_string(out.size() - 4) : ""));
        } else {
            add(line[0] == 'R' ? line.substr(0, 6) : line);
        }
    }
    if (selected)
        add("unfinished frame");
    std::string text;
    for (const auto& [event, count] : events)
        text += event + (count > 1 ? " x" + std::to_string(count) : "") + "\n";
    return text;
}

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

std::string erase_and_program(int pages) {
    std::string text = IDLE +
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

    std::string events; // the condensed port trace of the last traced run

    RunResult run(const std::string& raw, Env env = {}, bool traced = false) {
        write_file(image, scramble(raw));
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        env.emplace_back("LPTSPI_SIM_ERASE_MS", ERASE_MS);
        if (traced)
            env.emplace_back("LPTSPI_SIM_TRACE", dir + "/trace");
        RunResult result = run_program({TOOL, image}, env);
        EXPECT_EQ(result.err, "");
        if (traced)
            events = condense(read_file(dir + "/trace"));
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
// in one line and drives the card's registers and nothing else. An older driver cannot say, and
// the tool drives 0x378 as it always did, where nothing answers.
TEST_F(RunTest, CardWhereverTheSystemPutIt) {
    std::string raw = pattern(300);
    const struct {
        const char* port;
        const char* hwi;
        std::string line;  // after the driver's bring-up
        std::string setup; // the port set-up's accesses, before the idle lines
        std::string ports; // every register the run touched
    } cases[] = {
        {"0xD010,0xD000", "current", "LPT1 at 0xd010, ECP at 0xd000 \n",
         "R d002\nW d002 34\nR d002 x3\nW d002 35\nW d012 00\nR 0379\n", "d002 d010 d011 d012"},
        {"0xD010", "no-frame", "LPT1 at 0xd010, no ECP \n", "W d012 00\nR 0379\n",
         "d010 d011 d012"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port);
        RunResult result = run(raw,
                               {{"LPTSPI_SIM_PORT", c.port},
                                {"LPTSPI_SIM_HWI", c.hwi},
                                {"LPTSPI_SIM_PROGRAM_US", "150"}},
                               true);
        std::string opened = opening(2, false) + c.line;
        if (std::string(c.port).find(',') != std::string::npos)
            opened += "setting ECP port to SPP bidirectional mode  \n";
        EXPECT_EQ(result.out, opened + erase_and_program(2) + verified(2));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(chip_bytes().substr(0, 512), programmed(raw));

        // The same frames as at 0x378, on the card's data and status registers.
        std::string trace = read_file(dir + "/trace"), seen, motherboard;
        std::istringstream lines(trace);
        std::set<std::string> ports;
        for (std::string line; std::getline(lines, line);) {
            if (line[0] != 'S')
                ports.insert(line.substr(2, 4));
            if (line.compare(2, 4, "d010") == 0)
                line.replace(2, 4, "0378");
            else if (line.compare(2, 4, "d011") == 0)
                line.replace(2, 4, "0379");
            motherboard += line + "\n";
        }
        for (const std::string& port : ports)
            seen += (seen.empty() ? "" : " ") + port;
        EXPECT_EQ(seen, c.ports);
        EXPECT_EQ(condense(motherboard),
                  c.setup + "idle\nS 100\n05=00\n"
                            "06\nS 100\nc7\nS 100\n05=03\nS 100\n05=03\nS 100\n05=00\n"
                            "06\nS 100\n02 00 00 00 +256\n05=03 x2\n05=00\n"
                            "06\nS 100\n02 00 01 00 +256\n05=03 x2\n05=00\n"
                            "S 100\n0b 00 00 00 +257\n0b 00 01 00 +257\n"
                            "idle\nS 100\n");
    }

    // An older driver does not know where the card is: the tool stays at 0x378, as it always
    // did, where nothing answers. So does the 95/98/Me family, which has no driver to ask.
    for (const Env& env : {Env{{"LPTSPI_SIM_HWI", "ports-only"}},
                           Env{{"LPTSPI_SIM_PLATFORM", "9x"}, {"LPTSPI_SIM_DRIVER", "missing"}}}) {
        SCOPED_TRACE(env[0].second);
        Env card = env;
        card.emplace_back("LPTSPI_SIM_PORT", "0xD010,0xD000");
        RunResult result = run(raw, card);
        EXPECT_EQ(result.out, opening(env.size() == 1 ? 2 : 1, false) +
                                  "serial flash not idle! reporting state 0xff\n\n");
        EXPECT_EQ(result.status, 1);
    }
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
