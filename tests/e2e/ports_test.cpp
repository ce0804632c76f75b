// The programs on a parallel port that is not LPT1 (--port LPTn), lptspi-check's list of the
// ports when the one asked for cannot be claimed, lptspi --verify, and the options' refusals.
#include "../support/frames.h"
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const std::string BACKUP = LPTSPI_BACKUP_EXE;
const std::string CHECK = LPTSPI_CHECK_EXE;
const size_t MIB = 1 << 20;
// A PC whose only parallel port is a PCI card that the system named LPT3.
const Env CARD_AS_LPT3 = {{"LPTSPI_SIM_PORT", "LPT3:0xD010,0xD000"}};
const std::string NO_PORT = PORT_IN_USE + GAME_OVER;

// Every register a trace touched, once each.
std::set<std::string> registers(const std::string& trace) {
    std::set<std::string> seen;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        if (line[0] == 'R' || line[0] == 'W')
            seen.insert(line.substr(2, 4));
    }
    return seen;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + 1))
        text.replace(at, from.size(), to);
    return text;
}

class PortTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";
    std::string image = dir + "/image.bin";
    std::string trace;

    // A program with its arguments on the simulated PC `env`, its port traced.
    RunResult run(std::vector<std::string> argv, Env env = {}) {
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        env.emplace_back("LPTSPI_SIM_ERASE_MS", "250");
        env.emplace_back("LPTSPI_SIM_TRACE", dir + "/trace");
        RunResult result = run_program(argv, env);
        trace = read_file(dir + "/trace");
        EXPECT_EQ(result.err, "");
        return result;
    }
    static Env with(Env env, const Env& more) {
        env.insert(env.end(), more.begin(), more.end());
        return env;
    }
};

// lptspi and lptspi-backup on the card the system named LPT3: today's runs on a card named LPT1
// with LPT3 named instead, touching the card's registers and nothing else. Without --port they
// find no LPT1, as before.
TEST_F(PortTest, ProgramsAndBacksUpTheCardNamedLpt3) {
    write_file(image, scramble(pattern(600)));
    // A small chip: the backup's reads of it are traced.
    const Env card_as_lpt1 = {{"LPTSPI_SIM_PORT", "0xD010,0xD000"}, {"LPTSPI_SIM_SIZE", "4096"}};
    const Env card_as_lpt3 = with(CARD_AS_LPT3, {{"LPTSPI_SIM_SIZE", "4096"}});
    RunResult as_lpt1 = run({TOOL, image}, card_as_lpt1);
    const std::string lpt1_events = decode_frames(trace, "d010");
    std::remove(chip.c_str());

    RunResult result = run({TOOL, "--port", "LPT3", image}, card_as_lpt3);
    const std::string opened = "Opening parallel port LPT3 \nOn windows system 2 \nLPT3 at 0xd010, "
                               "ECP at 0xd000 \nsetting ECP port to SPP bidirectional mode  \n";
    EXPECT_EQ(result.out.substr(0, opened.size()), opened);
    EXPECT_EQ(result.out, replaced(as_lpt1.out, "LPT1", "LPT3"));
    const std::string verified = "\ndone, verifying...\n\rpage 1 ok\rpage 2 ok\rpage 3 ok\ndone!";
    EXPECT_EQ(result.out.substr(result.out.size() - verified.size()), verified);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(chip).substr(0, 768), programmed(pattern(600)));
    EXPECT_EQ(registers(trace), (std::set<std::string>{"d002", "d010", "d011", "d012"}));
    EXPECT_EQ(decode_frames(trace, "d010"), lpt1_events);

    // The same image through lowercase letters verifies alike; LPT1, asked for or not, and LPT2
    // are not there.
    EXPECT_EQ(run({TOOL, "--verify", "--port", "lpt3", image}, card_as_lpt3).status, 0);
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{TOOL, image},
          std::vector<std::string>{TOOL, "--port", "LPT1", image},
          std::vector<std::string>{TOOL, "--port", "LPT2", "--fast", image}}) {
        SCOPED_TRACE(argv[1]);
        result = run(argv, card_as_lpt3);
        EXPECT_EQ(result.out, replaced(NO_PORT, "LPT1", argv.size() == 2 ? "LPT1" : argv[2]));
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(trace, "");
    }

    // The backup of the card named LPT3 is the backup of the card named LPT1.
    RunResult saved_lpt1 = run({BACKUP, dir + "/lpt1.bin"}, card_as_lpt1);
    EXPECT_EQ(saved_lpt1.status, 0) << saved_lpt1.out;
    RunResult saved = run({BACKUP, "--port", "LPT3", dir + "/lpt3.bin"}, card_as_lpt3);
    EXPECT_EQ(saved.out,
              replaced(replaced(saved_lpt1.out, "LPT1", "LPT3"), "lpt1.bin", "lpt3.bin"));
    EXPECT_EQ(saved.status, 0);
    EXPECT_TRUE(read_file(dir + "/lpt3.bin") == scramble(programmed(pattern(600))));
    EXPECT_EQ(registers(trace), (std::set<std::string>{"d002", "d010", "d011", "d012"}));
    RunResult unsaved = run({BACKUP, dir + "/none.bin"}, card_as_lpt3);
    EXPECT_EQ(unsaved.out, NO_PORT);
    EXPECT_EQ(unsaved.status, 1);
    EXPECT_NE(access((dir + "/none.bin").c_str(), F_OK), 0);
}

