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
using Args = std::vector<std::string>;
// A PC whose only parallel port is a PCI card that the system named LPT3.
const Env CARD_AS_LPT3 = {{"LPTSPI_SIM_PORT", "LPT3:0xD010,0xD000"}};
const std::set<std::string> CARD_REGISTERS = {"d002", "d010", "d011", "d012"};

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
    RunResult run(const Args& argv, Env env = {}) {
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        env.emplace_back("LPTSPI_SIM_ERASE_MS", "250");
        env.emplace_back("LPTSPI_SIM_TRACE", dir + "/trace");
        RunResult result = run_program(argv, env);
        trace = read_file(dir + "/trace");
        EXPECT_EQ(result.err, "");
        return result;
    }
    // A run refused before the port is touched: its whole transcript, status 1.
    void refused(const Args& argv, const Env& env, const std::string& out) {
        SCOPED_TRACE(out);
        RunResult result = run(argv, env);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(trace, "");
    }
};

// lptspi and lptspi-backup on the card the system named LPT3: today's runs on a card named LPT1
// with LPT3 named instead, touching the card's registers and nothing else. Without --port, or
// with a port the PC lacks, they find no port, as before.
TEST_F(PortTest, ProgramsAndBacksUpTheCardNamedLpt3) {
    write_file(image, scramble(pattern(600)));
    // A small chip: the backup's reads of it are traced.
    const Env as_lpt1 = {{"LPTSPI_SIM_PORT", "0xD010,0xD000"}, {"LPTSPI_SIM_SIZE", "4096"}};
    const Env as_lpt3 = {CARD_AS_LPT3[0], as_lpt1[1]};
    const RunResult lpt1 = run({TOOL, image}, as_lpt1);
    const std::string lpt1_events = decode_frames(trace, "d010");
    std::remove(chip.c_str());

    RunResult result = run({TOOL, "--port", "LPT3", image}, as_lpt3);
    EXPECT_EQ(result.out, replaced(lpt1.out, "LPT1", "LPT3"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(chip).substr(0, 768), programmed(pattern(600)));
    EXPECT_EQ(registers(trace), CARD_REGISTERS);
    EXPECT_EQ(decode_frames(trace, "d010"), lpt1_events);
    // Lowercase letters name it too.
    EXPECT_EQ(run({TOOL, "--verify", "--port", "lpt3", image}, as_lpt3).status, 0);
    EXPECT_EQ(registers(trace), CARD_REGISTERS);

    const RunResult saved1 = run({BACKUP, dir + "/1.bin"}, as_lpt1);
    const RunResult saved3 = run({BACKUP, "--port", "LPT3", dir + "/3.bin"}, as_lpt3);
    EXPECT_EQ(saved3.out, replaced(replaced(saved1.out, "LPT1", "LPT3"), "1.bin", "3.bin"));
    EXPECT_EQ(saved3.status, 0);
    EXPECT_TRUE(read_file(dir + "/3.bin") == scramble(programmed(pattern(600))));
    EXPECT_EQ(registers(trace), CARD_REGISTERS);

    const std::string none = PORT_IN_USE + GAME_OVER;
    refused({TOOL, image}, as_lpt3, none);
    refused({TOOL, "--port", "LPT2", "--fast", image}, as_lpt3,
            replaced(none, "LPT1", "LPT2") +
                "FAIL: LPT2 cannot be used (see above): nothing written\n");
    refused({BACKUP, dir + "/none.bin"}, as_lpt3,
            none + "FAIL: LPT1 cannot be used (see above): nothing written\n");
    EXPECT_NE(access((dir + "/none.bin").c_str(), F_OK), 0);
}

// Where the driver cannot say where a port is (an older driver, the 95/98/Me family), LPT1 to
// LPT3 are at their usual places and LPT4 to LPT9 are refused before the port is touched; this
// package's driver finds LPT5 and LPT9 where the system put them.
TEST_F(PortTest, UsualPlacesAndPortsOnlyTheDriverFinds) {
    write_file(image, scramble(pattern(300)));
    const Env old = {{"LPTSPI_SIM_HWI", "ports-only"}};
    const Env win9x = {{"LPTSPI_SIM_PLATFORM", "9x"}, {"LPTSPI_SIM_DRIVER", "missing"}};
    const auto at = [](Env env, const char* port) {
        env.emplace_back("LPTSPI_SIM_PORT", port);
        return env;
    };
    const struct {
        Env env;
        std::string opened; // the transcript up to the idle flash
        std::set<std::string> touched;
    } runs[] = {
        {at(old, "LPT3:0x3BC"), "LPT3 \nOn windows system 2 \n", {"03bc", "03bd", "03be", "07be"}},
        {at(win9x, "LPT2:0x278,0x678"),
         "LPT2 \nOn windows system 1 \nsetting ECP port to SPP bidirectional mode  \n",
         {"0278", "0279", "027a", "067a"}},
        {at({}, "LPT5:0xD010"),
         "LPT5 \nOn windows system 2 \nLPT5 at 0xd010, no ECP \n",
         {"d010", "d011", "d012"}},
        {at({}, "LPT9:0xD010"),
         "LPT9 \nOn windows system 2 \nLPT9 at 0xd010, no ECP \n",
         {"d010", "d011", "d012"}},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.opened);
        std::remove(chip.c_str());
        RunResult result = run({TOOL, "--port", r.opened.substr(0, 4), image}, r.env);
        const std::string opened = "Opening parallel port " + r.opened + IDLE;
        EXPECT_EQ(result.out.substr(0, opened.size()), opened);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(registers(trace), r.touched);
        EXPECT_EQ(read_file(chip).substr(0, 512), programmed(pattern(300)));
    }
    const std::string lpt5 = "Opening parallel port LPT5 \nOn windows system ";
    const std::string only = " LPT1 to LPT3 only, at 0x378, 0x278 and 0x3BC";
    refused({TOOL, "--port", "LPT5", image}, at(old, "LPT5:0xD010,0xD000"),
            lpt5 + "2 \nthis driver cannot find LPT5 (an older hwinterface.sys finds" + only +
                "): install this package's driver, or name the port LPT1, LPT2 or LPT3 in Device "
                "Manager \n" +
                GAME_OVER);
    refused({TOOL, "--port", "LPT5", image}, at(win9x, "LPT5:0xD010"),
            lpt5 + "1 \nLPT5 cannot be found on Windows 95/98/Me: lptspi finds" + only + " \n" +
                GAME_OVER);
}

