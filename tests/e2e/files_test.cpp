// Files under stress: images whose size lies, companion output on a full disk, and the simulated
// PC's chip file when a run is cut short, run twice at once, or cannot be saved.
#include "../support/frames.h"
#include "../support/process.h"
#include "../support/runs.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const std::string SCRAMBLE = LPTSPI_SCRAMBLE_EXE;
const size_t CHIP_SIZE = 1 << 20;

const std::string ERASING = IDLE + "Bulk erasing flash checking status... \n";
const std::string BUSY = PORT_IN_USE + GAME_OVER;

// The chip after programming `raw` over an erased chip.
std::string programmed_chip(const std::string& raw) {
    std::string bytes = programmed(raw);
    return bytes + std::string(CHIP_SIZE - bytes.size(), '\xFF');
}

// Runs `argv` with at most `blocks` 512-byte blocks per written file and SIGXFSZ ignored, so a
// write past the limit fails with EFBIG as on a full disk.
RunResult run_with_file_limit(int blocks, std::vector<std::string> argv, const Env& env = {}) {
    argv.insert(argv.begin(),
                {"/bin/sh", "-c",
                 "ulimit -f " + std::to_string(blocks) + " && trap '' XFSZ && exec \"$0\" \"$@\""});
    return run_program(argv, env);
}

class FilesTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string chip = dir + "/chip.bin";
    std::string image = dir + "/image.bin";
    std::string before = pattern(CHIP_SIZE, 0x5A); // what the chip file holds before each run

    void SetUp() override { write_file(chip, before); }
    Env with_chip(Env env = {}) {
        env.emplace_back("LPTSPI_SIM_CHIP", chip);
        return env;
    }
    std::string image_of(const std::string& raw) {
        write_file(image, scramble(raw));
        return image;
    }
};

// ---- images whose size is not what arrives ----------------------------------------------------

