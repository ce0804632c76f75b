// Whole runs of lptspi-backup-sim against the simulated PC: the exact transcript, the exit status,
// the backup file written (or not), and restoring it with lptspi-sim.
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

const std::string BACKUP = LPTSPI_BACKUP_EXE;
const std::string TOOL = LPTSPI_SIM_EXE;
const std::string SCRAMBLE = LPTSPI_SCRAMBLE_EXE;
const size_t MIB = 1 << 20;

// An erased chip with recognisable data written over the given pages.
std::string chip_with(size_t size, const std::vector<int>& pages) {
    std::string bytes(size, '\xFF');
    for (int page : pages) {
        for (size_t i = 0; i < 256; i++)
            bytes[page * 256 + i] = static_cast<char>((page * 7 + i * 13) & 0xFF);
    }
    return bytes;
}

// The identification line of a chip of `size` bytes and what it reads: both whole reads, and
// for a chip not in the table (any but 20 20 14) the range from its size to twice it once more.
std::string identified_and_read(size_t size, int capacity) {
    const bool known = capacity == 0x14;
    const int pages = static_cast<int>(size / 256);
    return (known ? std::string("flash M25P80 (20 20 14)")
                  : "flash id 20 20 " + format("%02x", capacity)) +
           format(", %d KiB", static_cast<int>(size / 1024)) +
           (known ? "\n"
                  : ": not in lptspi's table of flash chips, taken as a common 25-series chip of "
                    "the size its identification gives\n") +
           (known ? format("reading %d pages twice...\n", pages)
                  : format("reading %d pages twice, and the ", pages) +
                        format("%d after them once: a chip of that size repeats its start there\n",
                               pages));
}

const std::string NO_PORT = "FAIL: LPT1 cannot be used (see above): nothing written\n";

std::string not_idle(int status) {
    return format("FAIL: the flash is not idle (status 0x%02x): nothing written\n", status);
}

// The verdict of a backup saved without the data past page 4094.
std::string replaced_verdict(const std::string& lines, const std::string& out) {
    return lines.substr(0, lines.find("PASS: ")) + "FAIL: saved to " + out +
           " without the data past page 4094, which lptspi cannot write back\n";
}

class BackupTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";
    std::string out = dir + "/backup.bin";

    RunResult backup(Env env = {}) {
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        RunResult result = run_program({BACKUP, out}, env);
        EXPECT_EQ(result.err, "");
        result.out = untimed(without_progress(result.out));
        return result;
    }
};

TEST_F(BackupTest, KnownDataSavesItsNonBlankPagesScrambledAndLeavesTheChipAlone) {
    // Page 10 blank inside the data, page 11 the last one in use.
    std::vector<int> used = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11};
    std::string contents = chip_with(MIB, used);
    write_file(chip, contents);
    RunResult result = backup();
    EXPECT_EQ(result.out, OPENING + IDLE + identified_and_read(MIB, 0x14) + "both reads agree\n" +
                              saved_lines(12, contents, out));
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(read_file(out) == scramble(contents.substr(0, 12 * 256)));
    EXPECT_TRUE(read_file(chip) == contents);
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"backup.bin", "chip.bin"}));

    // lptspi-scramble on a backup gives the raw chip contents.
    RunResult raw = run_program({SCRAMBLE, out, dir + "/raw.bin"});
    EXPECT_EQ(raw.status, 0) << raw.err;
    EXPECT_TRUE(read_file(dir + "/raw.bin") == contents.substr(0, 12 * 256));
}