// lptspi --verify: the page lines and failure lines of the default run's verification, on the
// fast link, reading only, the chip woken from deep power-down first (0xab and the table's longest
// release time); the flash's protection does not stop it, only a busy flash does.
TEST_F(PortTest, VerifyReadsAndComparesOnly) {
    const std::string raw = pattern(600, 9);
    write_file(image, scramble(raw));
    const std::string holds = programmed(raw) + std::string((1 << 20) - 768, '\xFF');
    std::string differs = holds;
    differs[0x2A7] = static_cast<char>(differs[0x2A7] ^ 0x10); // in the last page
    // Twenty bytes of page 1: the first sixteen listed, the rest counted.
    std::string worn = holds, listed;
    for (int i = 0; i < 20; i++) {
        worn[0x100 + 3 * i] = static_cast<char>(worn[0x100 + 3 * i] ^ 0xFF);
        if (i < 16)
            listed += format("%03x: ", 3 * i) + format("%02x != ", worn[0x100 + 3 * i] & 0xFF) +
                      format("%02x\n", holds[0x100 + 3 * i] & 0xFF);
    }
    const std::string pages = "3 pages ...\nverifying...\nverifying    33%  1 of 3 pages, 0:00 "
                              "left\nverifying    66%  2 of 3 pages, 0:00 left\n";
    const std::string status = "R 077a\nW 077a 34\nR 077a x3\nW 077a 35\nW 037a 00\nR 0379\n"
                               "idle\nS 100\nab\nR 0378 x31\n05=00\n";
    // The identification read twice, which names the chip in the verdict, then the pages.
    const std::string ids = "9f 00 00 00 x2\n5a 00 00 00 +17\n";
    const std::string reads =
        ids + "0b 00 00 00 +257\n0b 00 01 00 +257\n0b 00 02 00 +257\nidle\nS 100\n";
    const struct {
        std::string flash_status, chip, out; // the transcript after the port's opening
        int status;
        std::string events;
    } cases[] = {
        {"0x00", differs,
         IDLE + pages +
             format("!!! page 2 failed to verify \n0a7: %02x != ", differs[0x2A7] & 0xFF) +
             format("%02x\nFAIL: page 2 differs from ", holds[0x2A7] & 0xFF) + image +
             " (1 byte)\n",
         2, status + replaced(reads, "+257\nidle", "+257 x2\nidle")},
        {"0x00", worn,
         IDLE +
             "3 pages ...\nverifying...\nverifying    33%  1 of 3 pages, 0:00 left\n!!! page 1 "
             "failed to verify \n" +
             listed + "and 4 more bytes differ\nFAIL: page 1 differs from " + image +
             " (20 bytes)\n",
         2, status + ids + "0b 00 00 00 +257\n0b 00 01 00 +257 x2\nidle\nS 100\n"},
        // Protected: it reads alike.
        {"0x9E", holds,
         "serial flash in idle state 0x9e\n\n" + pages + "verifying   100%  3 of 3 pages\n" +
             pass_line("M25P80", image, 3, raw) + "0.2 s)\n",
         0, replaced(status, "05=00", "05=9e") + reads},
        {"0x01", holds,
         "serial flash not idle! reporting state 0x01\n\nFAIL: the flash is not idle (status "
         "0x01): nothing written\n",
         1, replaced(status, "05=00", "05=01")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        write_file(chip, c.chip);
        RunResult result = run({TOOL, "--verify", image}, {{"LPTSPI_SIM_STATUS", c.flash_status}});
        EXPECT_EQ(result.out, OPENING + c.out);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(decode_frames(trace), c.events);
        EXPECT_TRUE(read_file(chip) == c.chip);
    }
    // One driver request a frame: 8 frames (the release, the status, the identification twice,
    // the parameter table, 3 pages), 41 single accesses (31 of them the wait after the release),
    // the question where LPT1 is.
    const std::string err = run_program({TOOL, "--verify", image},
                                        {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_REPORT", "1"}})
                                .err;
    EXPECT_NE(err.find("lptspi-sim: driver requests: 50\n"), std::string::npos) << err;
}

// Unknown and malformed options, options after the file and a wrong LPTSPI_PORT: the usage
// naming every option (or one line), status 1, the port untouched and the chip as it was. The
// runs with a verdict end with FAIL on a line of its own, lptspi's own run and lptspi-check as
// they always did.
TEST_F(PortTest, OptionRefusals) {
    write_file(image, scramble(pattern(300)));
    const std::string lptspi = "lptspi [--port LPTn] [--fast | --verify] program.bin";
    const std::string backup = "lptspi-backup [--port LPTn] backup.bin";
    const std::string check = "lptspi-check [--port LPTn] [--fast] [--pins] [--unprotect]";
    const std::string late = ": options go before the file, nothing done \n";
    const std::string takes = "Error --port takes LPT1 to LPT9";
    const std::string nothing = ": nothing done\n";
    const struct {
        Args argv;
        std::string out;
    } cases[] = {
        {{TOOL, "--port"}, takes + " \n" + lptspi},
        {{TOOL, "--port", "LPT0", image}, takes + ", not LPT0 \n" + lptspi},
        {{TOOL, "--fast", "--port", "LPT10", image},
         takes + ", not LPT10 \n" + lptspi + "\nFAIL: --port takes LPT1 to LPT9, not LPT10" +
             nothing},
        {{TOOL, "--port", "LPT0", "--verify", image},
         takes + ", not LPT0 \n" + lptspi + "\nFAIL: --port takes LPT1 to LPT9, not LPT0" +
             nothing},
        {{TOOL, "--port=LPT3", image}, "Error unknown option --port=LPT3 \n" + lptspi},
        {{TOOL, "--fast", "--port=LPT3", image},
         "Error unknown option --port=LPT3 \n" + lptspi + "\nFAIL: unknown option --port=LPT3" +
             nothing},
        {{TOOL, "--port", "LPT3", "--port", "LPT4", image}, "Error --port given twice \n" + lptspi},
        {{TOOL, "--verify", "--fast", image},
         "Error --fast and --verify together: --verify writes nothing \n" + lptspi +
             "\nFAIL: --fast and --verify together" + nothing},
        {{TOOL, "--port", "LPT3", "--verify"},
         "Error wrong number of arguments passed \nlptspi --port LPT3 --verify program.bin\nFAIL: "
         "wrong number of arguments" +
             nothing},
        {{TOOL, "--port", "LPT3"},
         "Error wrong number of arguments passed \nlptspi --port LPT3 program.bin"},
        {{BACKUP, "--port", "LPT3"},
         "Error wrong number of arguments passed \nlptspi-backup --port LPT3 backup.bin\nFAIL: "
         "wrong number of arguments" +
             nothing},
        {{BACKUP, "--fast", dir + "/a.bin"},
         "Error unknown option --fast \n" + backup + "\nFAIL: unknown option --fast" + nothing},
        {{CHECK, "--pins", "--port", "COM1"}, takes + ", not COM1 \n" + check},
        {{CHECK, "--port", "LPT3", "LPT3"}, "Error unknown argument LPT3 \n" + check},
        // An option after the file would otherwise be ignored: an erase where none was meant.
        {{TOOL, image, "--verify"}, "Error --verify after " + image + late},
        {{TOOL, "--fast", image, "extra", "--port", "LPT3"},
         "Error --port after " + image + late + "FAIL: --port after the file" + nothing},
        {{TOOL, image, "--help"}, "Error --help after " + image + late},
        {{BACKUP, dir + "/a.bin", "--port", "LPT3"},
         "Error --port after " + dir + "/a.bin" + late + "FAIL: --port after the file" + nothing},
    };
    const std::string before = pattern(1 << 20, 5);
    write_file(chip, before);
    for (const auto& c : cases)
        refused(c.argv, CARD_AS_LPT3, c.out);
    EXPECT_NE(access((dir + "/a.bin").c_str(), F_OK), 0);
    EXPECT_TRUE(read_file(chip) == before);

    // A default port that is not one: refused by every program, but where --port overrides it;
    // the runs with a verdict end with FAIL.
    for (const char* port : {"COM1", "LPT0", "3", "LPT10"}) {
        const Env env = {CARD_AS_LPT3[0], {"LPTSPI_PORT", port}};
        const std::string out =
            std::string("Error LPTSPI_PORT takes LPT1 to LPT9, not ") + port + " \n";
        const std::string fail =
            std::string("FAIL: LPTSPI_PORT takes LPT1 to LPT9, not ") + port + nothing;
        for (const Args& argv : {Args{TOOL, image}, Args{CHECK}})
            refused(argv, env, out);
        for (const Args& argv : {Args{BACKUP, dir + "/a.bin"}, Args{TOOL, "--fast", image},
                                 Args{TOOL, "--verify", image}, Args{TOOL, "--station", image}})
            refused(argv, env, out + fail);
        EXPECT_EQ(run({TOOL, "--port", "LPT3", image}, env).status, 0);
    }
}

// lptspi-check when the port asked for is absent or held: every parallel port the PC has, where
// the driver says each is, and how to use a free one. With --port the check runs on that port.
TEST_F(PortTest, CheckListsThePortsAndChecksTheOneNamed) {
    const std::string platform = "platform: Windows NT family, version 5.1 build 2600, 32-bit: "
                                 "lptspi reaches the port through its driver hwinterface\n";
    const std::string not_checked = "lines, flash: not checked without the port and its driver\n"
                                    "result: the port or its driver is not ready (see above)\n";
    const std::string no_lpt1 = "port: there is no LPT1 (error 2): no parallel port, or one "
                                "disabled in the firmware setup or in Device Manager; USB printer "
                                "adapters do not work\nport: the parallel ports of this PC:\n";
    const std::string absent = "port:   LPT4 absent\nport:   LPT5 absent\nport:   LPT6 absent\n"
                               "port:   LPT7 absent\nport:   LPT8 absent\nport:   LPT9 absent\n";
    const std::string card = "port:   LPT1 absent\nport:   LPT2 absent\nport:   LPT3 free, at "
                             "0xd010, its ECP block at 0xd000\n" +
                             absent +
                             "port: to use LPT3, run lptspi, lptspi-backup and lptspi-check with "
                             "--port LPT3 or with LPTSPI_PORT=LPT3 set, or rename it to LPT1 in "
                             "Device Manager (Ports (COM & "
                             "LPT), the port's Properties, Port Settings, LPT Port Number)\n";
    const struct {
        Env env;
        Args argv;
        std::string out;
    } cases[] = {
        {CARD_AS_LPT3, {CHECK}, no_lpt1 + card},
        {CARD_AS_LPT3, {CHECK, "--port", "LPT2"}, replaced(no_lpt1, "no LPT1", "no LPT2") + card},
        // Held: where the driver says it is; nothing free to suggest.
        {{{"LPTSPI_SIM_LPT", "busy"}},
         {CHECK},
         "port: LPT1 is held by another program (error 32): close it (a print spooler, a "
         "printer's software, another lptspi) and run again\nport: the parallel ports of this "
         "PC:\nport:   LPT1 held by another program, at 0x0378, its ECP block at 0x0778\n"
         "port:   LPT2 absent\nport:   LPT3 absent\n" +
             absent + "port: no parallel port is free\n"},
        // A stopped driver is not started for the list, so it cannot say where the ports are.
        {{CARD_AS_LPT3[0], {"LPTSPI_SIM_DRIVER", "stopped"}},
         {CHECK},
         no_lpt1 + replaced(card, "free, at 0xd010, its ECP block at 0xd000", "free")},
        {{{"LPTSPI_SIM_PORT", "LPT5:0xD010,0xD000"}, {"LPTSPI_SIM_HWI", "ports-only"}},
         {CHECK, "--port", "LPT5"},
         "port: LPT5 is free, and claimed for this check\ndriver: running (\\\\.\\hwinterface "
         "opened)\nport: the driver cannot tell where LPT5 is (an older hwinterface.sys finds "
         "LPT1 to LPT3 only): install this package's driver, or name the port LPT1, LPT2 or LPT3 "
         "in Device Manager\n"},
    };
    for (const auto& c : cases)
        refused(c.argv, c.env, platform + c.out + not_checked);

    // The card named, the whole check runs on it.
    RunResult named = run({CHECK, "--port", "LPT3"}, CARD_AS_LPT3);
    EXPECT_NE(named.out.find("port: LPT3 is free, and claimed for this check\ndriver: running "
                             "(\\\\.\\hwinterface opened)\nport: LPT3's registers at 0xd010 as "
                             "the system placed them, its ECP block at 0xd000\n"),
              std::string::npos)
        << named.out;
    EXPECT_NE(named.out.find("result: everything lptspi needs was found\n"), std::string::npos);
    EXPECT_EQ(named.status, 0);
    EXPECT_EQ(registers(trace), CARD_REGISTERS);
}

// LPTSPI_PORT names the port of every program, as --port does, which overrides it, up to LPT9;
// lptspi-check says it is set.
TEST_F(PortTest, LptspiPortIsTheDefaultPort) {
    write_file(image, scramble(pattern(300)));
    const Env lpt3 = {CARD_AS_LPT3[0], {"LPTSPI_PORT", "lpt3"}};
    const RunResult named = run({TOOL, "--port", "LPT3", image}, CARD_AS_LPT3);
    std::remove(chip.c_str());
    RunResult result = run({TOOL, image}, lpt3);
    EXPECT_EQ(result.out, named.out);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(registers(trace), CARD_REGISTERS);
    EXPECT_EQ(read_file(chip).substr(0, 512), programmed(pattern(300)));
    EXPECT_EQ(run({BACKUP, dir + "/b.bin"}, lpt3).status, 0);
    EXPECT_TRUE(read_file(dir + "/b.bin") == scramble(programmed(pattern(300))));
    refused({TOOL, "--port", "LPT2", image}, lpt3,
            replaced(PORT_IN_USE + GAME_OVER, "LPT1", "LPT2"));
    // The last port there is.
    result = run({TOOL, image}, {{"LPTSPI_SIM_PORT", "LPT9:0xD010"}, {"LPTSPI_PORT", "LPT9"}});
    const std::string lpt9 = "Opening parallel port LPT9 \nOn windows system 2 \nLPT9 at 0xd010";
    EXPECT_EQ(result.out.substr(0, lpt9.size()), lpt9);
    EXPECT_EQ(result.status, 0);

    const std::string claimed = "port: LPT3 is free, and claimed for this check\n";
    RunResult check = run({CHECK}, lpt3);
    EXPECT_NE(
        check.out.find("port: LPTSPI_PORT=lpt3 is set: the programs use that port\n" + claimed),
        std::string::npos)
        << check.out;
    EXPECT_EQ(check.status, 0);
    check = run({CHECK, "--port", "LPT3"}, {CARD_AS_LPT3[0], {"LPTSPI_PORT", "LPT9"}});
    EXPECT_NE(check.out.find("port: LPTSPI_PORT=LPT9 is set, and --port overrides it\n" + claimed),
              std::string::npos)
        << check.out;
    EXPECT_EQ(run({CHECK, "--port", "LPT3"}, CARD_AS_LPT3).out.find("LPTSPI_PORT"),
              std::string::npos);
}

} // namespace
