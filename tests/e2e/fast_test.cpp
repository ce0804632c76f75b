// lptspi --fast on every flash family of the simulated PC: the chip named, its protection
// cleared, the family's erase and programs, and each way the run stops before or after the erase.
#include "../support/frames.h"
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const size_t KIB = 1024, PAGE = 256;

std::string random_bytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::string programming(int pages) {
    return "programming code..\n" + format("%d pages ...\n", pages);
}

// The progress of programming and verifying `pages` of at least ten, into a file.
const std::string TENTHS = " 10 20 30 40 50 60 70 80 90 100\n";
const std::string PROGRAMMED = "programming" + TENTHS + "verifying" + TENTHS;

class FastTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";

    // `raw` programmed with lptspi-sim --fast into a new chip file of `old` (at power-up).
    RunResult run(const std::string& raw, const std::string& old, Env env) {
        for (const std::string& name : folder_entries(dir))
            std::remove((dir + "/" + name).c_str());
        write_file(chip, old);
        write_file(dir + "/image.bin", scramble(raw));
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        return run_program({TOOL, "--fast", dir + "/image.bin"}, env);
    }
};

// Every family from power-up on a chip of old contents, with an image of two pages, a blank one
// and 256 more, the last ending in the key's padding: the family's erase (the M45PE80 erases only
// the two sectors the image uses), its programs (the SST25's words restarted after the blank
// page), the image verified. Whole transcripts of a protected family and a word-programmed one.
TEST_F(FastTest, ProgramsEveryFamilyFromPowerUp) {
    const std::string cleared = "flash protected (status 0x1c): cleared to ";
    const struct {
        const char* flash;
        std::string named; // what the run says about the chip and its protection
        size_t kib;
    } families[] = {
        {"m25p80", "M25P80 (20 20 14), 1024 KiB\n", 1024},
        {"w25q80", "W25Q80 (ef 40 14), 1024 KiB\n", 1024},
        {"mx25l8005", "MX25L8005 (c2 20 14), 1024 KiB\n", 1024},
        {"gd25q80", "GD25Q80 (c8 40 14), 1024 KiB\n", 1024},
        {"en25f80", "EN25F80 (1c 31 14), 1024 KiB\n", 1024},
        {"w25q128", "W25Q128 (ef 40 18), 16384 KiB\n", 16384},
        {"sst25vf080b",
         "SST25VF080B (bf 25 8e), 1024 KiB\n" + cleared +
             "0x00 by enable-write-status and write status 0x00\n",
         1024},
        {"sst25vf040b",
         "SST25VF040B (bf 25 8d), 512 KiB\n" + cleared +
             "0x00 by enable-write-status and write status 0x00\n",
         512},
        {"sst25vf016b",
         "SST25VF016B (bf 25 41), 2048 KiB\n" + cleared +
             "0x00 by enable-write-status and write status 0x00\n",
         2048},
        {"sst26vf016b",
         "SST26VF016B (bf 26 41), 2048 KiB\nflash blocks locked (block-protection register 55 55 "
         "ff ff ff ff): unlocked by the global unlock\n",
         2048},
        {"at25df081a",
         "AT25DF081A (1f 45 01), 1024 KiB\n" + cleared + "0x10 by the global unprotect\n", 1024},
        {"at26df161a",
         "AT26DF161A (1f 46 01), 2048 KiB\n" + cleared + "0x10 by the global unprotect\n", 2048},
        {"m45pe80", "M45PE80 (20 40 14), 1024 KiB\n", 1024},
    };
    const std::string raw =
        random_bytes(2 * PAGE, 1) + std::string(PAGE, '\xFF') + random_bytes(255 * PAGE + 40, 2);
    for (const auto& f : families) {
        SCOPED_TRACE(f.flash);
        const std::string old = pattern(f.kib * KIB, 9), flash = f.flash;
        RunResult result = run(raw, old, {{"LPTSPI_SIM_FLASH", f.flash}});
        const size_t erased = flash == "m45pe80" ? 128 * KIB : old.size();
        EXPECT_EQ(result.status, 0) << result.out;
        EXPECT_TRUE(read_file(chip) == programmed(raw) + std::string(erased - 259 * PAGE, '\xFF') +
                                           old.substr(erased));
        const std::string idle =
            format("serial flash in idle state 0x%02x\n\nflash ",
                   f.named.find("status 0x1c") != std::string::npos ? 0x1C : 0x00);
        std::string shown;
        const std::string out = without_progress(result.out, &shown);
        EXPECT_EQ(out.substr(OPENING.size(), idle.size() + f.named.size()), idle + f.named);
        const size_t verdict = out.rfind("PASS: ");
        ASSERT_NE(verdict, std::string::npos) << out;
        const std::string pass =
            pass_line(f.named.substr(0, f.named.find(' ')), dir + "/image.bin", 259, raw);
        EXPECT_EQ(out.substr(verdict, pass.size()), pass);
        EXPECT_EQ(out.substr(verdict - programming(259).size(), programming(259).size()),
                  programming(259));
        EXPECT_EQ(shown.substr(0, 8), "erasing ");
        EXPECT_EQ(shown.substr(shown.find("\nprogramming") + 1), PROGRAMMED);
        if (flash == "sst26vf016b" || flash == "sst25vf080b") {
            EXPECT_EQ(out.substr(0, verdict), OPENING + idle + f.named +
                                                  "Bulk erasing flash checking status... \n" +
                                                  programming(259));
        }
    }
}

