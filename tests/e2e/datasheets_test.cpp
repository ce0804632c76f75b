// What the makers' datasheets say a board's chip may be beyond its family's first row, on the
// simulated PC: the status bits an unprotect must keep (the W25Q's status register 2: QE, CMP,
// SRP1), a chip a board's processor left in deep power-down, identifications that several chips
// share or that only the older commands answer, and the chip's own parameter table (SFDP).
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE, CHECK = LPTSPI_CHECK_EXE, BACKUP = LPTSPI_BACKUP_EXE;
const size_t KIB = 1024;

// The lines of a check about the flash, its protection and the result.
std::string findings(const std::string& out) {
    std::istringstream in(out);
    std::string line, kept;
    while (std::getline(in, line)) {
        for (const char* head : {"flash: ", "unprotect: ", "result: "}) {
            if (line.rfind(head, 0) == 0)
                kept += line + "\n";
        }
    }
    return kept;
}

bool has(const std::string& out, const std::string& text) {
    return out.find(text) != std::string::npos;
}

class DatasheetTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";
    std::string image = dir + "/image.bin";

    // A new chip file of `bytes`, the chip at power-up; `raw` scrambled into the image file.
    void board(const std::string& bytes, const std::string& raw = "") {
        for (const std::string& name : folder_entries(dir))
            std::remove((dir + "/" + name).c_str());
        write_file(chip, bytes);
        if (!raw.empty())
            write_file(image, scramble(raw));
    }
    RunResult run(std::vector<std::string> argv, Env env) {
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        return run_program(argv, env);
    }
};

const std::string SR2_QE = "flash: status register 2 0x02: QE set: quad mode on, which lptspi "
                           "--fast and lptspi-check --unprotect keep; CMP clear; SRP1 clear: not "
                           "locked down\n";
const std::string SR2_CLEAR =
    "flash: status register 2 0x00: QE clear; CMP clear; SRP1 clear: not locked down\n";

// A protected W25Q80 (its one-byte status write clears QE and CMP) and W25Q128 (it leaves
// register 2 alone), with QE set, with CMP set and no BP bit (the whole chip protected), at both
// ends of the datasheets' times: lptspi --fast writes both registers together, clearing only the
// protection, and programs the image; lptspi-check then finds QE as it was. lptspi-check
// --unprotect does the same for lptspi's own run, which then programs the chip.
TEST_F(DatasheetTest, UnprotectKeepsQuadEnableAndClearsCmp) {
    const struct {
        const char* flash;
        const char* status;
        const char* status2;
        std::string cleared;   // --fast's line
        std::string unprotect; // lptspi-check --unprotect's line
        std::string after;     // status register 2 afterwards
    } rows[] = {
        {"w25q80", "0x1C", "0x02",
         "flash protected (status 0x1c, status register 2 0x02): cleared to 0x00, 0x02 by write "
         "enable and write status 0x00 0x02 (QE kept)\n",
         "unprotect: status 0x1c, status register 2 0x02 cleared to 0x00, 0x02 (QE kept): lptspi "
         "takes this flash now\n",
         SR2_QE},
        {"w25q128", "0x1C", "0x02",
         "flash protected (status 0x1c, status register 2 0x02): cleared to 0x00, 0x02 by write "
         "enable and write status 0x00 0x02 (QE kept)\n",
         "unprotect: status 0x1c, status register 2 0x02 cleared to 0x00, 0x02 (QE kept): lptspi "
         "takes this flash now\n",
         SR2_QE},
        {"w25q80", "0x00", "0x40",
         "flash protected (status 0x00, status register 2 0x40): cleared to 0x00, 0x00 by write "
         "enable and write status 0x00 0x00\n",
         "unprotect: status 0x00, status register 2 0x40 cleared to 0x00, 0x00: lptspi takes this "
         "flash now\n",
         SR2_CLEAR},
        {"w25q128", "0x00", "0x42",
         "flash protected (status 0x00, status register 2 0x42): cleared to 0x00, 0x02 by write "
         "enable and write status 0x00 0x02 (QE kept)\n",
         "unprotect: status 0x00, status register 2 0x42 cleared to 0x00, 0x02 (QE kept): lptspi "
         "takes this flash now\n",
         SR2_QE},
    };
    const std::string raw = pattern(600, 3);
    for (const auto& r : rows) {
        for (const char* timing : {"min", "max"}) {
            SCOPED_TRACE(std::string(r.flash) + " " + r.status + " " + r.status2 + " " + timing);
            const size_t size = std::string(r.flash) == "w25q128" ? 16384 * KIB : 1024 * KIB;
            const std::string old = pattern(size, 4);
            const Env env = {{"LPTSPI_SIM_FLASH", r.flash},
                             {"LPTSPI_SIM_TIMING", timing},
                             {"LPTSPI_SIM_STATUS", r.status},
                             {"LPTSPI_SIM_STATUS2", r.status2}};
            board(old, raw);
            RunResult fast = run({TOOL, "--fast", image}, env);
            EXPECT_EQ(fast.status, 0) << fast.out;
            EXPECT_TRUE(has(fast.out, r.cleared)) << fast.out;
            EXPECT_TRUE(read_file(chip) == programmed(raw) + std::string(size - 768, '\xFF'));
            // The registers as the run left them, saved with the chip.
            const Env kept = {{"LPTSPI_SIM_FLASH", r.flash}};
            EXPECT_TRUE(has(findings(run({CHECK}, kept).out), r.after));

            board(old, raw);
            RunResult cleared = run({CHECK, "--unprotect"}, env);
            EXPECT_TRUE(has(cleared.out, r.unprotect)) << cleared.out;
            EXPECT_EQ(cleared.status, 0);
            // lptspi's own run then programs it (a chip still protected would keep it polling).
            const bool unprotected = has(findings(run({CHECK}, kept).out), r.after);
            ASSERT_TRUE(unprotected);
            EXPECT_EQ(run({TOOL, image}, kept).status, 0);
            EXPECT_EQ(read_file(chip).substr(0, 768), programmed(raw));
        }
    }
}