// Where the driver cannot say where a port is (an older driver, the 95/98/Me family), LPT1 to
// LPT3 are at their usual places and LPT4 to LPT9 are refused before the port is touched; this
// package's driver finds LPT5 where the system put it.
TEST_F(PortTest, UsualPlacesAndPortsOnlyTheDriverFinds) {
    write_file(image, scramble(pattern(300)));
    const Env old_driver = {{"LPTSPI_SIM_HWI", "ports-only"}};
    const Env win9x = {{"LPTSPI_SIM_PLATFORM", "9x"}, {"LPTSPI_SIM_DRIVER", "missing"}};
    const std::string older = "this driver cannot find LPT5 (an older hwinterface.sys finds LPT1 "
                              "to LPT3 only, at 0x378, 0x278 and 0x3BC): install this package's "
                              "driver, or name the port LPT1, LPT2 or LPT3 in Device Manager \n";
    const std::string on_9x = "LPT5 cannot be found on Windows 95/98/Me: lptspi finds LPT1 to "
                              "LPT3 only, at 0x378, 0x278 and 0x3BC \n";
    const struct {
        Env env;
        const char* port;
        std::string opened; // the transcript up to the idle flash, or whole
        int status;
        std::set<std::string> touched;
    } cases[] = {
        {with(old_driver, {{"LPTSPI_SIM_PORT", "LPT3:0x3BC"}}),
         "LPT3",
         "Opening parallel port LPT3 \nOn windows system 2 \n" + IDLE,
         0,
         {"03bc", "03bd", "03be", "07be"}},
        {with(win9x, {{"LPTSPI_SIM_PORT", "LPT2:0x278,0x678"}}),
         "LPT2",
         "Opening parallel port LPT2 \nOn windows system 1 \nsetting ECP port to SPP "
         "bidirectional mode  \n" +
             IDLE,
         0,
         {"0278", "0279", "027a", "067a"}},
        {{{"LPTSPI_SIM_PORT", "LPT5:0xD010"}},
         "LPT5",
         "Opening parallel port LPT5 \nOn windows system 2 \nLPT5 at 0xd010, no ECP \n" + IDLE,
         0,
         {"d010", "d011", "d012"}},
        {with(old_driver, {{"LPTSPI_SIM_PORT", "LPT5:0xD010,0xD000"}}),
         "LPT5",
         "Opening parallel port LPT5 \nOn windows system 2 \n" + older + GAME_OVER,
         1,
         {}},
        {with(win9x, {{"LPTSPI_SIM_PORT", "LPT5:0xD010"}}),
         "LPT5",
         "Opening parallel port LPT5 \nOn windows system 1 \n" + on_9x + GAME_OVER,
         1,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.back().second);
        std::remove(chip.c_str());
        RunResult result = run({TOOL, "--port", c.port, image}, c.env);
        EXPECT_EQ(result.out.substr(0, c.opened.size()), c.opened);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(registers(trace), c.touched);
        if (c.status == 0)
            EXPECT_EQ(read_file(chip).substr(0, 512), programmed(pattern(300)));
        else
            EXPECT_EQ(result.out, c.opened);
    }
}

