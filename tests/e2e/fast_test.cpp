// lptspi --fast on every flash family of the simulated PC: the chip named, its protection
// cleared, the family's erase and programs, and each way the run stops before or after the erase.
#include "../support/frames.h"
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const size_t KIB = 1024, PAGE = 256, SECTOR = 64 * KIB;

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// Two pages, a blank one, then 255 pages and 40 bytes: 259 pages, across the first 64 KiB into
// the second, the last one ending in the key's padding.
const int PAGES = 259;
std::string image_raw() {
    return random_bytes(2 * PAGE, 1) + std::string(PAGE, '\xFF') + random_bytes(255 * PAGE + 40, 2);
}

std::string programming(int pages) {
    std::string text = "\n done! \nprogramming code..\n" + format("%d pages ...\n", pages);
    for (int n = 0; n < pages; n++)
        text += format("\rprogramming at %4d", n);
    text += "\ndone, verifying...\n";
    for (int n = 1; n <= pages; n++)
        text += format("\rpage %d ok", n);
    return text + "\ndone!";
}

class FastTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";
    std::string image = dir + "/image.bin";

    // A new chip file of `bytes`: the chip starts at power-up.
    void new_chip(const std::string& bytes) {
        for (const std::string& name : folder_entries(dir))
            std::remove((dir + "/" + name).c_str());
        write_file(chip, bytes);
    }
    RunResult run(const std::string& raw, Env env) {
        write_file(image, scramble(raw));
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        return run_program({TOOL, "--fast", image}, env);
    }
};

// Every family from its power-up state, on a chip of old contents: the family's erase (the
// M45PE80 erases only the two sectors the image uses and keeps the rest), its programs (the
// SST25's words restarted after the blank page), the image verified.
TEST_F(FastTest, ProgramsEveryFamilyFromPowerUp) {
    const struct {
        const char* flash;
        std::string named; // what the run says about the chip and its protection
        size_t kib;
    } families[] = {
        {"m25p80", "flash M25P80 (20 20 14), 1024 KiB\n", 1024},
        {"w25q80", "flash W25Q80 (ef 40 14), 1024 KiB\n", 1024},
        {"mx25l8005", "flash MX25L8005 (c2 20 14), 1024 KiB\n", 1024},
        {"gd25q80", "flash GD25Q80 (c8 40 14), 1024 KiB\n", 1024},
        {"en25f80", "flash EN25F80 (1c 31 14), 1024 KiB\n", 1024},
        {"w25q128", "flash W25Q128 (ef 40 18), 16384 KiB\n", 16384},
        {"sst25vf080b",
         "flash SST25VF080B (bf 25 8e), 1024 KiB\nflash protected (status 0x1c): cleared to 0x00 "
         "by enable-write-status and write status 0x00\n",
         1024},
        {"sst25vf040b",
         "flash SST25VF040B (bf 25 8d), 512 KiB\nflash protected (status 0x1c): cleared to 0x00 "
         "by enable-write-status and write status 0x00\n",
         512},
        {"sst25vf016b",
         "flash SST25VF016B (bf 25 41), 2048 KiB\nflash protected (status 0x1c): cleared to 0x00 "
         "by write enable and write status 0x00\n",
         2048},
        {"sst26vf016b",
         "flash SST26VF016B (bf 26 41), 2048 KiB\nflash blocks locked (block-protection register "
         "55 55 ff ff ff ff): unlocked by the global unlock\n",
         2048},
        {"at25df081a",
         "flash AT25DF081A (1f 45 01), 1024 KiB\nflash protected (status 0x1c): cleared to 0x10 "
         "by the global unprotect\n",
         1024},
        {"at26df161a",
         "flash AT26DF161A (1f 46 01), 2048 KiB\nflash protected (status 0x1c): cleared to 0x10 "
         "by the global unprotect\n",
         2048},
        {"m45pe80", "flash M45PE80 (20 40 14), 1024 KiB\n", 1024},
    };
    const std::string raw = image_raw();
    for (const auto& f : families) {
        SCOPED_TRACE(f.flash);
        const std::string old = pattern(f.kib * KIB, 9);
        new_chip(old);
        RunResult result = run(raw, {{"LPTSPI_SIM_FLASH", f.flash}});
        const std::string flash = f.flash;
        const size_t erased = flash == "m45pe80" ? 2 * SECTOR : old.size();
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_TRUE(read_file(chip) == programmed(raw) +
                                           std::string(erased - PAGES * PAGE, '\xFF') +
                                           old.substr(erased));
        const size_t named = result.out.find("\n\n") + 2;
        EXPECT_EQ(result.out.substr(named, f.named.size()), f.named);
        EXPECT_EQ(result.out.substr(result.out.size() - programming(PAGES).size()),
                  programming(PAGES));

        // Whole transcripts: a protected family, a word-programmed one.
        if (flash == "sst26vf016b") {
            EXPECT_EQ(result.out, OPENING + "serial flash in idle state 0x00\n\n" + f.named +
                                      "Bulk erasing flash checking status... \n\rstatus = 83 "
                                      "\rstatus = 00 " +
                                      programming(PAGES));
        }
        if (flash == "sst25vf080b") {
            EXPECT_EQ(result.out, OPENING + "serial flash in idle state 0x1c\n\n" + f.named +
                                      "Bulk erasing flash checking status... \n\rstatus = 03 "
                                      "\rstatus = 00 " +
                                      programming(PAGES));
        }
    }
}

