// Which chip answers, beyond its identification alone, on the simulated PC: identifications that
// several chips share (20 40 14: the M45PE80 and the XM25QH80B), one whose capacity byte is not
// the size (the S25FL008A), chips that answer only the older identification commands (0x90,
// 0xAB), and the chip's own parameter table (SFDP) as a second witness: held against the row of a
// known identification, and describing a chip the table does not list.
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE, CHECK = LPTSPI_CHECK_EXE, BACKUP = LPTSPI_BACKUP_EXE;
const size_t KIB = 1024, PAGE = 256;

bool has(const std::string& out, const std::string& text) {
    return out.find(text) != std::string::npos;
}

class IdentifyTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";
    std::string image = dir + "/image.bin";

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

// lptspi --fast on chips the identification alone misnames: an XM25QH80B with its BP bits set
// answers the M45PE80's 20 40 14 (whose procedure clears nothing and erases sector by sector),
// its status shows bits the M45PE80 does not have, so it takes the common procedure and is
// written whole; the S25FL008A is 1 MiB whatever its capacity byte (0x13) says. The older SST25
// parts answer 0x9F with nothing: named from 0x90 and refused before anything is erased, by the
// fast run, the backup and the check alike.
TEST_F(IdentifyTest, SharedAndOlderIdentifications) {
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
TEST_F(IdentifyTest, ChipDescribedByItsOwnTable) {
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
TEST_F(IdentifyTest, TableThatContradictsTheIdentificationIsRefused) {
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