TEST_F(FilesTest, PseudoFileThatSeeksToZeroButReadsTextIsRefusedBeforeThePort) {
    std::string trace = dir + "/trace";
    for (std::string name : {"/proc/self/status", "/proc/self/environ"}) {
        SCOPED_TRACE(name);
        RunResult result = run_program({TOOL, name}, with_chip({{"LPTSPI_SIM_TRACE", trace}}));
        EXPECT_EQ(result.out, "Cant read " + name + " \n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(read_file(trace), "") << "the port was touched";
        EXPECT_TRUE(read_file(chip) == before) << "the chip was changed";
    }
}

// ---- lptspi-scramble on a full disk -----------------------------------------------------------

TEST_F(FilesTest, ScrambleThatRunsOutOfSpaceLeavesInAndOutAsTheyWere) {
    const std::string in = dir + "/firmware.bin", out = dir + "/old.img";
    const std::string firmware = pattern(70000, 1), old_image = pattern(30000, 2);
    write_file(in, firmware);
    write_file(out, old_image);
    const struct {
        std::string out;
        bool existed;
    } cases[] = {{out, true}, {dir + "/new.img", false}, {in, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out);
        RunResult result = run_with_file_limit(16, {SCRAMBLE, in, c.out}); // 8 KiB
        EXPECT_EQ(result.err, "lptspi-scramble: cannot write " + c.out + ": File too large\n");
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(read_file(in) == firmware) << "IN was changed";
        EXPECT_TRUE(read_file(out) == old_image) << "the old OUT was changed";
        EXPECT_EQ(access(c.out.c_str(), F_OK) == 0, c.existed);
        EXPECT_EQ(folder_entries(dir),
                  (std::vector<std::string>{"chip.bin", "firmware.bin", "old.img"}))
            << "a temporary file was left behind";
    }
    // With room enough the same command replaces OUT, keeping its permissions; through a link
    // it replaces the linked file and the link stays.
    ASSERT_EQ(chmod(out.c_str(), 0600), 0);
    const std::string link = dir + "/link.img";
    ASSERT_EQ(symlink("old.img", link.c_str()), 0);
    RunResult result = run_with_file_limit(1000, {SCRAMBLE, in, link});
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(read_file(out) == scramble(firmware));
    struct stat st {};
    ASSERT_EQ(lstat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(folder_entries(dir).size(), 4u);
}

// An OUT that is read-only by its own mark (these tests run as root, whom rename() would let
// replace it), also through a link, or that is no file at all, is refused and kept.
TEST_F(FilesTest, ScrambleRefusesWhatItMustNotReplace) {
    const std::string in = dir + "/firmware.bin", out = dir + "/old.img";
    write_file(in, pattern(3000, 11));
    write_file(out, "old image");
    ASSERT_EQ(chmod(out.c_str(), 0577), 0); // others may write it, its owner may not
    ASSERT_EQ(symlink("old.img", (dir + "/link.img").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo.img").c_str(), 0644), 0);
    for (const char* name : {"old.img", "link.img", "fifo.img"}) {
        RunResult result = run_program({SCRAMBLE, in, dir + "/" + name});
        EXPECT_EQ(result.err,
                  "lptspi-scramble: cannot replace " + dir + "/" + name + ": " +
                      (name[0] == 'f' ? "not a regular file\n" : "the file is read-only\n"));
        EXPECT_EQ(result.status, 1);
    }
    EXPECT_EQ(read_file(out), "old image");
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"chip.bin", "fifo.img", "firmware.bin",
                                                             "link.img", "old.img"}));
}

// ---- the simulated PC cut short ---------------------------------------------------------------

const std::string INTERRUPTED = "\nInterrupted: the flash may be half-written; running lptspi "
                                "again erases and rewrites it whole\n";

TEST_F(FilesTest, SignalDuringTheEraseWaitSavesTheErasedChip) {
    // Ctrl-C (SIGINT) and Ctrl-Break (SIGTERM) reach lptspi, which leaves the lines idle, says
    // so and ends with 130; a closed terminal (SIGHUP) ends the run by the signal.
    std::string trace = dir + "/trace";
    const struct {
        int number;
        bool report;
        int status;
    } cases[] = {{SIGINT, true, 130}, {SIGTERM, false, 130}, {SIGHUP, false, 128 + SIGHUP}};
    for (const auto& c : cases) {
        SCOPED_TRACE(strsignal(c.number));
        write_file(chip, before);
        // A minute's erase in real time: the signal always comes during its wait.
        Env env = with_chip({{"LPTSPI_SIM_REALTIME", "1"},
                             {"LPTSPI_SIM_ERASE_MS", "60000"},
                             {"LPTSPI_SIM_TRACE", trace}});
        if (c.report)
            env.emplace_back("LPTSPI_SIM_REPORT", "1");
        Child run({TOOL, image_of(pattern(3000, 3))}, env);
        // The first poll answers busy once the chip has taken the bulk erase.
        ASSERT_TRUE(run.wait_for("\rstatus = 03 "));
        run.signal(c.number);
        RunResult result = run.finish();
        EXPECT_EQ(result.status, c.status);
        ASSERT_EQ(result.out.substr(0, OPENING.size() + ERASING.size()), OPENING + ERASING);
        std::string polls = result.out.substr(OPENING.size() + ERASING.size());
        const bool handled = c.status == 130;
        std::string busy_polls;
        while (busy_polls.size() + (handled ? INTERRUPTED.size() : 0) < polls.size())
            busy_polls += "\rstatus = 03 ";
        EXPECT_EQ(polls, busy_polls + (handled ? INTERRUPTED : "")) << "went on past the signal";
        EXPECT_TRUE(read_file(chip) == std::string(CHIP_SIZE, '\xFF')) << "not saved erased";
        std::string lines = read_file(trace);
        ASSERT_TRUE(!lines.empty() && lines.back() == '\n') << "trace not flushed";
        // A handled key leaves the lines idle after the last whole frame and its pause.
        EXPECT_EQ(lines.substr(lines.rfind("S 100\n")), handled ? "S 100\nW 0378 05\n" : "S 100\n");
        if (c.report) {
            EXPECT_EQ(result.err.find("lptspi-sim: port accesses: "), 0u) << result.err;
            EXPECT_NE(result.err.find("\nlptspi-sim: projected time on real hardware: "),
                      std::string::npos);
        } else {
            EXPECT_EQ(result.err, "");
        }
        EXPECT_EQ(folder_entries(dir),
                  (std::vector<std::string>{"chip.bin", "image.bin", "trace"}));
    }
}

TEST_F(FilesTest, SignalWhileProgrammingKeepsEverySentPageAndNoOther) {
    // A page program of one second (virtual) makes the programming loop slow enough to cut.
    const int pages = 256;
    const std::string raw = pattern(pages * 256, 4);
    Child run({TOOL, image_of(raw)}, with_chip({{"LPTSPI_SIM_PROGRAM_US", "1000000"}}));
    ASSERT_TRUE(run.wait_for("\rprogramming at    3"));
    run.signal(SIGTERM);
    RunResult result = run.finish();
    EXPECT_EQ(result.status, 130);
    EXPECT_EQ(result.err, "");
    size_t at = result.out.rfind("\rprogramming at ");
    ASSERT_NE(at, std::string::npos);
    const int last_shown = std::stoi(result.out.substr(at + 16));
    EXPECT_EQ(result.out.substr(at + 20), INTERRUPTED) << "the run went on past the signal";

    const std::string flash = read_file(chip);
    ASSERT_EQ(flash.size(), CHIP_SIZE);
    int done = 0;
    while (done < pages && flash.compare(done * 256, 256, raw, done * 256, 256) == 0)
        done++;
    // The last page shown was either sent whole before the signal or not at all: no frame is
    // cut, and pages take tens of milliseconds each, so the signal comes long before the last.
    EXPECT_TRUE(done == last_shown || done == last_shown + 1) << done << " " << last_shown;
    EXPECT_LT(done, pages);
    EXPECT_TRUE(flash.substr(done * 256) == std::string(CHIP_SIZE - done * 256, '\xFF'));
}

TEST_F(FilesTest, CtrlCLeavesTheLinesIdleInEveryProgram) {
    // Each companion caught in its longest stretch: a 16 MiB chip's reads, a pin held for 3 s.
    const std::string trace = dir + "/trace", out = dir + "/backup.bin";
    const struct {
        std::vector<std::string> argv;
        Env env;
        const char* wait_for;
        std::string said;
        int status;
    } cases[] = {
        {{LPTSPI_BACKUP_EXE, out},
         {{"LPTSPI_SIM_SIZE", "16777216"}},
         "reading 1    10%",
         "\nInterrupted: " + out + " not written \n",
         130},
        {{LPTSPI_CHECK_EXE, "--pins"},
         {{"LPTSPI_SIM_REALTIME", "1"}},
         "pins: pin 4 (chip select) low",
         "\ninterrupted: the lines are left idle, the flash released\n",
         130},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv[0]);
        std::remove(chip.c_str());
        Env env = with_chip(c.env);
        env.emplace_back("LPTSPI_SIM_TRACE", trace);
        Child run(c.argv, env);
        ASSERT_TRUE(run.wait_for(c.wait_for));
        run.signal(SIGINT);
        RunResult result = run.finish();
        EXPECT_EQ(result.status, c.status);
        ASSERT_GE(result.out.size(), c.said.size());
        EXPECT_EQ(result.out.substr(result.out.size() - c.said.size()), c.said);
        const std::string lines = read_file(trace);
        ASSERT_GE(lines.size(), 10u);
        EXPECT_EQ(lines.substr(lines.size() - 10), "W 0378 05\n"); // the lines idle at the end
        EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"chip.bin", "trace"}))
            << "the backup's temporary file is left";
    }
}

