// lptspi-check-sim against the simulated PC: each finding's line and the exit status, by area.
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string CHECK = LPTSPI_CHECK_EXE;

// A healthy setup, every finding. On the simulated PC a port access takes its 1 us.
const std::string HEALTHY =
    "platform: Windows NT family, version 5.1 build 2600, 32-bit: lptspi reaches the port through "
    "its driver hwinterface\n"
    "port: LPT1 is free, and claimed for this check\n"
    "driver: running (\\\\.\\hwinterface opened)\n"
    "port: LPT1's registers at 0x0378 as the system placed them, its ECP block at 0x0778\n"
    "port: ECR at 0x077a reads 0x15: an ECP port, which lptspi sets to byte mode\n"
    "setting ECP port to SPP bidirectional mode  \n"
    "lines: data-in (pin 10) reads high with the flash released\n"
    "lines: data-in follows the flash when it is selected and clocked: a chip answers\n"
    "flash: id 20 20 14, the same three times: ST/Micron (20) M25P80, 1024 KiB\n"
    "flash: status 0x00: not busy, write latch clear, no block protection, status register not "
    "locked\n"
    "reads: the first 64 KiB read three times, all alike\n"
    "speed: a port access takes 1.00 us here as a driver request of its own, 1.00 us inside a "
    "frame the driver makes\n"
    "speed: on this PC a full 4095-page image takes lptspi about 479 s and lptspi --fast about "
    "45 s, a 1 MiB flash takes lptspi-backup about 50 s, besides the flash's own erase and "
    "program times\n"
    "result: everything lptspi needs was found\n";

struct Finding {
    Env env;
    std::string line; // as printed, without its line feed
    int status;
};

class CheckTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";

    // On a fresh chip unless `keep`: the flash keeps its protection bits from run to run.
    RunResult check(Env env = {}, const std::vector<std::string>& args = {}, bool keep = false) {
        if (!keep) {
            std::remove(chip.c_str());
            std::remove((chip + ".status").c_str());
        }
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        std::vector<std::string> argv{CHECK};
        argv.insert(argv.end(), args.begin(), args.end());
        return run_program(argv, env);
    }
    void expect(const std::vector<Finding>& findings, const std::vector<std::string>& args = {}) {
        for (const Finding& f : findings) {
            SCOPED_TRACE(f.env.front().first + "=" + f.env.front().second);
            RunResult result = check(f.env, args);
            EXPECT_NE(result.out.find(f.line + "\n"), std::string::npos) << result.out;
            EXPECT_EQ(result.status, f.status);
        }
    }
};

TEST_F(CheckTest, HealthySetupLeavesTheFlashAlone) {
    std::string contents = pattern(1 << 20, 4);
    write_file(chip, contents);
    RunResult result = check({}, {}, true);
    EXPECT_EQ(result.out, HEALTHY);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(read_file(chip) == contents);
}

