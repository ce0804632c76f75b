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
const size_t KIB = 1024, PAGE = 256;

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

// lptspi --fast on chips the identification alone misnames: an XM25QH80B with its BP bits set
// answers the M45PE80's 20 40 14 (whose procedure clears nothing and erases sector by sector),
// its status shows bits the M45PE80 does not have, so it takes the common procedure and is
// written whole; the S25FL008A is 1 MiB whatever its capacity byte (0x13) says. The older SST25
// parts answer 0x9F with nothing: named from 0x90 and refused before anything is erased, by the
// fast run, the backup and the check alike.
TEST_F(DatasheetTest, SharedAndOlderIdentifications) {
    const struct {
        Env env;
        size_t kib;
        size_t pages;     // of the image
        std::string said; // what the run says of the chip
        int status;
    } rows[] = {
        {{{"LPTSPI_SIM_FLASH", "xm25qh80b"}, {"LPTSPI_SIM_STATUS", "0x1C"}},
         1024,
         600,
         "flash id 20 40 14 is M45PE80's, but its status shows bits M45PE80 does not have: another "
         "chip with that identification, treated as a common 25-series flash of 1024 KiB\nflash "
         "protected (status 0x1c): cleared to 0x00 by write enable and write status 0x00\nBulk "
         "erasing flash checking status... \n",
         0},
        {{{"LPTSPI_SIM_FLASH", "s25fl008a"}},
         1024,
         3000,
         "flash S25FL008A (01 02 13), 1024 KiB\nBulk erasing flash checking status... \n",
         0},
        {{{"LPTSPI_SIM_FLASH", "sst25vf040"}},
         512,
         600,
         "!!! flash id ff ff ff, but it answers only the older identification (0x90: bf 44, "
         "SST25VF040): lptspi does not support it: nothing erased \nFAIL: the flash answers only "
         "the older identification (it answers only the older identification (0x90: bf 44, "
         "SST25VF040)): nothing erased\n",
         1},
        {{{"LPTSPI_SIM_FLASH", "sst25lf080a"}},
         1024,
         600,
         "!!! flash id ff ff ff, but it answers only the older identification (0x90: bf 80, "
         "SST25LF080A): lptspi does not support it: nothing erased \n",
         1},
    };
    for (const auto& r : rows) {
        for (const char* timing : {"min", "max"}) {
            SCOPED_TRACE(r.env.front().second + " at " + timing);
            const std::string raw = pattern(r.pages * PAGE, 2), old = pattern(r.kib * KIB, 3);
            Env env = r.env;
            env.emplace_back("LPTSPI_SIM_TIMING", timing);
            board(old, raw);
            RunResult fast = run({TOOL, "--fast", image}, env);
            EXPECT_EQ(fast.status, r.status);
            EXPECT_TRUE(has(without_progress(fast.out), r.said)) << fast.out;
            const std::string expected =
                r.status == 0 ? programmed(raw) + std::string(r.kib * KIB - r.pages * PAGE, '\xFF')
                              : old;
            EXPECT_TRUE(read_file(chip) == expected);
        }
    }
    // lptspi-backup says the same of the XM25QH80B, and reads the size its identification gives.
    board(pattern(2048, 5) + std::string(1024 * KIB - 2048, '\xFF'));
    RunResult shared = run({BACKUP, dir + "/backup.bin"},
                           {{"LPTSPI_SIM_FLASH", "xm25qh80b"}, {"LPTSPI_SIM_STATUS", "0x1C"}});
    EXPECT_TRUE(has(shared.out, "flash id 20 40 14, 1024 KiB: M45PE80's identification, but its "
                                "status shows bits M45PE80 does not have: taken as a common "
                                "25-series chip of the size its identification gives\n"))
        << shared.out;
    EXPECT_EQ(shared.status, 0);
    // The older parts: lptspi-check names them, and judges lptspi and lptspi --fast unable;
    // lptspi-backup reads nothing.
    for (const char* flash : {"sst25vf040", "sst25lf080a"}) {
        SCOPED_TRACE(flash);
        const Env env = {{"LPTSPI_SIM_FLASH", flash}};
        const std::string device =
            std::string(flash) == "sst25vf040" ? "44, SST25VF040" : "80, SST25LF080A";
        board(pattern(512 * KIB, 4));
        RunResult check = run({CHECK, "--fast", "--unprotect"}, env);
        EXPECT_TRUE(has(check.out, "flash: id ff ff ff, the same three times: no answer to the "
                                   "identification (0x9f), but it answers only the older "
                                   "identification (0x90: bf " +
                                       device +
                                       "): a chip of the older generation, which lptspi does not "
                                       "support\n"))
            << check.out;
        EXPECT_TRUE(has(check.out, "reads: not checked on a chip lptspi does not support\n"
                                   "unprotect: not tried on a chip lptspi does not support\n"));
        EXPECT_TRUE(has(check.out, "result: lptspi --fast cannot write this flash as it is: it "
                                   "does not support a chip of the older generation (see above)\n"))
            << check.out;
        EXPECT_EQ(check.status, 2);
        RunResult backup = run({BACKUP, dir + "/backup.bin"}, env);
        EXPECT_TRUE(has(backup.out, "flash id ff ff ff, but it answers only the older "
                                    "identification (0x90: bf " +
                                        device + "): lptspi does not support it\n"))
            << backup.out;
        EXPECT_EQ(backup.status, 1);
        EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"chip.bin"});
    }
}