// Ctrl-C in the middle of an SST25's word sequence: write disable ends it before the lines are
// left idle, or the chip (its power kept) would take nothing but words until switched off; then
// 0x80 turns its busy line off.
TEST_F(FilesTest, CtrlCEndsAWordSequenceFirst) {
    const std::string trace = dir + "/trace";
    Child run({TOOL, "--fast", image_of(pattern(256 * 256, 6))},
              with_chip({{"LPTSPI_SIM_FLASH", "sst25vf080b"}, {"LPTSPI_SIM_TRACE", trace}}));
    ASSERT_TRUE(run.wait_for("programming  10%"));
    run.signal(SIGINT);
    RunResult result = run.finish();
    EXPECT_EQ(result.status, 130);
    const std::string note = "\nInterrupted: the flash may be half-written; running lptspi --fast "
                             "again erases and rewrites it whole\n";
    ASSERT_GE(result.out.size(), note.size());
    EXPECT_EQ(result.out.substr(result.out.size() - note.size()), note);
    const std::string frames = decode_frames(read_file(trace));
    EXPECT_EQ(frames.substr(frames.size() - 12), "\n04\n80\nidle\n")
        << frames.substr(frames.size() - 80);
}

// An SST25 found in the middle of a word sequence (its status shows bit 6, its identification
// reads ff ff ff): every program but the plain run ends it with write disable, which changes
// nothing in the memory, and then goes on as with any SST25.
TEST_F(FilesTest, EveryProgramEndsAWordSequenceItFinds) {
    const std::string raw = pattern(3 * 256, 7);
    const std::string ended = "flash left in a word sequence (status 0x42, id ff ff ff): write "
                              "disable ended it, status now 0x00\n";
    const struct {
        std::vector<std::string> argv;
        std::string next; // what follows the line
        int status;
    } cases[] = {
        {{LPTSPI_CHECK_EXE}, "lines: data-in follows", 2},
        {{LPTSPI_BACKUP_EXE, dir + "/backup.bin"}, "flash SST25VF080B (bf 25 8e)", 0},
        {{TOOL, "--verify", image_of(raw)}, "3 pages ...", 0},
        {{TOOL, "--fast", image_of(raw)}, "flash SST25VF080B", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv.back());
        write_file(chip, programmed_chip(raw));
        RunResult result = run_program(c.argv, with_chip({{"LPTSPI_SIM_FLASH", "sst25vf080b"},
                                                          {"LPTSPI_SIM_STATUS", "0x42"}}));
        EXPECT_NE(result.out.find(ended + c.next), std::string::npos) << result.out;
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(read_file(chip) == programmed_chip(raw));
    }
}