TEST_F(CheckTest, PortAndDriver) {
    const Env nt64_stopped = {{"LPTSPI_SIM_PLATFORM", "nt64"}, {"LPTSPI_SIM_DRIVER", "stopped"}};
    auto signing = [&](const char* value) {
        Env env = nt64_stopped;
        env.emplace(env.begin(), "LPTSPI_SIM_SIGNING", value);
        return env;
    };
    expect({
        {{{"LPTSPI_SIM_LPT", "busy"}},
         "port: LPT1 is held by another program (error 32): close it (a print spooler, a "
         "printer's software, another lptspi) and run again",
         1},
        {{{"LPTSPI_SIM_LPT", "absent"}},
         "port: there is no LPT1 (error 2): no parallel port, or one disabled in the firmware "
         "setup or in Device Manager; USB printer adapters do not work",
         1},
        {{{"LPTSPI_SIM_DRIVER", "missing"}},
         "driver: C:\\WINDOWS\\system32\\Drivers\\hwinterface.sys is missing: copy the package's "
         "hwinterface.sys there",
         1},
        {{{"LPTSPI_SIM_DRIVER", "unregistered"}, {"LPTSPI_SIM_SCM", "user"}},
         "driver: not registered, and registering it needs an administrator: run lptspi-check "
         "once from an administrator's command prompt",
         1},
        {{{"LPTSPI_SIM_DRIVER", "disabled"}},
         "driver: the service hwinterface is disabled: run sc config hwinterface start= system "
         "as administrator",
         1},
        {{{"LPTSPI_SIM_DRIVER", "unopenable"}},
         "driver: the service runs but \\\\.\\hwinterface does not open (error 2): restart the PC, "
         "and if that does not help install this package's hwinterface.sys again",
         1},
        {signing("test-off"),
         "driver: Windows refused the driver's signature (error 577)\ndriver: test-signing is "
         "off: run bcdedit /set testsigning on as administrator, then restart",
         1},
        {signing("secure-boot"),
         "driver: Secure Boot is on, which keeps test-signing off: turn Secure Boot off in the "
         "firmware setup, then run bcdedit /set testsigning on as administrator and restart",
         1},
        {signing("not-trusted"),
         "driver: test-signing is on, so Windows does not trust the certificate: import "
         "lptspi-driver-signing.cer into the Root and TrustedPublisher stores (README.txt says "
         "how), or use the hwinterface.sys of this package",
         1},
        // What is fixed on the way, and where LPT1 is.
        {{{"LPTSPI_SIM_DRIVER", "stopped"}, {"LPTSPI_SIM_SCM", "user"}},
         "driver: was stopped, and is started now",
         0},
        {{{"LPTSPI_SIM_DRIVER", "unregistered"}},
         "driver: was not registered: registered now as the service hwinterface and started (it "
         "loads at every boot from now on)",
         0},
        {{{"LPTSPI_SIM_PORT", "0xD010,0xD000"}, {"LPTSPI_SIM_ECP", "0"}},
         "port: LPT1's registers at 0xd010 as the system placed them, no ECP block\nport: no ECP "
         "block, so no extended control register to set up",
         0},
        {{{"LPTSPI_SIM_PLATFORM", "9x"}, {"LPTSPI_SIM_ECP", "0"}},
         "port: LPT1's registers taken at 0x0378: on Windows 95/98/Me lptspi cannot ask where a "
         "card put them, so a card must sit at 0x378\nport: no ECR at 0x077a (it reads 0xff): a "
         "plain port, used as it is",
         0},
        // Nothing answers where the check looks: a port problem, not the flash's.
        {{{"LPTSPI_SIM_HWI", "ports-only"}, {"LPTSPI_SIM_PORT", "0xD010,0xD000"}},
         "port: LPT1's data register at 0x0378 does not keep what is written to it (0x07 reads "
         "back as 0xff): no parallel port answers there\nport: this package's hwinterface.sys "
         "finds PCI and PCIe cards wherever the system put them; the installed one cannot: "
         "install this package's driver and restart\nlines, flash: not checked without the port "
         "and its driver",
         1},
        {{{"LPTSPI_SIM_PLATFORM", "9x"}, {"LPTSPI_SIM_PORT", "0xD010"}},
         "port: LPT1's data register at 0x0378 does not keep what is written to it (0x07 reads "
         "back as 0xff): no parallel port answers there\nport: on Windows 95/98/Me lptspi uses "
         "LPT1 at 0x378 only: set the card to 0x378 in its setup, or use the NT family, where "
         "this package's driver finds PCI and PCIe cards wherever the system put them",
         1},
    });
}

