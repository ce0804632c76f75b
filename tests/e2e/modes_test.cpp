// lptspi --erase, --blank and --update, and what shapes a board's write (--keep, --protect) on
// the simulated PC: each run's lines after the chip is named, its verdict, its exit status and
// the chip it leaves; each refusal with nothing touched.
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const std::string CHECK = LPTSPI_CHECK_EXE;
const size_t KIB = 1024;

// A transcript's lines from the one naming the chip on, progress taken out, the verdict untimed.
std::string from_chip(const std::string& out) {
    const std::string kept = untimed(without_progress(out));
    const size_t at = kept.find("\nflash ");
    return at == std::string::npos ? kept : kept.substr(at + 1);
}

class ModesTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin", image = dir + "/image.bin", trace = dir + "/trace";

    RunResult run(std::vector<std::string> args, const std::string& flash, Env env = {}) {
        args.insert(args.begin(), TOOL);
        env.emplace_back("LPTSPI_SIM_FLASH", flash);
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        env.emplace_back("LPTSPI_SIM_TRACE", trace);
        return run_program(args, env);
    }
    // The status the chip shows now, as lptspi-check reads it ("flash: status 0x1c: ...").
    std::string status_line(const std::string& flash) {
        const RunResult check =
            run_program({CHECK}, {{"LPTSPI_SIM_FLASH", flash}, {"LPTSPI_SIM_CHIP", chip}});
        const size_t at = check.out.find("flash: status ");
        return check.out.substr(at, check.out.find(':', at + 14) - at);
    }
};

// --erase by each family's erase plan after its unprotect, then read back blank; --blank reads.
TEST_F(ModesTest, EraseAndBlankCheck) {
    const std::string old = pattern(1024 * KIB, 3);
    int not_ff = 0; // in page 0
    for (size_t i = 0; i < 256; i++)
        not_ff += old[i] != '\xFF';
    const std::string page0 = format("%d of its bytes are not ff \n", not_ff);
    const struct {
        std::vector<std::string> args;
        const char* flash;
        Env env;
        std::string said; // from the chip's line to the verdict
        int status;
        bool blank; // the chip is left erased, else as it was
    } cases[] = {
        {{"--erase"},
         "m25p80",
         {},
         "flash M25P80 (20 20 14), 1024 KiB\nBulk erasing flash "
         "checking status... \nPASS: M25P80 erased and blank (1024 "
         "KiB)\n",
         0,
         true},
        {{"--blank"},
         "m25p80",
         {},
         "flash M25P80 (20 20 14), 1024 KiB\n!!! page 0 is not blank: " + page0 +
             "FAIL: page 0 is not blank\n",
         2,
         false},
        // No bulk erase: sector by sector; protected at power-up: cleared first.
        {{"--erase"},
         "m45pe80",
         {},
         "flash M45PE80 (20 40 14), 1024 KiB\nErasing 16 sectors of 64 "
         "KiB checking status... \nPASS: M45PE80 erased and blank "
         "(1024 KiB)\n",
         0,
         true},
        {{"--erase"}, "sst26vf016b", {}, "", 0, true},
        // The write-protect pin held low keeps the M45PE80's bottom sector.
        {{"--erase"},
         "m45pe80",
         {{"LPTSPI_SIM_WP", "low"}},
         "flash M45PE80 (20 40 14), 1024 KiB\nErasing 16 sectors of 64 KiB checking status... \n"
         "!!! page 0 is not blank after the erase: the flash may still be protected (lptspi-check "
         "shows how): " +
             page0 +
             "FAIL: page 0 is not blank after the erase: the flash may still be protected "
             "(lptspi-check shows how)\n",
         2,
         false},
        // A locked status register: nothing erased.
        {{"--erase"},
         "m25p80",
         {{"LPTSPI_SIM_WP", "low"}, {"LPTSPI_SIM_STATUS", "0x9C"}},
         "",
         1,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.flash);
        const size_t size = std::string(c.flash) == "sst26vf016b" ? 2048 * KIB : 1024 * KIB;
        write_file(chip, old.substr(0, size < old.size() ? size : old.size()));
        const RunResult result = run(c.args, c.flash, c.env);
        if (!c.said.empty()) {
            EXPECT_EQ(from_chip(result.out), c.said);
        }
        EXPECT_EQ(result.status, c.status) << result.out;
        const std::string after = read_file(chip);
        EXPECT_EQ(after.find_first_not_of('\xFF') == std::string::npos, c.blank);
        if (c.blank) {
            const RunResult blank = run({"--blank"}, c.flash);
            EXPECT_EQ(blank.status, 0) << blank.out;
            EXPECT_NE(blank.out.find("PASS: "), std::string::npos);
        } else if (c.status != 0 && c.args[0] == "--erase" && c.env.size() == 2) {
            EXPECT_TRUE(after == old) << "erased though protected";
        }
    }
}