TEST_F(FilesTest, ClosedStandardOutputDoesNotStopTheRun) {
    const std::string raw = pattern(1000, 5);
    Child run({TOOL, image_of(raw)}, with_chip(), true);
    RunResult result = run.finish();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(read_file(chip) == programmed_chip(raw));
}

// ---- two runs on one chip ---------------------------------------------------------------------

TEST_F(FilesTest, SecondRunOnALockedChipFileFindsTheParallelPortInUse) {
    const std::string first = pattern(600, 6), second = pattern(300, 7);
    const std::string first_image = dir + "/first.img", second_image = dir + "/second.img";
    write_file(first_image, scramble(first));
    write_file(second_image, scramble(second));
    const std::string link = dir + "/link.bin";
    ASSERT_EQ(symlink("chip.bin", link.c_str()), 0);

    // The first run holds the chip file through a minute's erase, until it is stopped.
    Child running({TOOL, first_image},
                  with_chip({{"LPTSPI_SIM_REALTIME", "1"}, {"LPTSPI_SIM_ERASE_MS", "60000"}}));
    ASSERT_TRUE(running.wait_for("\rstatus = 03 "));
    for (const std::string& path : {chip, link}) {
        SCOPED_TRACE(path);
        RunResult refused = run_program({TOOL, second_image}, {{"LPTSPI_SIM_CHIP", path}});
        EXPECT_EQ(refused.out, BUSY);
        EXPECT_EQ(refused.err, "");
        EXPECT_EQ(refused.status, 1);
        EXPECT_TRUE(read_file(chip) == before) << "the refused run saved the chip";
    }
    running.signal(SIGTERM);
    RunResult stopped = running.finish();
    EXPECT_EQ(stopped.status, 130);
    EXPECT_TRUE(read_file(chip) == std::string(CHIP_SIZE, '\xFF')) << "the first run's erase";

    // Once the first run has ended the chip file is free again, through the link as well.
    RunResult after = run_program({TOOL, second_image}, {{"LPTSPI_SIM_CHIP", link}});
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.out.substr(0, OPENING.size()), OPENING);
    EXPECT_TRUE(read_file(chip) == programmed_chip(second));
    struct stat st {};
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the save replaced the link instead of its file";
}

// ---- chip files that cannot be used -----------------------------------------------------------