// lptspi-check names status register 2's bits and what each means for lptspi and lptspi --fast:
// CMP turning no BP bit into the whole chip protected, which lptspi's bulk erase then meets;
// SRP1, which refuses every status write until the power is cycled, or for good with SRP0 set:
// protection that stays then, which lptspi --fast refuses before its erase. Locked down with
// nothing protected, it is written as it is. The one-time lock bits are named, and kept.
TEST_F(DatasheetTest, CheckNamesStatusRegister2) {
    const std::string locked = "the status registers are locked down with protection on";
    const struct {
        const char* status;
        const char* status2;
        std::string lines; // the status lines
        int check, judged; // lptspi-check's exit status, and with --fast
        int fast;          // lptspi --fast's
    } rows[] = {
        {"0x00", "0x40",
         "flash: status 0x00: not busy, write latch clear, no BP bit set, which CMP turns into the "
         "whole chip protected, status register not locked\nflash: status register 2 0x40: QE "
         "clear; CMP set: the BP bits' protection turned over (with none set the whole chip is "
         "protected): lptspi --fast clears it, and for lptspi, lptspi-check --unprotect; SRP1 "
         "clear: not locked down\n",
         2, 0, 0},
        {"0x1C", "0x01",
         "flash: status 0x1c: not busy, write latch clear, block protection on (BP0 BP1 BP2), "
         "status register not locked\nflash: status register 2 0x01: QE clear; CMP clear; SRP1 "
         "set: the status registers locked down until the power is cycled (no status write is "
         "taken): switch the board off and on\nflash: lptspi refuses a flash whose status is not "
         "0x00: the status registers are locked down (SRP1, see status register 2): no status "
         "write is taken, so the protection stays, for lptspi --fast too; for lptspi, lptspi-check "
         "--unprotect clears it\n",
         2, 2, 1},
        {"0x9C", "0x01",
         "flash: status 0x9c: not busy, write latch clear, block protection on (BP0 BP1 BP2), "
         "status register locked (SRP0)\nflash: status register 2 0x01: QE clear; CMP clear; SRP1 "
         "and SRP0 set: the status registers locked for good (one-time program): no status write "
         "is ever taken\nflash: lptspi refuses a flash whose status is not 0x00: the status "
         "registers are locked down (SRP1, see status register 2): no status write is taken, so "
         "the protection stays, for lptspi --fast too; for lptspi, lptspi-check --unprotect clears "
         "it\n",
         2, 2, 1},
        {"0x00", "0x01",
         "flash: status 0x00: not busy, write latch clear, no block protection, status register "
         "not locked\nflash: status register 2 0x01: QE clear; CMP clear; SRP1 set: the status "
         "registers locked down until the power is cycled (no status write is taken): switch the "
         "board off and on\n",
         0, 0, 0},
        {"0x1C", "0x0A",
         "flash: status 0x1c: not busy, write latch clear, block protection on (BP0 BP1 BP2), "
         "status register not locked\nflash: status register 2 0x0a: QE set: quad mode on, which "
         "lptspi --fast and lptspi-check --unprotect keep; CMP clear; SRP1 clear: not locked "
         "down; LB1 set (one-time, kept)\nflash: lptspi refuses a flash whose status is not 0x00: "
         "lptspi --fast clears the protection itself; for lptspi, lptspi-check --unprotect clears "
         "it\n",
         2, 0, 0},
    };
    const std::string raw = pattern(600, 5), old = pattern(1024 * KIB, 6);
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.status) + " " + r.status2);
        const Env env = {{"LPTSPI_SIM_FLASH", "w25q80"},
                         {"LPTSPI_SIM_STATUS", r.status},
                         {"LPTSPI_SIM_STATUS2", r.status2}};
        board(old, raw);
        RunResult check = run({CHECK}, env);
        const std::string found = findings(check.out);
        const std::string id = "flash: id ef 40 14, the same three times: Winbond (ef) W25Q80, "
                               "1024 KiB\n";
        EXPECT_EQ(found.substr(0, found.find("result: ")), id + r.lines);
        EXPECT_EQ(check.status, r.check);
        RunResult judged = run({CHECK, "--fast"}, env);
        EXPECT_EQ(judged.status, r.judged);
        EXPECT_EQ(has(judged.out, locked), r.judged != 0) << judged.out;
        RunResult fast = run({TOOL, "--fast", image}, env);
        EXPECT_EQ(fast.status, r.fast) << fast.out;
        if (r.fast != 0) {
            const std::string until =
                std::string(r.status) == "0x9C"
                    ? "for good, with SRP0 set too: the chip's protection "
                      "can never be cleared"
                    : "until the power is cycled: switch the board off and on";
            EXPECT_TRUE(has(fast.out, "status register 2 0x01: SRP1 is set, which locks the status "
                                      "registers down (" +
                                          until + "): no status write is taken; nothing erased \n"))
                << fast.out;
            EXPECT_TRUE(read_file(chip) == old);
        } else {
            EXPECT_EQ(read_file(chip).substr(0, 768), programmed(raw));
        }
    }
}