// What the command line must not be given: refused before the port is touched.
TEST_F(ModesTest, RefusalsTouchNothing) {
    write_file(image, scramble(pattern(3 * 256, 1)));
    const struct {
        std::vector<std::string> args;
        std::string first; // the first line said
    } cases[] = {
        {{"--erase", image}, "Error --erase takes no file: it works on the whole flash \n"},
        {{"--blank", "--keep", "0:1"}, "Error --keep goes with --fast, --update or --station \n"},
        {{"--verify", "--protect", image},
         "Error --protect goes with --fast, --update, --erase or --station \n"},
        {{"--fast", "--update", image}, "Error --fast and --update together: one run at a time \n"},
        {{"--erase", "--blank"}, "Error --erase and --blank together: one run at a time \n"},
        {{"--fast", "--keep", "0x300:1", image},
         "Error --keep 0x300:1 lies outside " + image +
             " (768 bytes in 3 pages): nothing "
             "touched \n"},
        {{"--fast", "--keep", "0x10:8", "--keep", "0x14:2", image},
         "Error --keep 0x14:2 overlaps --keep 0x10:8: nothing touched \n"},
        {{"--fast", "--keep", "16", image},
         "Error --keep takes OFFSET:LENGTH (hex with 0x, or decimal), not 16 \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        std::remove(trace.c_str());
        write_file(chip, "old");
        const RunResult result = run(c.args, "m25p80");
        EXPECT_EQ(result.out.substr(0, c.first.size()), c.first) << result.out;
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(read_file(chip).substr(0, 3), "old");
        EXPECT_EQ(read_file(trace), "") << "the port was touched";
    }
}

// The board's own bytes kept through --fast and --update, shown, counted, verified with the rest.
TEST_F(ModesTest, KeepsTheBoardsOwnBytes) {
    const std::string raw = pattern(8 * KIB, 5);
    write_file(image, scramble(raw));
    const std::string board = pattern(1024 * KIB, 9);
    for (const char* run_option : {"--fast", "--update"}) {
        SCOPED_TRACE(run_option);
        write_file(chip, board);
        const RunResult result =
            run({run_option, "--keep", "0x1000:6", "--keep", "32:40", image}, "w25q80");
        std::string expected = programmed(raw);
        expected.replace(0x1000, 6, board.substr(0x1000, 6));
        expected.replace(32, 40, board.substr(32, 40));
        auto hex = [&](size_t at, size_t n) {
            std::string text;
            char byte[4];
            for (size_t i = 0; i < n; i++) {
                std::snprintf(byte, sizeof byte, " %02x",
                              static_cast<unsigned char>(board[at + i]));
                text += byte;
            }
            return text;
        };
        const std::string said = from_chip(result.out);
        EXPECT_NE(said.find("kept 0x001000:6 from the flash:" + hex(0x1000, 6) + "\n"),
                  std::string::npos)
            << said;
        EXPECT_NE(said.find("kept 0x000020:40 from the flash:" + hex(32, 16) + " ...\n"),
                  std::string::npos);
        EXPECT_NE(said.find(", 2 regions kept"), std::string::npos) << said;
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(read_file(chip).substr(0, 8 * KIB) == expected.substr(0, 8 * KIB));
    }
}

// --protect: the protection the run found put back, or the chip's power-up protection where it
// found none; read back and said in the verdict; the chip keeps it.
TEST_F(ModesTest, ProtectionPutBack) {
    const std::string raw = pattern(3 * 256, 2);
    write_file(image, scramble(raw));
    const struct {
        const char* flash;
        const char* status;   // at power-up, or "": the family's
        std::string put_back; // the line that says so
        std::string verdict;  // the verdict's clause
        std::string after;    // the status lptspi-check reads afterwards, or "": not read
    } cases[] = {
        {"w25q80", "0x1C", "protection put back: status 0x1c\n",
         ", protection put back: status 0x1c", "flash: status 0x1c"},
        {"m25p80", "", "protection: none found, and M25P80 comes up unprotected: nothing set\n",
         ", nothing to protect", "flash: status 0x00"},
        {"sst25vf080b", "", "protection put back: status 0x1c\n",
         ", protection put back: status 0x1c", "flash: status 0x1c"},
        {"sst26vf016b", "", "protection put back: block-protection register 55 55 ff ff ff ff\n",
         ", protection put back: register 55 55 ff ff ff ff", ""},
        {"at25df081a", "", "protection put back: status 0x1c\n",
         ", protection put back: status 0x1c", "flash: status 0x1c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flash);
        std::remove(chip.c_str());
        Env env;
        if (c.status[0] != '\0')
            env.emplace_back("LPTSPI_SIM_STATUS", c.status);
        const RunResult result = run({"--fast", "--protect", image}, c.flash, env);
        const std::string said = from_chip(result.out);
        EXPECT_NE(said.find(c.put_back + "PASS: "), std::string::npos) << said;
        EXPECT_NE(said.find(c.verdict + ")\n"), std::string::npos) << said;
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(read_file(chip).substr(0, raw.size() + 0) ==
                    programmed(raw).substr(0, raw.size()));
        if (!c.after.empty()) {
            EXPECT_EQ(status_line(c.flash), c.after);
        }
    }
}

// --update: each erase unit compared, only those that differ rewritten; counted in the verdict.
TEST_F(ModesTest, UpdateWritesOnlyWhatDiffers) {
    const std::string raw = pattern(256 * KIB, 7);
    write_file(image, scramble(raw));
    const std::string written = programmed(raw);
    const struct {
        const char* flash;
        size_t changed; // bytes changed at 100 KiB before the update, 0: none
        std::string counted;
        std::string verdict;
    } cases[] = {
        {"m25p80", 0, "updated 0 of 4 sectors of 64 KiB, 4 the same\n", ", 0 written, 4 skipped"},
        {"m25p80", 10, "updated 1 of 4 sectors of 64 KiB, 3 the same\n", ", 1 written, 3 skipped"},
        {"w25q80", 5000, "updated 2 of 64 sectors of 4 KiB, 62 the same\n",
         ", 2 written, 62 skipped"},
        {"m45pe80", 1, "updated 1 of 1024 pages, 1023 the same\n", ", 1 written, 1023 skipped"},
        // Protected at power-up: cleared only once a unit differs.
        {"sst25vf080b", 300, "updated 1 of 64 sectors of 4 KiB, 63 the same\n",
         ", 1 written, 63 skipped"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.flash) + " " + std::to_string(c.changed));
        std::string board = written + std::string(1024 * KIB - written.size(), '\xFF');
        for (size_t i = 0; i < c.changed; i++)
            board[100 * KIB + i] = static_cast<char>(board[100 * KIB + i] ^ 0x5A);
        write_file(chip, board);
        const RunResult result = run({"--update", image}, c.flash);
        const std::string said = from_chip(result.out);
        EXPECT_NE(said.find(c.counted + "PASS: "), std::string::npos) << said;
        EXPECT_NE(said.find(c.verdict + ")\n"), std::string::npos) << said;
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(read_file(chip).substr(0, written.size()) == written);
    }
}

} // namespace