TEST_F(FilesTest, UnusableChipPathIsRefusedBeforeTheToolRuns) {
    ASSERT_EQ(symlink("loop", (dir + "/loop").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const std::string prefix = "lptspi-sim: LPTSPI_SIM_CHIP=";
    const struct {
        std::string path, error;
    } cases[] = {
        {chip + "/chip.bin", ": cannot open the chip file: Not a directory\n"},
        {dir + "/loop", ": cannot open the chip file: Too many levels of symbolic links\n"},
        {dir + "/no/chip.bin",
         ": cannot open the chip file for reading and writing: No such file or directory\n"},
        {dir + "/fifo", ": not a regular file\n"},
        {"/dev/null", ": not a regular file\n"},
    };
    image_of(pattern(100, 8));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        RunResult result = run_program({TOOL, image}, {{"LPTSPI_SIM_CHIP", c.path}});
        EXPECT_EQ(result.err, prefix + c.path + c.error);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.status, 3);
    }
    EXPECT_TRUE(read_file(chip) == before);
    EXPECT_EQ(folder_entries(dir),
              (std::vector<std::string>{"chip.bin", "fifo", "image.bin", "loop"}));
}

TEST_F(FilesTest, ReadOnlyChipFileOrFolderIsRefusedBeforeTheToolRuns) {
    // File permissions do not bind the superuser: as root the tool runs as nobody, on files that
    // nobody owns.
    const std::string setpriv = "/usr/bin/setpriv";
    const uid_t nobody = 65534;
    std::vector<std::string> as_user;
    if (geteuid() == 0) {
        if (access(setpriv.c_str(), X_OK) != 0)
            GTEST_SKIP() << "run as the superuser, and no " << setpriv << " to run as nobody";
        as_user = {setpriv, "--reuid=" + std::to_string(nobody),
                   "--regid=" + std::to_string(nobody), "--clear-groups"};
    }
    const std::string folder = dir + "/ro", inside = folder + "/chip.bin";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    write_file(inside, before);
    image_of(pattern(100, 9));
    if (!as_user.empty()) {
        for (const std::string& path : {dir, folder, inside, chip, image})
            ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0) << path;
    }
    ASSERT_EQ(chmod(chip.c_str(), 0400), 0);
    ASSERT_EQ(chmod(folder.c_str(), 0500), 0);
    auto run = [&](const std::string& chip_path) {
        std::vector<std::string> argv = as_user;
        argv.insert(argv.end(), {TOOL, image});
        return run_program(argv, {{"LPTSPI_SIM_CHIP", chip_path}});
    };
    const std::string prefix = "lptspi-sim: LPTSPI_SIM_CHIP=";
    RunResult file = run(chip);
    EXPECT_EQ(file.err, prefix + chip +
                            ": cannot open the chip file for reading and writing: Permission "
                            "denied\n");
    EXPECT_EQ(file.out, "");
    EXPECT_EQ(file.status, 3);
    RunResult in_folder = run(inside);
    EXPECT_EQ(in_folder.err, prefix + inside + ": cannot create files in its folder " + folder +
                                 ": Permission denied\n");
    EXPECT_EQ(in_folder.out, "");
    EXPECT_EQ(in_folder.status, 3);
    chmod(folder.c_str(), 0700);
    EXPECT_TRUE(read_file(chip) == before && read_file(inside) == before);
}

TEST_F(FilesTest, ChipThatCannotBeSavedEndsWithStatus3AndKeepsThePreviousFile) {
    const std::string raw = pattern(500, 10);
    // 512 KiB per file: the 1 MiB chip cannot be written.
    RunResult result = run_with_file_limit(1024, {TOOL, image_of(raw)}, with_chip());
    EXPECT_EQ(result.err, "lptspi-sim: cannot save the chip to " + chip + ": File too large\n");
    EXPECT_EQ(result.status, 3);
    const std::string end = "\rpage 2 ok\ndone!"; // the run itself completed
    EXPECT_EQ(result.out.substr(result.out.size() - end.size()), end);
    EXPECT_TRUE(read_file(chip) == before) << "the previous chip file was damaged";
    EXPECT_EQ(folder_entries(dir), (std::vector<std::string>{"chip.bin", "image.bin"}));
}

} // namespace