// The word-programmed family's trace, frame by frame: the chip woken from deep power-down (a
// bare 0xab, then the table's longest release time), identification and its parameter table (none
// here), the status write that clears its protection (enable-write-status first), the bulk erase
// and its wait, the erase's first page read back, then the busy line on (0x70) and one sequence of
// words for page 0 (its address in the first frame only, each word waited for on the busy line:
// selected, data-in read until ready twice, the 7 us a word takes; read status after the page's
// first word finds the line's ones, the chip still in its sequence), write disable and a status
// check, none for the blank page 1, a new sequence for page 2; the busy line off (0x80);
// verification. A word the chip refuses ends the run
// there.
TEST_F(FastTest, WordProgramsDecodeAsFrames) {
    const std::string raw = random_bytes(PAGE, 3) + std::string(PAGE, '\xFF') + pattern(PAGE, 4);
    const std::string expected_chip = programmed(raw) + std::string(1024 * KIB - 3 * PAGE, '\xFF');
    RunResult result =
        run(raw, "", {{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_TRACE", dir + "/trace"}});
    EXPECT_EQ(result.status, 0) << result.out;
    std::string expected = "R 077a\nW 077a 34\nR 077a x3\nW 077a 35\nW 037a 00\nR 0379\n"
                           "idle\nS 100\nab\nR 0378 x31\n05=1c\n9f 00 00 00 x2\n5a 00 00 00 +17\n"
                           "50\n01 00\n05=00*16\n06\nc7\n05=03*16 x87\n05=00*16\n0b 00 00 00 +257\n"
                           "70\n";
    // Page `page`'s words up to `end`, each waited for on the busy line (`line` its readings),
    // the sequence checked by read status after the page's first word.
    const auto words = [&](int page, size_t end, const std::string& line) {
        std::string frames = format("06\nad 00 %02x 00 +2\nline=1*7\n05=ff\n", page);
        for (size_t i = page * PAGE + 2; i < end; i += 2)
            frames += format("ad %02x ", static_cast<unsigned char>(raw[i])) +
                      format("%02x\n", static_cast<unsigned char>(raw[i + 1])) +
                      (i < 0x210 || page != 2 || line.empty() ? "line=1*7\n" : line);
        return frames;
    };
    const std::string before = expected;
    // Each page's sequence checked again after its last word, then ended.
    const std::string page0 = words(0, PAGE, "") + "05=ff\n04\n05=00*2\n";
    expected += page0 + words(2, 3 * PAGE, "") + "05=ff\n04\n05=00*2\n";
    expected += "80\n0b 00 00 00 +257\n0b 00 01 00 +257\n0b 00 02 00 +257\nidle\nS 100\n";
    EXPECT_EQ(decode_frames(read_file(dir + "/trace")), expected);
    EXPECT_TRUE(read_file(chip) == expected_chip);

    // A word the chip refuses, leaving its word sequence at 0x210: the run stops at that word,
    // sends write disable and names it; the words before it are programmed, none after it.
    result = run(raw, "",
                 {{"LPTSPI_SIM_FLASH", "sst25vf080b"},
                  {"LPTSPI_SIM_AAI_END", "0x210"},
                  {"LPTSPI_SIM_TRACE", dir + "/trace"}});
    EXPECT_EQ(result.status, 2);
    const std::string refused =
        "!!! the word at 0x000210 was not programmed: the flash left its word sequence (status "
        "0x00) and may still be protected (lptspi-check shows how) \nFAIL: the word at 0x000210 "
        "was not programmed: the flash left its word sequence\n";
    ASSERT_GE(result.out.size(), refused.size());
    EXPECT_EQ(result.out.substr(result.out.size() - refused.size()), refused);
    // The chip took no word from 0x210 on, its busy line showing ready at once: read status after
    // the page's last word finds it out of its sequence, and the page read back names the word.
    EXPECT_EQ(decode_frames(read_file(dir + "/trace")),
              before + page0 + words(2, 3 * PAGE, "line=1*2\n") +
                  "05=00\n0b 00 02 00 +257\n04\n80\nidle\nS 100\n");
    EXPECT_TRUE(read_file(chip) ==
                expected_chip.substr(0, 0x210) + std::string(1024 * KIB - 0x210, '\xFF'));

    // A chip left in the middle of a word sequence takes write disable first.
    result = run(raw, "", {{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_STATUS", "0x5C"}});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_TRUE(read_file(chip) == expected_chip);
}

// A cable that flips one data-in read in a thousand, as a new user's did: a page that does not
// read as expected is read again, and two reads that differ blame the reads, not the flash's
// protection nor its contents.
TEST_F(FastTest, NoisyReadsBlameTheCable) {
    const std::string raw = random_bytes(40 * PAGE, 5);
    const std::string unreliable = "the reads are unreliable, not the flash: check the cable "
                                   "(lptspi-check shows how)";
    const struct {
        const char* mode;
        const char* noise;
        std::string tail;
    } cases[] = {
        {"--fast", "0.001:1",
         "!!! page 0 read differently twice after the erase: " + unreliable +
             "; the flash is erased and holds none of the image \nFAIL: page 0 read differently "
             "twice after the erase: the reads are unreliable; the flash holds none of the "
             "image\n"},
        {"--fast", "0.001:5",
         "!!! page 0 read differently twice after the erase: " + unreliable +
             "; the flash is erased and holds none of the image \nFAIL: page 0 read differently "
             "twice after the erase: the reads are unreliable; the flash holds none of the "
             "image\n"},
        {"--verify", "0.001:1",
         "!!! page 1 read differently twice: " + unreliable +
             " \nFAIL: page 1 read differently twice: the reads are unreliable, not the flash\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.noise);
        const std::string old = programmed(raw) + std::string(1024 * KIB - 40 * PAGE, '\xFF');
        write_file(chip, old);
        write_file(dir + "/image.bin", scramble(raw));
        RunResult result = run_program({TOOL, c.mode, dir + "/image.bin"},
                                       {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_NOISE", c.noise}});
        const std::string out = without_progress(result.out);
        ASSERT_GE(out.size(), c.tail.size());
        EXPECT_EQ(out.substr(out.size() - c.tail.size()), c.tail) << result.out;
        EXPECT_EQ(result.status, 2);
        const bool erased = std::string(c.mode) == "--fast";
        EXPECT_TRUE(read_file(chip) == (erased ? std::string(1024 * KIB, '\xFF') : old));
    }
}

std::string locked(int status, const char* bit) {
    return format("!!! the protection cannot be cleared: the status is still 0x%02x: the status "
                  "register is locked (",
                  status) +
           bit +
           " set while the chip's write-protect pin is held low) or the chip ignores the "
           "command: hold the write-protect pin high, or clear the protection with a "
           "programmer; nothing erased \n";
}

// `status` -1: a word waited for on the busy line.
std::string busy(int status, const std::string& time, const std::string& what) {
    return (status < 0 ? std::string("!!! the flash stayed busy (its busy line low) for ")
                       : format("!!! the flash stayed busy (status 0x%02x) for ", status)) +
           time + " after " + what +
           ", twice the longest its datasheet gives: check the chip's power supply, switch the "
           "board off and on and run again \nFAIL: the flash stayed busy after " +
           what + "\n";
}

// Each way the fast run stops (the transcript's end): before the erase with status 1, the chip
// as it was and its write latch clear, after it with status 2.
TEST_F(FastTest, StopsBeforeOrAfterTheErase) {
    const struct {
        Env env;
        size_t pages; // of the image
        std::string tail;
        int status;
        size_t blank = 0; // bytes at the start of the old contents that are blank
    } cases[] = {
        // A flaky cable: the identification read differently twice.
        {{{"LPTSPI_SIM_NOISE", "0.01:2"}},
         5,
         "!!! flash id read differently twice (20 20 14, then 20 60 14): the reads are "
         "unreliable, nothing erased \nFAIL: the flash's identification read differently twice: "
         "nothing erased\n",
         1},
        // An image larger than the chip: a 512 KiB family; a chip not in the table.
        {{{"LPTSPI_SIM_FLASH", "sst25vf040b"}},
         2049,
         "flash SST25VF040B (bf 25 8d), 512 KiB\n!!! the image has 2049 pages, the flash only "
         "2048: nothing erased \nFAIL: the image has 2049 pages, the flash only 2048: nothing "
         "erased\n",
         1},
        {{{"LPTSPI_SIM_SIZE", "0x40000"}},
         1025,
         "flash id 20 20 12 not in the table: treated as a common 25-series flash of 256 KiB\n!!! "
         "the image has 1025 pages, the flash only 1024: nothing erased \nFAIL: the image has "
         "1025 pages, the flash only 1024: nothing erased\n",
         1},
        // A lock that cannot be cleared: SRWD set, the write-protect pin low.
        {{{"LPTSPI_SIM_STATUS", "0x9C"}, {"LPTSPI_SIM_WP", "low"}},
         5,
         locked(0x9e, "SRWD") +
             "FAIL: the flash's protection cannot be cleared (see above): nothing erased\n",
         1},
        // An erase that does not take: an SST26 whose identification is not in the table keeps
        // its blocks locked and ignores the bulk erase, which leaves its write latch set: write
        // disable clears it.
        {{{"LPTSPI_SIM_FLASH", "sst26vf016b"}, {"LPTSPI_SIM_ID", "0xEF4015"}},
         5,
         "flash id ef 40 15 not in the table: treated as a common 25-series flash of 2048 KiB\n"
         "Bulk erasing flash checking status... \n!!! the erase did not take: page 0 is not "
         "blank: the flash may still be protected (lptspi-check shows how) \nFAIL: the erase did "
         "not take: page 0 is not blank\n",
         2},
        // The M45PE80's write-protect pin held low keeps its bottom sector from the erase.
        {{{"LPTSPI_SIM_FLASH", "m45pe80"}, {"LPTSPI_SIM_WP", "low"}},
         5,
         "Erasing 1 sector of 64 KiB checking status... \n!!! the erase did not take: page 0 is "
         "not blank: M45PE80's write-protect pin (W, pin 3) protects its bottom 64 KiB while it "
         "is held low: hold W high \nFAIL: the erase did not take: page 0 is not blank\n",
         2},
        // A program refused, the same chip's first page blank: its write latch stays set until
        // write disable.
        {{{"LPTSPI_SIM_FLASH", "sst26vf016b"}, {"LPTSPI_SIM_ID", "0xEF4015"}},
         5,
         "5 pages ...\n!!! page 0 was not programmed: the flash kept its write latch (status "
         "0x02) and may still be protected (lptspi-check shows how) \nFAIL: page 0 was not "
         "programmed: the flash kept its write latch\n",
         2,
         64 * KIB},
        // A flash that stays busy: the bulk erase, a page, a word.
        {{{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_ERASE_MS", "1000"}},
         5,
         "Bulk erasing flash checking status... \n" + busy(0x03, "100 ms", "the bulk erase"),
         2},
        {{{"LPTSPI_SIM_PROGRAM_US", "30000"}},
         5,
         "5 pages ...\n" + busy(0x03, "10 ms", "a page program"),
         2},
        {{{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_PROGRAM_US", "1000"}},
         5,
         "5 pages ...\n" + busy(-1, "20 us", "a word program"),
         2},
        // Data-in stuck high during a wait: the chip stopped answering when its erase began.
        {{{"LPTSPI_SIM_MISO", "lost"}},
         5,
         "Bulk erasing flash checking status... \n!!! the flash stopped answering after the "
         "bulk erase: its status reads 0xff, the data-in line stays high: check the chip's power "
         "and the cable \nFAIL: the flash stopped answering after the bulk erase\n",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail);
        const std::string old =
            std::string(c.blank, '\xFF') + pattern(256 * KIB, 6).substr(c.blank);
        RunResult result = run(random_bytes(c.pages * PAGE, 7), old, c.env);
        EXPECT_EQ(result.status, c.status);
        const std::string out = without_progress(result.out);
        ASSERT_GE(out.size(), c.tail.size());
        EXPECT_EQ(out.substr(out.size() - c.tail.size()), c.tail) << out;
        // The chip as it was, unless the erase took.
        const bool erased = c.status == 2 && c.tail.find("not blank") == std::string::npos &&
                            c.tail.find("not programmed") == std::string::npos;
        EXPECT_EQ(read_file(chip).substr(0, old.size()) == old, !erased);
        // Wherever it stopped, the chip is left with its write latch clear (in the state a board
        // that stays powered keeps): an erase or a program it refused included.
        EXPECT_EQ(read_file(chip + ".status").find("latch"), std::string::npos);
    }
}

} // namespace