// The word-programmed family's fast trace, frame by frame: identification, the status write
// that clears its protection (enable-write-status first), the bulk erase and its wait, the
// erase's first page read back, then one sequence of words for page 0 (its address in the first
// frame only, the status read after every word), write disable and a status check, none for
// the blank page 1, a new sequence for page 2; verification.
TEST_F(FastTest, WordProgramsDecodeAsFrames) {
    const std::string raw = random_bytes(PAGE, 3) + std::string(PAGE, '\xFF') + pattern(PAGE, 4);
    new_chip("");
    Env env = {{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_TRACE", dir + "/trace"}};
    RunResult result = run(raw, env);
    EXPECT_EQ(result.status, 0) << result.out;
    std::string expected = "R 077a\nW 077a 34\nR 077a x3\nW 077a 35\nW 037a 00\nR 0379\n"
                           "idle\nS 100\n05=1c\n9f 00 00 00 x2\n50\n01 00\n05=00\n"
                           "06\nc7\n05=03*16 x87\n05=00*16\n0b 00 00 00 +257\n";
    for (int page : {0, 2}) {
        expected += format("06\nad 00 %02x 00 +2\n05=42\n", page);
        for (int i = 2; i < 256; i += 2) {
            char word[32];
            std::snprintf(word, sizeof word, "ad %02x %02x\n05=42\n",
                          static_cast<unsigned char>(raw[page * PAGE + i]),
                          static_cast<unsigned char>(raw[page * PAGE + i + 1]));
            expected += word;
        }
        expected += "04\n05=00\n";
    }
    expected += "S 100\n0b 00 00 00 +257\n0b 00 01 00 +257\n0b 00 02 00 +257\nidle\nS 100\n";
    EXPECT_EQ(decode_frames(read_file(dir + "/trace")), expected);
    EXPECT_TRUE(read_file(chip) == programmed(raw) + std::string(1024 * KIB - 3 * PAGE, '\xFF'));

    // A chip left in the middle of a word sequence takes write disable first.
    new_chip("");
    env = {{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_STATUS", "0x5C"}};
    result = run(raw, env);
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_TRUE(read_file(chip) == programmed(raw) + std::string(1024 * KIB - 3 * PAGE, '\xFF'));
}

// Each way the fast run stops: before the erase with status 1 and the chip as it was; after it
// with status 2.
TEST_F(FastTest, StopsBeforeOrAfterTheErase) {
    const std::string raw = random_bytes(5 * PAGE, 5);
    const std::string busy = " for %s after %s, twice the longest its datasheet gives: check the "
                             "chip's power supply, switch the board off and on and run again \n";
    const std::string locked = "!!! the protection cannot be cleared: the status is still 0x%02x: "
                               "the status register is locked (%s set while the chip's "
                               "write-protect pin is held low) or the chip ignores the command: "
                               "hold the write-protect pin high, or clear the protection with a "
                               "programmer; nothing erased \n";
    char text[8][512];
    std::snprintf(text[0], sizeof text[0], locked.c_str(), 0x9e, "SRWD");
    std::snprintf(text[1], sizeof text[1], locked.c_str(), 0x8e, "SPRL");
    std::snprintf(text[2], sizeof text[2],
                  ("\n!!! the flash stayed busy (status 0x03)" + busy).c_str(), "100 ms",
                  "the bulk erase");
    std::snprintf(text[3], sizeof text[3],
                  ("\n!!! the flash stayed busy (status 0x03)" + busy).c_str(), "10 s", "an erase");
    std::snprintf(text[4], sizeof text[4],
                  ("\n!!! the flash stayed busy (status 0x03)" + busy).c_str(), "10 ms",
                  "a page program");
    std::snprintf(text[5], sizeof text[5],
                  ("\n!!! the flash stayed busy (status 0x43)" + busy).c_str(), "20 us",
                  "a word program");
    const struct {
        Env env;
        size_t pages;     // of the image
        std::string tail; // the transcript from the chip's line on
        int status;
        bool untouched; // the chip keeps its old contents
    } cases[] = {
        // An image larger than the chip: a 512 KiB family; a chip not in the table.
        {{{"LPTSPI_SIM_FLASH", "sst25vf040b"}},
         2049,
         "flash SST25VF040B (bf 25 8d), 512 KiB\n!!! the image has 2049 pages, the flash only "
         "2048: nothing erased \n",
         1,
         true},
        {{{"LPTSPI_SIM_SIZE", "0x40000"}},
         1025,
         "flash id 20 20 12 not in the table: treated as a common 25-series flash of 256 KiB\n!!! "
         "the image has 1025 pages, the flash only 1024: nothing erased \n",
         1,
         true},
        // A lock that cannot be cleared: the write-protect pin low with SRWD (SPRL) set.
        {{{"LPTSPI_SIM_STATUS", "0x9C"}, {"LPTSPI_SIM_WP", "low"}},
         5,
         "flash M25P80 (20 20 14), 1024 KiB\n" + std::string(text[0]),
         1,
         true},
        {{{"LPTSPI_SIM_FLASH", "at25df081a"},
          {"LPTSPI_SIM_STATUS", "0x8C"},
          {"LPTSPI_SIM_WP", "low"}},
         5,
         "flash AT25DF081A (1f 45 01), 1024 KiB\n" + std::string(text[1]),
         1,
         true},
        // An erase that does not take: an SST26 whose identification is not in the table keeps
        // its blocks locked and ignores the bulk erase, leaving its write latch set.
        {{{"LPTSPI_SIM_FLASH", "sst26vf016b"}, {"LPTSPI_SIM_ID", "0xEF4015"}},
         5,
         "flash id ef 40 15 not in the table: treated as a common 25-series flash of 2048 KiB\n"
         "Bulk erasing flash checking status... \n\rstatus = 02 \n done! \n!!! the erase did not "
         "take: page 0 is not blank: the flash may still be protected (lptspi-check shows how) \n",
         2,
         true},
        // A flash that stays busy: the erase, a sector erase, a page, a word.
        {{{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_ERASE_MS", "1000"}},
         5,
         "\rstatus = 03 \rstatus = 03 " + std::string(text[2]),
         2,
         false},
        {{{"LPTSPI_SIM_FLASH", "m45pe80"}, {"LPTSPI_SIM_ERASE_MS", "20000"}},
         5,
         "\rstatus = 03 " + std::string(text[3]),
         2,
         false},
        {{{"LPTSPI_SIM_PROGRAM_US", "30000"}},
         5,
         "programming at    0" + std::string(text[4]),
         2,
         false},
        {{{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_PROGRAM_US", "100"}},
         5,
         "programming at    0" + std::string(text[5]),
         2,
         false},
        // Data-in stuck high during a wait: the chip stopped answering when its erase began.
        {{{"LPTSPI_SIM_MISO", "lost"}},
         5,
         "Bulk erasing flash checking status... \n\rstatus = ff \n!!! the flash stopped answering "
         "after the bulk erase: its status reads 0xff, the data-in line stays high: check the "
         "chip's power and the cable \n",
         2,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail);
        const std::string old = pattern(256 * KIB, 6);
        new_chip(old);
        RunResult result = run(random_bytes(c.pages * PAGE, 7), c.env);
        EXPECT_EQ(result.status, c.status);
        ASSERT_GE(result.out.size(), c.tail.size());
        EXPECT_EQ(result.out.substr(result.out.size() - c.tail.size()), c.tail);
        EXPECT_EQ(read_file(chip).substr(0, old.size()) == old, c.untouched);
    }
}

} // namespace