TEST_F(CheckTest, LinesAndFlash) {
    const std::string refused =
        "\nflash: lptspi refuses a flash whose status is not 0x00: lptspi --fast clears the "
        "protection itself if the write-protect pin is held high (the lock bit set keeps it while "
        "the pin is low; no command reads the pin); for lptspi, lptspi-check --unprotect clears it";
    expect({
        {{{"LPTSPI_SIM_MISO", "high"}},
         "lines: data-in stays high with the flash selected and clocked: no chip answers: check "
         "the chip's power (pin 2, the always-high line, feeds the adapter), the ground (pins "
         "18-25), that the cable is on the right connector the right way round, and that a chip "
         "is there",
         2},
        {{{"LPTSPI_SIM_MISO", "low"}},
         "lines: data-in (pin 10) reads low with the flash released: it is shorted to ground, or "
         "a chip holds it low\nlines: data-in stays low with the flash selected and clocked: pin "
         "10 is shorted to ground, or the chip is held in reset",
         2},
        {{{"LPTSPI_SIM_ID", "0xEF4015"}, {"LPTSPI_SIM_SIZE", "0x200000"}},
         "flash: id ef 40 15, the same three times: Winbond (ef), 2048 KiB",
         0},
        {{{"LPTSPI_SIM_ID", "0x7A0019"}},
         "flash: id 7a 00 19, the same three times: unknown maker (7a), capacity code 19, a size "
         "this tool does not know",
         0},
        {{{"LPTSPI_SIM_STATUS", "0xE2"}},
         "flash: status 0xe2: not busy, write latch set, block protection on (bit 5 bit 6), "
         "status register locked (SRWD)" +
             refused,
         2},
        {{{"LPTSPI_SIM_STATUS", "0x01"}},
         "flash: the id cannot be read while the flash is busy\nflash: status 0x01: busy, write "
         "latch clear, no block protection, status register not locked\nflash: busy: an erase or "
         "a program is still running, or the chip is stuck: wait and run again, or switch the "
         "board off and on\nreads: not checked while the flash is busy",
         2},
        {{{"LPTSPI_SIM_NOISE", "0.00002:7"}},
         "reads: 34 bits differed between three reads of the first 64 KiB, in pages 5, 6, 9, 10, "
         "46, 57, 60, 63 and more: the cable is unreliable (too long, no ground return, a noisy "
         "supply): shorten it and connect all the ground pins",
         2},
    });
}

TEST_F(CheckTest, UnprotectPinsAndArguments) {
    // A protected chip keeps its protection from run to run, as a flash does: lptspi refuses it
    // until --unprotect clears it, and then programs it.
    const std::string tool = LPTSPI_SIM_EXE, image = dir + "/image.bin";
    write_file(image, scramble(pattern(600)));
    const Env on_chip = {{"LPTSPI_SIM_CHIP", chip}};
    check({{"LPTSPI_SIM_STATUS", "0x1C"}}); // the status is saved with the chip
    EXPECT_EQ(run_program({tool, image}, on_chip).status, 1);
    RunResult cleared = check({}, {"--unprotect"}, true);
    EXPECT_NE(cleared.out.find("unprotect: status 0x1c cleared to 0x00: lptspi takes this flash "
                               "now\nspeed: "),
              std::string::npos)
        << cleared.out;
    EXPECT_EQ(cleared.status, 0);
    EXPECT_EQ(run_program({tool, image}, on_chip).status, 0);
    EXPECT_EQ(read_file(chip).substr(0, 768), programmed(pattern(600)));
    expect({{{{"LPTSPI_SIM_STATUS", "0x9C"}, {"LPTSPI_SIM_WP", "low"}},
             "unprotect: the status is still 0x9e: the status register is locked (SRWD set while "
             "the chip's write-protect pin is held low) or the chip ignores the command: hold the "
             "write-protect pin high, or clear the protection with a programmer\nunprotect: "
             "write disable sent: status 0x9c, the write latch clear",
             2},
            {{{"LPTSPI_SIM_NOISE", "0.00002:7"}, {"LPTSPI_SIM_STATUS", "0x1C"}},
             "unprotect: not tried while the reads are unreliable",
             2},
            {{{"LPTSPI_SIM_MISO", "high"}}, "unprotect: not tried without a chip answering", 2}},
           {"--unprotect"});

    // --pins: each line in turn, the clock never moving while the flash is selected.
    const std::string trace = dir + "/trace";
    RunResult pins = check({{"LPTSPI_SIM_TRACE", trace}}, {"--pins"});
    EXPECT_EQ(pins.status, 0);
    const std::string traced = read_file(trace);
    EXPECT_EQ(traced.substr(traced.find("W 0378 05\nS 1000\n")),
              "W 0378 05\nS 1000\nS 1000\nS 1000\nW 0378 07\nS 1000\nS 1000\nS 1000\n"
              "W 0378 01\nS 1000\nS 1000\nS 1000\nW 0378 0d\nS 1000\nS 1000\nS 1000\n"
              "W 0378 05\nW 0378 05\nS 100\n");

    RunResult usage = check({{"LPTSPI_SIM_TRACE", trace}}, {"--pins", "--verify"});
    EXPECT_EQ(usage.out, "Error unknown argument --verify \nlptspi-check [--port LPTn] [--fast] "
                         "[--pins] [--unprotect]");
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(read_file(trace), "");
}