// A chip not in the table whose identification gives no size (3c 25 01), described only by its
// parameter table: 2 MiB, its erases and the status write after 0x06, as the table says; lptspi
// --fast writes it, --verify finds the image, lptspi-backup reads its 2 MiB and saves it, and
// lptspi-check says what the table gives. Without the table it is refused as before.
TEST_F(DatasheetTest, ChipDescribedByItsOwnTable) {
    const std::string raw = pattern(300 * PAGE, 6), old = pattern(2048 * KIB, 7);
    const Env env = {{"LPTSPI_SIM_FLASH", "sfdp-only"}};
    for (const char* timing : {"min", "max"}) {
        SCOPED_TRACE(timing);
        Env timed = env;
        timed.emplace_back("LPTSPI_SIM_TIMING", timing);
        board(old, raw);
        RunResult fast = run({TOOL, "--fast", image}, timed);
        EXPECT_EQ(fast.status, 0) << fast.out;
        EXPECT_TRUE(has(fast.out, "flash id 3c 25 01 not in the table: its own parameter table "
                                  "(SFDP) describes a flash of 2048 KiB, taken as it says\nBulk "
                                  "erasing flash checking status... \n"))
            << fast.out;
        const std::string written = programmed(raw) + std::string(2048 * KIB - 300 * PAGE, '\xFF');
        EXPECT_TRUE(read_file(chip) == written);
        EXPECT_EQ(run({TOOL, "--verify", image}, timed).status, 0);
    }
    RunResult backup = run({BACKUP, dir + "/backup.bin"}, env);
    EXPECT_TRUE(has(backup.out, "flash id 3c 25 01, 2048 KiB: not in lptspi's table of flash "
                                "chips, its own parameter table (SFDP) gives its size\nreading "
                                "8192 pages twice...\n"))
        << backup.out;
    EXPECT_EQ(backup.status, 0);
    EXPECT_TRUE(read_file(dir + "/backup.bin") == scramble(programmed(raw)));
    RunResult check = run({CHECK, "--fast"}, env);
    EXPECT_TRUE(has(check.out, "flash: id 3c 25 01, the same three times: unknown maker (3c), "
                               "2048 KiB\nflash: not in lptspi's table of flash chips, but its own "
                               "parameter table (SFDP 1.6) describes it: 2048 KiB, erases 4 KiB "
                               "(0x20), 32 KiB (0x52), 64 KiB (0xd8), the status written after "
                               "0x06, no quad-enable bit; lptspi --fast takes it as that table "
                               "says\n"))
        << check.out;
    EXPECT_EQ(check.status, 0);

    board(old, raw);
    Env untold = env;
    untold.emplace_back("LPTSPI_SIM_SFDP", "none");
    RunResult refused = run({TOOL, "--fast", image}, untold);
    EXPECT_EQ(refused.status, 1);
    EXPECT_TRUE(has(refused.out, "!!! flash id 3c 25 01 not in the table, and it gives no size"));
    EXPECT_TRUE(read_file(chip) == old);
}