// lptspi --verify: the page lines and failure lines of the default run's verification, on the
// fast link, reading only; the flash's protection does not stop it, only a busy flash does.
TEST_F(PortTest, VerifyReadsAndComparesOnly) {
    const std::string raw = pattern(600, 9);
    write_file(image, scramble(raw));
    std::string holds = programmed(raw) + std::string(MIB - 768, '\xFF');
    std::string differs = holds;
    differs[0x2A7] = static_cast<char>(differs[0x2A7] ^ 0x10); // in the last page
    const std::string ok = "\rpage 1 ok\rpage 2 ok\rpage 3 ok\ndone!";
    const std::string read_only = "R 077a\nW 077a 34\nR 077a x3\nW 077a 35\nW 037a 00\nR 0379\n"
                                  "idle\nS 100\n05=00\n"
                                  "0b 00 00 00 +257\n0b 00 01 00 +257\n0b 00 02 00 +257\n"
                                  "idle\nS 100\n";
    const struct {
        Env env;
        std::string chip;
        std::string out; // after the port's opening
        int status;
        std::string events;
    } cases[] = {
        {{}, holds, IDLE + "3 pages ...\nverifying...\n" + ok, 0, read_only},
        {{},
         differs,
         IDLE + "3 pages ...\nverifying...\n\rpage 1 ok\rpage 2 ok" +
             format("!!! page 2 failed to verify \n0a7: %02x != ", differs[0x2A7] & 0xFF) +
             format("%02x\n\ndone!", holds[0x2A7] & 0xFF),
         2,
         read_only},
        {{{"LPTSPI_SIM_STATUS", "0x9E"}},
         holds,
         "serial flash in idle state 0x9e\n\n3 pages ...\nverifying...\n" + ok,
         0,
         replaced(read_only, "05=00", "05=9e")},
        {{{"LPTSPI_SIM_STATUS", "0x01"}},
         holds,
         "serial flash not idle! reporting state 0x01\n\n",
         1,
         "R 077a\nW 077a 34\nR 077a x3\nW 077a 35\nW 037a 00\nR 0379\nidle\nS 100\n05=01\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        write_file(chip, c.chip);
        RunResult result = run({TOOL, "--verify", image}, c.env);
        EXPECT_EQ(result.out, OPENING + c.out);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(decode_frames(trace), c.events);
        EXPECT_TRUE(read_file(chip) == c.chip);
    }
    // On the card named LPT3, that card's flash.
    write_file(chip, differs);
    RunResult card = run({TOOL, "--port", "LPT3", "--verify", image}, CARD_AS_LPT3);
    EXPECT_EQ(card.status, 2);
    EXPECT_NE(card.out.find("LPT3 at 0xd010, ECP at 0xd000 \n"), std::string::npos);
    EXPECT_NE(card.out.find("!!! page 2 failed to verify \n0a7: "), std::string::npos);
}

// Unknown and malformed options: the usage naming every option, status 1, the port untouched.
TEST_F(PortTest, OptionRefusals) {
    write_file(image, scramble(pattern(300)));
    const std::string lptspi = "lptspi [--port LPTn] [--fast | --verify] program.bin";
    const std::string backup = "lptspi-backup [--port LPTn] backup.bin";
    const std::string check = "lptspi-check [--port LPTn] [--pins] [--unprotect]";
    const std::string takes = "Error --port takes LPT1 to LPT9";
    const struct {
        std::vector<std::string> argv;
        std::string out;
    } cases[] = {
        {{TOOL, "--port"}, takes + " \n" + lptspi},
        {{TOOL, "--port", "LPT0", image}, takes + ", not LPT0 \n" + lptspi},
        {{TOOL, "--port", "COM1", image}, takes + ", not COM1 \n" + lptspi},
        {{TOOL, "--fast", "--port", "LPT10", image}, takes + ", not LPT10 \n" + lptspi},
        {{TOOL, "--port=LPT3", image}, "Error unknown option --port=LPT3 \n" + lptspi},
        {{TOOL, "--port", "LPT3", "--port", "LPT4", image}, "Error --port given twice \n" + lptspi},
        {{TOOL, "--verify", "--fast", image},
         "Error --fast and --verify together: --verify writes nothing \n" + lptspi},
        {{TOOL, "--port", "LPT3", "--verify"},
         "Error wrong number of arguments passed \nlptspi --port LPT3 --verify program.bin"},
        {{BACKUP, "--port", "LPT3"},
         "Error wrong number of arguments passed \nlptspi-backup --port LPT3 backup.bin"},
        {{BACKUP, "--fast", dir + "/a.bin"}, "Error unknown option --fast \n" + backup},
        {{BACKUP, "--port", "LPT", dir + "/a.bin"}, takes + ", not LPT \n" + backup},
        {{CHECK, "--pins", "--port", "PRN"}, takes + ", not PRN \n" + check},
        {{CHECK, "--port", "LPT3", "LPT3"}, "Error unknown argument LPT3 \n" + check},
        {{CHECK, "--unprotect", "--unprotect"}, "Error --unprotect given twice \n" + check},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        RunResult result = run(c.argv, CARD_AS_LPT3);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(trace, "");
    }
    EXPECT_NE(access((dir + "/a.bin").c_str(), F_OK), 0);
}

// lptspi-check when the port asked for is absent or held: every parallel port the PC has, where
// the driver says each is, and how to use a free one. With --port the check runs on that port.
TEST_F(PortTest, CheckListsThePortsAndChecksTheOneNamed) {
    const std::string platform = "platform: Windows NT family, version 5.1 build 2600, 32-bit: "
                                 "lptspi reaches the port through its driver hwinterface\n";
    const std::string not_checked = "lines, flash: not checked without the port and its driver\n"
                                    "result: the port or its driver is not ready (see above)\n";
    const std::string absent = "port:   LPT4 absent\nport:   LPT5 absent\nport:   LPT6 absent\n"
                               "port:   LPT7 absent\nport:   LPT8 absent\nport:   LPT9 absent\n";
    const std::string use_lpt3 =
        "port: to use LPT3, run lptspi, lptspi-backup and lptspi-check with --port LPT3, or "
        "rename it to LPT1 in Device Manager (Ports (COM & LPT), the port's Properties, Port "
        "Settings, LPT Port Number)\n";
    const std::string card_listed = "port: the parallel ports of this PC:\nport:   LPT1 absent\n"
                                    "port:   LPT2 absent\nport:   LPT3 free, at 0xd010, its ECP "
                                    "block at 0xd000\n" +
                                    absent + use_lpt3;
    const struct {
        Env env;
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {CARD_AS_LPT3,
         {},
         "port: there is no LPT1 (error 2): no parallel port, or one disabled in the firmware "
         "setup or in Device Manager; USB printer adapters do not work\n" +
             card_listed},
        {CARD_AS_LPT3,
         {"--port", "LPT2"},
         "port: there is no LPT2 (error 2): no parallel port, or one disabled in the firmware "
         "setup or in Device Manager; USB printer adapters do not work\n" +
             card_listed},
        // Held: where the driver says it is; nothing free to suggest.
        {{{"LPTSPI_SIM_LPT", "busy"}},
         {},
         "port: LPT1 is held by another program (error 32): close it (a print spooler, a "
         "printer's software, another lptspi) and run again\nport: the parallel ports of this "
         "PC:\nport:   LPT1 held by another program, at 0x0378, its ECP block at 0x0778\n"
         "port:   LPT2 absent\nport:   LPT3 absent\n" +
             absent + "port: no parallel port is free\n"},
        // A stopped driver is not started for the list, so it cannot say where the ports are.
        {{{"LPTSPI_SIM_PORT", "LPT3:0xD010,0xD000"}, {"LPTSPI_SIM_DRIVER", "stopped"}},
         {},
         "port: there is no LPT1 (error 2): no parallel port, or one disabled in the firmware "
         "setup or in Device Manager; USB printer adapters do not work\nport: the parallel ports "
         "of this PC:\nport:   LPT1 absent\nport:   LPT2 absent\nport:   LPT3 free\n" +
             absent + use_lpt3},
        {{{"LPTSPI_SIM_PORT", "LPT5:0xD010,0xD000"}, {"LPTSPI_SIM_HWI", "ports-only"}},
         {"--port", "LPT5"},
         "port: LPT5 is free, and claimed for this check\ndriver: running (\\\\.\\hwinterface "
         "opened)\nport: the driver cannot tell where LPT5 is (an older hwinterface.sys finds "
         "LPT1 to LPT3 only): install this package's driver, or name the port LPT1, LPT2 or LPT3 "
         "in Device Manager\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        std::vector<std::string> argv{CHECK};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        RunResult result = run(argv, c.env);
        EXPECT_EQ(result.out, platform + c.out + not_checked);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(trace, "");
    }

    // The card named, the whole check runs on it.
    RunResult card = run({CHECK, "--port", "LPT3"}, CARD_AS_LPT3);
    EXPECT_NE(card.out.find("port: LPT3 is free, and claimed for this check\ndriver: running "
                            "(\\\\.\\hwinterface opened)\nport: LPT3's registers at 0xd010 as the "
                            "system placed them, its ECP block at 0xd000\n"),
              std::string::npos)
        << card.out;
    EXPECT_NE(card.out.find("result: everything lptspi needs was found\n"), std::string::npos);
    EXPECT_EQ(card.status, 0);
    EXPECT_EQ(registers(trace), (std::set<std::string>{"d002", "d010", "d011", "d012"}));
}

} // namespace