// A chip left in deep power-down answers nothing but its release: lptspi --fast, --verify,
// lptspi-backup and the station wake it (0xab, then the table's longest release time, 30 us on
// the AT25DF and M45PE80) and go on as with any chip; lptspi-check says it was asleep; lptspi's
// own run keeps its accesses, finds status 0xff and refuses it, as it always did.
TEST_F(DatasheetTest, AsleepChipIsWokenByEveryProgramButThePlainRun) {
    const std::string raw = pattern(600, 7);
    const std::string written = programmed(raw);
    const std::string asleep = "flash: the chip answered nothing until its release from deep "
                               "power-down (0xab): it was asleep, as a board's processor may "
                               "leave it, and woke";
    for (const char* flash : {"m25p80", "w25q80", "at25df081a", "m45pe80"}) {
        SCOPED_TRACE(flash);
        const Env env = {
            {"LPTSPI_SIM_FLASH", flash}, {"LPTSPI_SIM_ASLEEP", "1"}, {"LPTSPI_SIM_TIMING", "max"}};
        const std::string blank(1024 * KIB - 768, '\xFF');
        board(pattern(1024 * KIB, 8), raw);
        RunResult plain = run({TOOL, image}, env);
        EXPECT_EQ(plain.out, OPENING + "serial flash not idle! reporting state 0xff\n\n");
        EXPECT_EQ(plain.status, 1);

        RunResult fast = run({TOOL, "--fast", image}, env);
        EXPECT_EQ(fast.status, 0) << fast.out;
        EXPECT_TRUE(read_file(chip).substr(0, 768) == written);

        board(written + blank, raw);
        RunResult verify = run({TOOL, "--verify", image}, env);
        EXPECT_EQ(verify.status, 0) << verify.out;

        board(written + blank);
        RunResult backup = run({BACKUP, dir + "/backup.bin"}, env);
        EXPECT_EQ(backup.status, 0) << backup.out;
        EXPECT_TRUE(read_file(dir + "/backup.bin") == scramble(written));

        board(written + blank);
        RunResult check = run({CHECK}, env);
        EXPECT_TRUE(has(check.out, "a chip answers\n" + asleep)) << check.out;
        EXPECT_TRUE(read_file(chip) == written + blank);
        // Awake, it is named no more.
        EXPECT_FALSE(has(run({CHECK}, {{"LPTSPI_SIM_FLASH", flash}}).out, asleep));
    }
    // The station: a board whose chip sleeps is found and written.
    board("", raw);
    Child station({TOOL, "--station", image},
                  {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_BOARDS", "w25q80:asleep=1,end"}});
    const bool summed_up = station.wait_for("1 board: 1 passed, 0 failed\n");
    if (!summed_up)
        station.signal(SIGINT); // a station that never finds the board waits for ever
    RunResult stationed = station.finish();
    EXPECT_TRUE(summed_up) << stationed.out;
    EXPECT_TRUE(has(stationed.out, "board 1: flash id ef 40 14 answers\n")) << stationed.out;
    EXPECT_EQ(read_file(chip + ".1").substr(0, 768), written);
}

} // namespace