TEST_F(BackupTest, RestoringWithLptspiOverAnotherChipGivesTheOriginalBack) {
    // Data up to page 4094, the last page lptspi writes.
    std::string original = chip_with(MIB, {0, 100, 4094});
    write_file(chip, original);
    RunResult saved = backup();
    ASSERT_EQ(saved.status, 0) << saved.out;
    EXPECT_EQ(read_file(out).size(), 4095u * 256);

    std::string other(MIB, '\0');
    for (size_t i = 0; i < other.size(); i++)
        other[i] = static_cast<char>(i * 31 >> 3);
    write_file(chip, other);
    RunResult restored =
        run_program({TOOL, out}, {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_ERASE_MS", "0"}});
    const size_t shown = std::min<size_t>(restored.out.size(), 100); // the transcript's end
    EXPECT_EQ(restored.status, 0) << restored.out.substr(restored.out.size() - shown);
    EXPECT_TRUE(read_file(chip) == original);
}

TEST_F(BackupTest, BlankChipGivesAnEmptyBackup) {
    RunResult result = backup(); // no chip file yet: the chip starts erased
    EXPECT_EQ(result.out, OPENING + IDLE + identified_and_read(MIB, 0x14) + "both reads agree\n" +
                              "the flash is blank\n" + saved_lines(0, "", out));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(out), "");
}

TEST_F(BackupTest, ChipSizesAndDataBeyondWhatLptspiWrites) {
    const struct {
        const char* size;
        size_t bytes;
        int capacity;
        std::vector<int> pages; // in use
        int saved;
        int beyond; // the first page in use after page 4094, or 0
    } cases[] = {
        {"4096", 4096, 0x0C, {3, 15}, 16, 0},
        {"", MIB, 0x14, {3, 4095}, 4, 4095},
        {"2097152", 2 * MIB, 0x15, {1, 4094, 6000, 8191}, 4095, 6000},
        {"2097152", 2 * MIB, 0x15, {8000}, 0, 8000}, // an empty backup, but not a blank flash
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        std::remove(out.c_str());
        std::string contents = chip_with(c.bytes, c.pages);
        write_file(chip, contents);
        RunResult result = backup({{"LPTSPI_SIM_SIZE", c.size}});
        EXPECT_EQ(result.out,
                  OPENING + IDLE + identified_and_read(c.bytes, c.capacity) + "both reads agree\n" +
                      (c.beyond ? format("warning: the flash holds data beyond "
                                         "page 4094 (first in page %d), which lptspi "
                                         "cannot write back: it is not in the "
                                         "backup\n",
                                         c.beyond)
                                : "") +
                      (c.beyond ? replaced_verdict(saved_lines(c.saved, contents, out), out)
                                : saved_lines(c.saved, contents, out,
                                              c.capacity == 0x14 ? "M25P80" : "the flash")));
        EXPECT_EQ(result.status, c.beyond ? 4 : 0); // 4: saved, but not the whole flash
        EXPECT_TRUE(read_file(out) == scramble(contents.substr(0, c.saved * 256)));
        EXPECT_EQ(read_file(chip).size(), c.bytes); // the chip file keeps the chip's size
    }
}

TEST_F(BackupTest, RefusalsWriteNothing) {
    const struct {
        Env env;
        std::string out;
        int status;
    } cases[] = {
        // No chip: data-in held high reads as a busy status.
        {{{"LPTSPI_SIM_MISO", "high"}},
         OPENING + "serial flash not idle! reporting state 0xff\n\n" + not_idle(0xFF),
         1},
        {{{"LPTSPI_SIM_MISO", "low"}},
         OPENING + IDLE +
             "flash id 00 00 00: no flash answered\nFAIL: no flash answered (id 00 00 "
             "00)\n",
         1},
        {{{"LPTSPI_SIM_STATUS", "0x03"}},
         OPENING + "serial flash not idle! reporting state 0x03\n\n" + not_idle(0x03),
         1},
        {{{"LPTSPI_SIM_LPT", "busy"}}, PORT_IN_USE + GAME_OVER + NO_PORT, 1},
        {{{"LPTSPI_SIM_DRIVER", "missing"}},
         NT_OPENED +
             "Failed to start parallel port I/O driver!Failed to load parallel port driver! \n" +
             GAME_OVER + NO_PORT,
         1},
        // A flaky data-in line: the two reads of the 4 KiB chip disagree, first (with this seed
        // and rate) in page 4...
        {{{"LPTSPI_SIM_SIZE", "4096"}, {"LPTSPI_SIM_NOISE", "0.0001:3"}},
         OPENING + IDLE + identified_and_read(4096, 0x0C) + "!!! page 4 read differently twice, " +
             out +
             " not written \nFAIL: page 4 read differently twice: the reads are unreliable, " +
             out + " not written\n",
         2},
        // ...or, with another, the two identifications do.
        {{{"LPTSPI_SIM_SIZE", "4096"}, {"LPTSPI_SIM_NOISE", "0.01:2"}},
         OPENING + IDLE + "!!! flash id read differently twice (20 20 0c, then 20 60 0c), " + out +
             " not written \nFAIL: the flash's identification read differently twice: " + out +
             " not written\n",
         2},
        // A 1 MiB chip that says it holds 64 KiB: 64 KiB further on it does not show page 0 again.
        {{{"LPTSPI_SIM_ID", "0x202010"}},
         OPENING + IDLE + identified_and_read(64 * 1024, 0x10) +
             "!!! the flash does not repeat its first 64 KiB at 0x010000: it is larger than its "
             "identification says, " +
             out + " not written \nFAIL: the flash is larger than its identification says: " + out +
             " not written\n",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.env.back().first + "=" + c.env.back().second);
        write_file(chip, chip_with(MIB, {0, 1}).substr(0, 4096));
        RunResult result = backup(c.env);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"chip.bin"}));
    }
}

