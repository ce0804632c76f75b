// lptspi-check-sim against the simulated PC: each finding's line and the exit status, by area.
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string CHECK = LPTSPI_CHECK_EXE;
const std::string TOOL = LPTSPI_SIM_EXE;

const std::string PLATFORM_NT = "platform: Windows NT family, version 5.1 build 2600, 32-bit: "
                                "lptspi reaches the port through its driver hwinterface\n";
const std::string CLAIMED = "port: LPT1 is free, and claimed for this check\n";
const std::string RUNNING = "driver: running (\\\\.\\hwinterface opened)\n";
const std::string AT_0378 = "port: LPT1's registers at 0x0378 as the system placed them, its ECP "
                            "block at 0x0778\n";
const std::string ECP = "port: ECR at 0x077a reads 0x15: an ECP port, which lptspi sets to byte "
                        "mode\nsetting ECP port to SPP bidirectional mode  \n";
const std::string IDLE_HIGH = "lines: data-in (pin 10) reads high with the flash released\n";
const std::string ANSWERS =
    "lines: data-in follows the flash when it is selected and clocked: a chip answers\n";
const std::string ID = "flash: id 20 20 14, the same three times: ST/Micron (20), 1024 KiB\n";
const std::string CLEAN = "flash: status 0x00: not busy, write latch clear, no block "
                          "protection, status register not locked\n";
const std::string ALIKE = "reads: the first 64 KiB read three times, all alike\n";
// On the simulated PC a port access takes its 1 us, with no cost of its own for a request.
const std::string SPEED =
    "speed: a port access takes 1.00 us here as a driver request of its own, 1.00 us inside a "
    "frame the driver makes\n"
    "speed: on this PC a full 4095-page image takes lptspi about 479 s and lptspi --fast about "
    "45 s, a 1 MiB flash takes lptspi-backup about 50 s, besides the flash's own erase and "
    "program times\n";
const std::string READY = "result: everything lptspi needs was found\n";
const std::string NEEDS_ATTENTION = "result: the flash or its wiring needs attention (see above)\n";
const std::string NOT_READY = "lines, flash: not checked without the port and its driver\n"
                              "result: the port or its driver is not ready (see above)\n";

class CheckTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";

    // A fresh chip unless `keep`: the flash keeps its protection bits from run to run.
    RunResult check(Env env = {}, const std::vector<std::string>& args = {}, bool keep = false) {
        if (!keep) {
            std::remove(chip.c_str());
            std::remove((chip + ".status").c_str());
        }
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        std::vector<std::string> argv{CHECK};
        argv.insert(argv.end(), args.begin(), args.end());
        RunResult result = run_program(argv, env);
        EXPECT_EQ(result.err, "");
        return result;
    }
};

TEST_F(CheckTest, HealthySetupLeavesTheFlashAlone) {
    std::string contents = pattern(1 << 20, 4);
    write_file(chip, contents);
    RunResult result = check({}, {}, true);
    EXPECT_EQ(result.out, PLATFORM_NT + CLAIMED + RUNNING + AT_0378 + ECP + IDLE_HIGH + ANSWERS +
                              ID + CLEAN + ALIKE + SPEED + READY);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(read_file(chip) == contents);
}