// lptspi-check --fast judges the board against lptspi --fast, writing nothing but what
// --unprotect clears: its verdict, and what lptspi --fast then does on the same chip.
TEST_F(CheckTest, FastJudgesWhatLptspiFastCanWrite) {
    const std::string can = "result: lptspi --fast can write this flash as it is";
    const std::string cannot = "result: lptspi --fast cannot write this flash as it is: ";
    const std::string pin_unknown = "result: lptspi --fast writes this flash only if the "
                                    "write-protect pin is held high (see above): lptspi-check "
                                    "--fast --unprotect finds out";
    const Env m25p80_locked = {{"LPTSPI_SIM_STATUS", "0x9C"}, {"LPTSPI_SIM_WP", "low"}};
    const Env m25p80_srwd = {{"LPTSPI_SIM_STATUS", "0x9C"}, {"LPTSPI_SIM_WP", "high"}};
    const std::vector<std::string> fast = {"--fast"}, both = {"--fast", "--unprotect"};
    struct Row {
        Env env;
        std::vector<std::string> args;
        std::string result;
        int status;
        int written; // lptspi --fast's exit status on the chip the check left; -1: not run
    } rows[] = {
        {{{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_STATUS", "0x1c"}}, fast, can, 0, 0},
        {{{"LPTSPI_SIM_STATUS", "0x02"}}, fast, can, 0, 0},
        {m25p80_locked, fast, pin_unknown, 2, 1},
        {m25p80_locked, both, cannot + "the write-protect pin holds the protection (see above)", 2,
         1},
        {m25p80_srwd, fast, pin_unknown, 2, 0},
        {m25p80_srwd, both, can, 0, 0},
        {{{"LPTSPI_SIM_FLASH", "at25df081a"}, {"LPTSPI_SIM_STATUS", "0x8C"}}, fast, can, 0, 0},
        {{{"LPTSPI_SIM_FLASH", "at25df081a"},
          {"LPTSPI_SIM_STATUS", "0x8C"},
          {"LPTSPI_SIM_WP", "low"}},
         fast,
         cannot + "the write-protect pin holds the protection (see above)",
         2,
         1},
        {{{"LPTSPI_SIM_MISO", "high"}},
         fast,
         cannot + "the flash or its wiring needs attention (see above)",
         2,
         1},
        {{{"LPTSPI_SIM_NOISE", "0.00002:7"}},
         fast,
         cannot + "the flash or its wiring needs attention (see above)",
         2,
         -1},
        {{{"LPTSPI_SIM_STATUS", "0x01"}}, fast, cannot + "the flash is busy (see above)", 2, 1},
        {{{"LPTSPI_SIM_ID", "0x7A0019"}},
         fast,
         cannot + "it takes no chip whose size it does not know (see above)",
         2,
         1},
    };
    const std::string tool = LPTSPI_SIM_EXE, image = dir + "/image.bin";
    write_file(image, scramble(pattern(600)));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.env.front().second + " " + row.env.back().second + " " + row.args.back());
        const std::string old = pattern(1 << 20, 2);
        write_file(chip, old);
        std::remove((chip + ".status").c_str());
        RunResult judged = check(row.env, row.args, true);
        const std::string last = judged.out.substr(judged.out.rfind("result: "));
        EXPECT_EQ(last, row.result + "\n");
        EXPECT_EQ(judged.status, row.status);
        EXPECT_TRUE(read_file(chip) == old); // the check wrote nothing
        if (row.written < 0)
            continue;
        // After --unprotect, the status the check left, saved with the chip.
        Env env = {{"LPTSPI_SIM_CHIP", chip}};
        for (const auto& [name, value] : row.env) {
            if (name != "LPTSPI_SIM_STATUS" || row.args.size() == 1)
                env.emplace_back(name, value);
        }
        EXPECT_EQ(run_program({tool, "--fast", image}, env).status, row.written);
    }
}

} // namespace