// Block protection, the bits that lock it and a set write latch stop erases and programs, not
// reads: the chip is read, with a warning when lptspi would refuse it.
TEST_F(BackupTest, ProtectedChipIsBackedUpWithAWarning) {
    for (const char* status : {"0x02", "0x9E"}) {
        std::remove(out.c_str());
        write_file(chip, chip_with(4096, {2}));
        RunResult result = backup({{"LPTSPI_SIM_STATUS", status}, {"LPTSPI_SIM_SIZE", "4096"}});
        EXPECT_EQ(result.out, OPENING + "serial flash in idle state " +
                                  format("0x%02x", std::stoi(status, nullptr, 16)) + "\n\n" +
                                  (status[3] == 'E' ? "the flash is write-protected: lptspi will "
                                                      "refuse it until the protection is cleared "
                                                      "(lptspi-check --unprotect)\n"
                                                    : "") +
                                  identified_and_read(4096, 0x0C) + "both reads agree\n" +
                                  saved_lines(3, chip_with(4096, {2}), out, "the flash"));
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(read_file(out) == scramble(chip_with(4096, {2}).substr(0, 3 * 256)));
    }
}

// A name that is taken, even by a link to nothing, is refused before the port is touched; so is
// a file that cannot be made.
TEST_F(BackupTest, NeverReplacesAnythingAndFindsOutBeforeReading) {
    const std::string trace = dir + "/trace";
    write_file(out, "the only copy of the old firmware");
    symlink((dir + "/nowhere").c_str(), (dir + "/dangling.bin").c_str());
    const std::string refused = " exists: a backup never replaces a file, choose another name \n";
    const std::string missing = dir + "/no/such/folder/backup.bin";
    const struct {
        std::string path, out;
    } cases[] = {
        {out, out + refused + "FAIL: " + out + " exists: nothing written\n"},
        {dir + "/dangling.bin", dir + "/dangling.bin" + refused + "FAIL: " + dir +
                                    "/dangling.bin exists: nothing written\n"},
        {missing, "Cant create " + missing + ": No such file or directory \nFAIL: " + missing +
                      " could not be created: No such file or directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        RunResult result = run_program({BACKUP, c.path}, {{"LPTSPI_SIM_TRACE", trace}});
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(read_file(trace), "") << "the port was touched";
    }
    EXPECT_EQ(read_file(out), "the only copy of the old firmware");
    EXPECT_EQ(folder_entries(dir),
              (std::vector<std::string>{"backup.bin", "dangling.bin", "trace"}));

    // The port is not touched without exactly one argument.
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{BACKUP}, std::vector<std::string>{BACKUP, out, out}}) {
        RunResult usage = run_program(argv, {{"LPTSPI_SIM_TRACE", trace}});
        EXPECT_EQ(usage.out, "Error wrong number of arguments passed \nlptspi-backup backup.bin\n"
                             "FAIL: wrong number of arguments: nothing done\n");
        EXPECT_EQ(usage.status, 1);
        EXPECT_EQ(read_file(trace), "");
    }
}

} // namespace