TEST_F(CheckTest, PortAndDriver) {
    const std::string sig = "driver: Windows refused the driver's signature (error 577)\n";
    const std::string nt64 =
        "platform: Windows NT family, version 6.2 build 9200, 64-bit: lptspi reaches the port "
        "through its driver hwinterface, which 64-bit Windows loads only with a signature it "
        "accepts\n";
    const struct {
        Env env;
        std::string out;
    } cases[] = {
        {{{"LPTSPI_SIM_LPT", "busy"}},
         PLATFORM_NT + "port: LPT1 is held by another program (error 32): close it (a print "
                       "spooler, a printer's software, another lptspi) and run again\n"},
        {{{"LPTSPI_SIM_LPT", "absent"}},
         PLATFORM_NT + "port: there is no LPT1 (error 2): no parallel port, or one disabled in "
                       "the firmware setup or in Device Manager; USB printer adapters do not "
                       "work\n"},
        {{{"LPTSPI_SIM_PLATFORM", "unknown"}},
         "platform: not a Windows family lptspi knows: lptspi cannot run here\n"},
        {{{"LPTSPI_SIM_DRIVER", "missing"}},
         PLATFORM_NT + CLAIMED +
             "driver: C:\\WINDOWS\\system32\\Drivers\\hwinterface.sys is missing: copy the "
             "package's hwinterface.sys there\n"},
        {{{"LPTSPI_SIM_DRIVER", "unregistered"}, {"LPTSPI_SIM_SCM", "user"}},
         PLATFORM_NT + CLAIMED +
             "driver: not registered, and registering it needs an administrator: run "
             "lptspi-check once from an administrator's command prompt\n"},
        {{{"LPTSPI_SIM_DRIVER", "disabled"}},
         PLATFORM_NT + CLAIMED +
             "driver: the service hwinterface is disabled: run sc config hwinterface start= "
             "system as administrator\n"},
        {{{"LPTSPI_SIM_DRIVER", "unopenable"}},
         PLATFORM_NT + CLAIMED +
             "driver: the service runs but \\\\.\\hwinterface does not open (error 2): restart "
             "the PC, and if that does not help install this package's hwinterface.sys again\n"},
        {{{"LPTSPI_SIM_PLATFORM", "nt64"},
          {"LPTSPI_SIM_SIGNING", "test-off"},
          {"LPTSPI_SIM_DRIVER", "stopped"}},
         nt64 + CLAIMED + sig +
             "driver: test-signing is off: run bcdedit /set testsigning on as administrator, "
             "then restart\n"},
        {{{"LPTSPI_SIM_PLATFORM", "nt64"},
          {"LPTSPI_SIM_SIGNING", "secure-boot"},
          {"LPTSPI_SIM_DRIVER", "stopped"}},
         nt64 + CLAIMED + sig +
             "driver: Secure Boot is on, which keeps test-signing off: turn Secure Boot off in "
             "the firmware setup, then run bcdedit /set testsigning on as administrator and "
             "restart\n"},
        {{{"LPTSPI_SIM_PLATFORM", "nt64"},
          {"LPTSPI_SIM_SIGNING", "not-trusted"},
          {"LPTSPI_SIM_DRIVER", "stopped"}},
         nt64 + CLAIMED + sig +
             "driver: test-signing is on, so Windows does not trust the certificate: import "
             "lptspi-driver-signing.cer into the Root and TrustedPublisher stores (README.txt "
             "says how), or use the hwinterface.sys of this package\n"},
        {{{"LPTSPI_SIM_IOCTL", "fail"}},
         PLATFORM_NT + CLAIMED + RUNNING +
             "port: LPT1's registers taken at 0x0378: the driver cannot tell where LPT1 is (an "
             "older hwinterface.sys); for a PCI or PCIe card install this package's driver\n"
             "driver: reading LPT1's status register at 0x0379 fails (error 31)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.front().first + "=" + c.env.front().second);
        RunResult result = check(c.env);
        EXPECT_EQ(result.out, c.out + NOT_READY);
        EXPECT_EQ(result.status, 1);
    }

    // What is fixed on the way: a stopped driver started, a missing service registered; and
    // where LPT1 is, from the driver.
    const struct {
        Env env;
        std::string out;
    } fixed[] = {
        {{{"LPTSPI_SIM_DRIVER", "stopped"}, {"LPTSPI_SIM_SCM", "user"}},
         "driver: was stopped, and is started now\n" + AT_0378 + ECP},
        {{{"LPTSPI_SIM_DRIVER", "unregistered"}},
         "driver: was not registered: registered now as the service hwinterface and started (it "
         "loads at every boot from now on)\n" +
             AT_0378 + ECP},
        {{{"LPTSPI_SIM_PORT", "0xD010"}},
         RUNNING + "port: LPT1's registers at 0xd010 as the system placed them, no ECP block\n"
                   "port: no ECP block, so no extended control register to set up\n"},
        {{{"LPTSPI_SIM_PORT", "0xD010,0xD000"}, {"LPTSPI_SIM_ECP", "0"}},
         RUNNING + "port: LPT1's registers at 0xd010 as the system placed them, no ECP block\n"
                   "port: no ECP block, so no extended control register to set up\n"},
        {{{"LPTSPI_SIM_PLATFORM", "9x"}, {"LPTSPI_SIM_ECP", "0"}},
         "port: LPT1's registers taken at 0x0378: on Windows 95/98/Me lptspi cannot ask where a "
         "card put them, so a card must sit at 0x378\n"
         "port: no ECR at 0x077a (it reads 0xff): a plain port, used as it is\n"},
    };
    for (const auto& c : fixed) {
        SCOPED_TRACE(c.env.front().first + "=" + c.env.front().second);
        RunResult result = check(c.env);
        const size_t from = result.out.find(CLAIMED) + CLAIMED.size();
        const size_t to = result.out.find(IDLE_HIGH);
        ASSERT_NE(to, std::string::npos) << result.out;
        EXPECT_EQ(result.out.substr(from, to - from), c.out);
        EXPECT_EQ(result.status, 0);
    }
}

// The findings after the port's: the data-in line, the identification and the status.
std::string flash_part(const std::string& out) {
    const size_t from = out.find("lines: ");
    const size_t to = out.find("speed: ");
    return from == std::string::npos ? out : out.substr(from, to - from);
}

TEST_F(CheckTest, LinesAndFlash) {
    const struct {
        Env env;
        std::string out;
        int status;
    } cases[] = {
        {{{"LPTSPI_SIM_MISO", "high"}},
         IDLE_HIGH + "lines: data-in stays high with the flash selected and clocked: no chip "
                     "answers: check the chip's power (pin 2, the always-high line, feeds the "
                     "adapter), the ground (pins 18-25), that the cable is on the right "
                     "connector the right way round, and that a chip is there\n",
         2},
        {{{"LPTSPI_SIM_MISO", "low"}},
         "lines: data-in (pin 10) reads low with the flash released: it is shorted to ground, or "
         "a chip holds it low\n"
         "lines: data-in stays low with the flash selected and clocked: pin 10 is shorted to "
         "ground, or the chip is held in reset\n",
         2},
        {{{"LPTSPI_SIM_ID", "0xEF4015"}, {"LPTSPI_SIM_SIZE", "0x200000"}},
         IDLE_HIGH + ANSWERS +
             "flash: id ef 40 15, the same three times: Winbond (ef), 2048 KiB\n" + CLEAN + ALIKE,
         0},
        {{{"LPTSPI_SIM_ID", "0x7A0019"}},
         IDLE_HIGH + ANSWERS +
             "flash: id 7a 00 19, the same three times: unknown maker (7a), capacity code 19, a "
             "size this tool does not know\n" +
             CLEAN + ALIKE,
         0},
        {{{"LPTSPI_SIM_STATUS", "0x1C"}},
         IDLE_HIGH + ANSWERS + ID +
             "flash: status 0x1c: not busy, write latch clear, block protection on (BP0 BP1 "
             "BP2), status register not locked\n"
             "flash: lptspi refuses a flash whose status is not 0x00: lptspi-check --unprotect "
             "clears it\n" +
             ALIKE,
         2},
        {{{"LPTSPI_SIM_STATUS", "0xE2"}},
         IDLE_HIGH + ANSWERS + ID +
             "flash: status 0xe2: not busy, write latch set, block protection on (bit 5 bit 6), "
             "status register locked (SRWD)\n"
             "flash: lptspi refuses a flash whose status is not 0x00: lptspi-check --unprotect "
             "clears it\n" +
             ALIKE,
         2},
        {{{"LPTSPI_SIM_STATUS", "0x01"}},
         IDLE_HIGH + ANSWERS + "flash: the id cannot be read while the flash is busy\n" +
             "flash: status 0x01: busy, write latch clear, no block protection, status register "
             "not locked\n"
             "flash: busy: an erase or a program is still running, or the chip is stuck: wait "
             "and run again, or switch the board off and on\n"
             "reads: not checked while the flash is busy\n",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.front().first + "=" + c.env.front().second);
        RunResult result = check(c.env);
        EXPECT_EQ(flash_part(result.out), c.out);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out.substr(result.out.rfind("result: ")),
                  c.status == 0 ? READY : NEEDS_ATTENTION);
    }
}