// A known identification whose chip publishes a table: one that agrees (the MX25L8006E's, the
// W25Q's) changes nothing; one that lies about the density or an erase command (a relabelled or
// cloned part) is shown by lptspi-check and refused by lptspi --fast before anything is erased
// or written.
TEST_F(DatasheetTest, TableThatContradictsTheIdentificationIsRefused) {
    const struct {
        const char* flash;
        const char* sfdp;
        std::string differs; // what the table says against the row; empty: it agrees
    } rows[] = {
        {"mx25l8006e", "family", ""},
        {"w25q80", "family", ""},
        {"w25q80", "wrong-size", "its table gives 2048 KiB, W25Q80 has 1024 KiB"},
        {"w25q128", "wrong-erase", "its 4 KiB erase is 0xd7, W25Q128's 0x20"},
        {"mx25l8006e", "wrong-size", "its table gives 2048 KiB, MX25L8005 has 1024 KiB"},
        {"mx25l8006e", "wrong-erase", "its 4 KiB erase is 0xd7, MX25L8005's 0x20"},
    };
    const std::string raw = pattern(600, 8);
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.flash) + " " + r.sfdp);
        const size_t kib = std::string(r.flash) == "w25q128" ? 16384 : 1024;
        const std::string old = pattern(kib * KIB, 9);
        const Env env = {{"LPTSPI_SIM_FLASH", r.flash},
                         {"LPTSPI_SIM_SFDP", r.sfdp},
                         {"LPTSPI_SIM_STATUS", "0x1C"}};
        board(old, raw);
        RunResult check = run({CHECK, "--fast"}, env);
        const std::string name = std::string(r.flash) == "w25q80"    ? "W25Q80"
                                 : std::string(r.flash) == "w25q128" ? "W25Q128"
                                                                     : "MX25L8005";
        const std::string shown = "flash: its own parameter table (SFDP) contradicts " + name +
                                  ": " + r.differs +
                                  ": a relabelled or cloned chip, or a wrong table: lptspi --fast "
                                  "refuses it\n";
        EXPECT_EQ(has(check.out, shown), !r.differs.empty()) << check.out;
        EXPECT_EQ(has(check.out, "result: lptspi --fast cannot write this flash as it is: the "
                                 "chip's own parameter table contradicts its identification (see "
                                 "above)\n"),
                  !r.differs.empty())
            << check.out;
        if (r.differs.empty()) {
            // Protected, at both ends of the datasheets' times (the MX25L8006E's status write
            // takes up to 100 ms).
            for (const char* timing : {"min", "max"}) {
                Env timed = env;
                timed.emplace_back("LPTSPI_SIM_TIMING", timing);
                board(old, raw);
                RunResult fast = run({TOOL, "--fast", image}, timed);
                EXPECT_EQ(fast.status, 0) << timing << fast.out;
                EXPECT_EQ(read_file(chip).substr(0, 768), programmed(raw)) << timing;
            }
            continue;
        }
        RunResult fast = run({TOOL, "--fast", image}, env);
        const std::string tail =
            "!!! " + name +
            "'s own parameter table (SFDP) contradicts its identification: " + r.differs +
            ": a relabelled or cloned chip, or a wrong table; nothing erased "
            "\nFAIL: the flash's parameter table contradicts its "
            "identification (" +
            name + "): nothing erased\n";
        ASSERT_GE(fast.out.size(), tail.size());
        EXPECT_EQ(fast.out.substr(fast.out.size() - tail.size()), tail);
        EXPECT_EQ(fast.status, 1);
        EXPECT_TRUE(read_file(chip) == old); // nothing erased, its protection as it was
        EXPECT_TRUE(has(run({CHECK}, {{"LPTSPI_SIM_FLASH", r.flash}}).out,
                        "block protection on (BP0 BP1 BP2)"));
    }
}

} // namespace