// A flaky data-in line: the three reads of the first 64 KiB disagree here and there.
TEST_F(CheckTest, UnreliableReads) {
    RunResult result = check({{"LPTSPI_SIM_NOISE", "0.00002:7"}});
    EXPECT_EQ(flash_part(result.out),
              IDLE_HIGH + ANSWERS + ID + CLEAN +
                  "reads: 34 bits differed between three reads of the first 64 KiB, in pages 5, "
                  "6, 9, 10, 46, 57, 60, 63 and more: the cable is unreliable (too long, no "
                  "ground return, a noisy supply): shorten it and connect all the ground pins\n");
    EXPECT_EQ(result.status, 2);
    // A chip smaller than 64 KiB is read whole.
    RunResult small = check({{"LPTSPI_SIM_SIZE", "8192"}});
    EXPECT_NE(small.out.find("reads: the first 8 KiB read three times, all alike\n"),
              std::string::npos)
        << small.out;
}

TEST_F(CheckTest, OptionsAndArguments) {
    // --unprotect on a protected chip: cleared, and lptspi then programs the chip.
    RunResult cleared = check({{"LPTSPI_SIM_STATUS", "0x1C"}}, {"--unprotect"});
    EXPECT_NE(cleared.out.find("unprotect: status 0x1c cleared to 0x00: lptspi takes this flash "
                               "now\n"),
              std::string::npos)
        << cleared.out;
    EXPECT_EQ(cleared.out.substr(cleared.out.rfind("result: ")), READY);
    EXPECT_EQ(cleared.status, 0);

    // The protection stays with the chip from run to run, as a flash keeps it: a backup that
    // found it leaves it, the check clears it, lptspi programs.
    write_file(dir + "/raw.bin", pattern(600));
    write_file(dir + "/image.bin", scramble(pattern(600)));
    RunResult backup = run_program({LPTSPI_BACKUP_EXE, dir + "/backup.bin"},
                                   {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_STATUS", "0x1C"}});
    EXPECT_EQ(backup.status, 0);
    RunResult refused = run_program({TOOL, dir + "/image.bin"}, {{"LPTSPI_SIM_CHIP", chip}});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(check({}, {"--unprotect"}, true).status, 0);
    RunResult programmed_run = run_program({TOOL, dir + "/image.bin"}, {{"LPTSPI_SIM_CHIP", chip}});
    EXPECT_EQ(programmed_run.status, 0) << programmed_run.out.substr(0, 300);
    EXPECT_EQ(read_file(chip).substr(0, 768), programmed(pattern(600)));

    // A locked status register (the write-protect pin held low) stays as it is.
    RunResult locked =
        check({{"LPTSPI_SIM_STATUS", "0x9C"}, {"LPTSPI_SIM_WP", "low"}}, {"--unprotect"});
    EXPECT_NE(locked.out.find("unprotect: the status is still 0x9e: the status register is "
                              "locked (SRWD set while the chip's write-protect pin is held low) "
                              "or the chip ignores the command: hold the write-protect pin high, "
                              "or clear the protection with a programmer\n"),
              std::string::npos)
        << locked.out;
    EXPECT_EQ(locked.status, 2);
    EXPECT_NE(check({}, {"--unprotect"}).out.find("unprotect: nothing to clear (status 0x00)\n"),
              std::string::npos);

    // --pins: each line in turn, the clock never moving while the flash is selected.
    const std::string trace = dir + "/trace";
    RunResult pins = check({{"LPTSPI_SIM_TRACE", trace}}, {"--pins"});
    EXPECT_NE(pins.out.find("pins: each output line at its working level for 3 s, the others idle: "
                            "measure against pins 18-25 (ground)\n"
                            "pins: pin 2 (the always-high line) high\n"
                            "pins: pin 3 (data to the flash) high\n"
                            "pins: pin 4 (chip select) low: the flash selected\n"
                            "pins: pin 5 (clock) high\n"
                            "pins: all lines idle again (pins 2 and 4 high, 3 and 5 low)\n" +
                            READY),
              std::string::npos)
        << pins.out;
    const std::string traced = read_file(trace);
    const std::string tail = traced.substr(traced.find("W 0378 05\nS 1000\n") - 10);
    EXPECT_EQ(tail, "W 0378 05\nW 0378 05\nS 1000\nS 1000\nS 1000\n"
                    "W 0378 07\nS 1000\nS 1000\nS 1000\n"
                    "W 0378 01\nS 1000\nS 1000\nS 1000\n"
                    "W 0378 0d\nS 1000\nS 1000\nS 1000\n"
                    "W 0378 05\nW 0378 05\nS 100\n");

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--fast"}, std::vector<std::string>{"--pins", "image.bin"}}) {
        RunResult usage = check({{"LPTSPI_SIM_TRACE", trace}}, args);
        EXPECT_EQ(usage.out, "Error unknown argument " + args.back() +
                                 " \nlptspi-check [--pins] [--unprotect]");
        EXPECT_EQ(usage.status, 1);
        EXPECT_EQ(read_file(trace), "");
    }
}

} // namespace
