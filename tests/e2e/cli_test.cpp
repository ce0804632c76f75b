// lptspi-sim and lptspi-scramble as a user runs them: image refusals, making images, and every
// program's --help and --version.
#include "../support/process.h"
#include "../support/runs.h"
#include "sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const std::string SCRAMBLE = LPTSPI_SCRAMBLE_EXE;
const std::string BACKUP = LPTSPI_BACKUP_EXE;
const std::string CHECK = LPTSPI_CHECK_EXE;
const char* const TOO_BIG = "\n Error program greater than 1MB program don't fit\n";

// "HEX  NAME\n", as sha256sum prints a file's digest.
std::string sha256_line(const std::string& bytes, const std::string& name) {
    char hex[SHA256_HEX];
    sha256_hex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), hex);
    return std::string(hex) + "  " + name + "\n";
}

std::string firmware(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++)
        bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    return bytes;
}

class RefusalTest : public testing::Test {
  protected:
    std::string dir = make_temp_dir();
    std::string trace = dir + "/trace";

    // Runs the tool with a port trace: a refused image must leave the trace empty.
    RunResult refuse(const std::vector<std::string>& args) {
        std::vector<std::string> argv{TOOL};
        argv.insert(argv.end(), args.begin(), args.end());
        RunResult result = run_program(argv, {{"LPTSPI_SIM_TRACE", trace}});
        EXPECT_EQ(read_file(trace), "") << "the port was touched";
        EXPECT_EQ(result.err, "");
        return result;
    }
};

TEST_F(RefusalTest, NoArgumentPrintsUsage) {
    RunResult result = refuse({});
    EXPECT_EQ(result.out, "Error wrong number of arguments passed \nlptspi program.bin");
    EXPECT_EQ(result.status, 1);
}

TEST_F(RefusalTest, MissingFile) {
    RunResult result = refuse({dir + "/none.bin"});
    EXPECT_EQ(result.out, "Cant open " + dir + "/none.bin \n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(RefusalTest, Directory) {
    RunResult result = refuse({dir});
    EXPECT_EQ(result.out, "Cant read " + dir + " \n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(RefusalTest, FifoHasNoSize) {
    std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t writer = fork();
    if (writer == 0) {
        FILE* f = fopen(fifo.c_str(), "wb");
        if (f != nullptr) {
            fputs("firmware", f);
            fclose(f);
        }
        _exit(0);
    }
    RunResult result = refuse({fifo});
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(result.out, "Cant find the size of " + fifo + " \n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(RefusalTest, ImagesOver4095Pages) {
    for (size_t size : {size_t{1048321}, size_t{1048576}}) {
        write_file(dir + "/big.bin", std::string(size, 'x'));
        RunResult result = refuse({dir + "/big.bin"});
        EXPECT_EQ(result.out, TOO_BIG);
        EXPECT_EQ(result.status, 1);
    }
}

TEST(Scramble, RoundTripsAndScramblesWithTheToolsKey) {
    std::string dir = make_temp_dir();
    std::string raw = firmware(70000);
    write_file(dir + "/raw.bin", raw);
    RunResult scrambled = run_program({SCRAMBLE, dir + "/raw.bin", dir + "/image.bin"});
    EXPECT_EQ(scrambled.status, 0);
    std::string image = read_file(dir + "/image.bin");
    ASSERT_EQ(image.size(), raw.size());
    EXPECT_NE(image, raw);
    EXPECT_EQ(scrambled.out,
              sha256_line(raw, dir + "/raw.bin") + sha256_line(image, dir + "/image.bin"));
    EXPECT_EQ(scrambled.err, "");

    RunResult back = run_program({SCRAMBLE, dir + "/image.bin", dir + "/back.bin"});
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(read_file(dir + "/back.bin"), raw);
}

TEST(Scramble, RefusesWhatTheToolRefuses) {
    std::string dir = make_temp_dir();
    write_file(dir + "/max.bin", std::string(1048320, '\0'));
    EXPECT_EQ(run_program({SCRAMBLE, dir + "/max.bin", dir + "/max.img"}).status, 0);
    EXPECT_EQ(read_file(dir + "/max.img").size(), 1048320u);

    // A whole 1 MiB dump: taken without its blank tail when asked, else refused, with a hint
    // when the tail is blank.
    const std::string larger = "/big.bin is larger than 1048320 bytes (4095 pages of 256), the "
                               "most lptspi takes";
    const std::string kept = firmware(1000) + std::string(256, '\xFF') + firmware(536);
    const std::string dump = kept + std::string(1048576 - kept.size(), '\xFF');
    std::string tail_used = dump;
    tail_used[1048575] = 0;
    const struct {
        std::string bytes;
        bool trim;
        std::string err;
    } cases[] = {
        {std::string(1048321, '\0'), false, larger},
        {std::string(1048321, '\0'), true, larger},
        {tail_used, true, larger},
        {std::string(1048577, '\xFF'), true, larger},
        {dump, false,
         larger +
             "; its last page is blank (all 0xFF) and can be left out: lptspi-scramble "
             "--trim-blank-tail " +
             dir + "/big.bin " + dir + "/big.img"},
        {dump, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        write_file(dir + "/big.bin", c.bytes);
        std::vector<std::string> argv{SCRAMBLE, dir + "/big.bin", dir + "/big.img"};
        if (c.trim)
            argv.insert(argv.begin() + 1, "--trim-blank-tail");
        RunResult big = run_program(argv);
        if (!c.err.empty()) {
            EXPECT_EQ(big.status, 1);
            EXPECT_EQ(big.err, "lptspi-scramble: " + dir + c.err + "\n");
            EXPECT_EQ(big.out, "");
            EXPECT_NE(access((dir + "/big.img").c_str(), F_OK), 0);
            continue;
        }
        EXPECT_EQ(big.status, 0);
        EXPECT_EQ(big.err, "");
        ASSERT_EQ(run_program({SCRAMBLE, dir + "/big.img", dir + "/back.bin"}).status, 0);
        EXPECT_TRUE(read_file(dir + "/back.bin") == kept);
        EXPECT_EQ(big.out,
                  dir + "/big.bin: left out its last " + std::to_string(1048576 - kept.size()) +
                      " bytes, all 0xFF; took 1792\n" + sha256_line(kept, dir + "/big.bin") +
                      sha256_line(read_file(dir + "/big.img"), dir + "/big.img"));
    }
}

TEST(Scramble, ReportsUsageAndIoErrors) {
    std::string dir = make_temp_dir();
    RunResult usage = run_program({SCRAMBLE, "one"});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.err, "usage: lptspi-scramble [--trim-blank-tail] IN OUT\n");
    for (const char* option : {"--trim", "--trim-blank-tail"})
        EXPECT_EQ(run_program({SCRAMBLE, "--trim-blank-tail", option, "a", "b"}).err, usage.err);

    RunResult missing = run_program({SCRAMBLE, dir + "/none", dir + "/out"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "lptspi-scramble: cannot open " + dir + "/none: No such file or directory\n");

    write_file(dir + "/raw.bin", "abc");
    RunResult unwritable = run_program({SCRAMBLE, dir + "/raw.bin", dir + "/no/such/out"});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_EQ(unwritable.err, "lptspi-scramble: cannot create " + dir +
                                  "/no/such/out: No such file or directory\n");

    RunResult folder = run_program({SCRAMBLE, dir, dir + "/out"});
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(folder.err, "lptspi-scramble: cannot read " + dir + ": Is a directory\n");
}

// --help (or -h, or /?): the usage, a line for each mode, then every option on a line of its
// own; --version: the build's version. Both end with status 0 before anything else is looked
// at, the port and LPTSPI_PORT included.
TEST(Programs, HelpAndVersion) {
    const std::string dir = make_temp_dir();
    const std::string port = "lptspi [--port LPTn] ";
    const struct {
        std::string program, name, usage;
        std::vector<std::string> options, modes; // the modes: more usage lines
    } programs[] = {
        {TOOL,
         "lptspi",
         "lptspi [--port LPTn] [--fast | --verify] program.bin",
         {"--port LPTn", "--fast", "--verify", "--update", "--station", "--log FILE", "--keep",
          "--protect", "--serial", "--serials FILE", "--erase", "--blank"},
         {port + "--fast [--keep OFFSET:LENGTH]... [--protect] [--serial OFFSET:FORMAT=VALUE] "
                 "program.bin",
          port + "--update [--keep OFFSET:LENGTH]... [--protect] program.bin",
          port + "--station [--update] [--log FILE] [--serial OFFSET:FORMAT --serials FILE] "
                 "program.bin",
          port + "--erase [--protect]", port + "--blank"}},
        {BACKUP, "lptspi-backup", "lptspi-backup [--port LPTn] backup.bin", {"--port LPTn"}, {}},
        {CHECK,
         "lptspi-check",
         "lptspi-check [--port LPTn] [--fast] [--pins] [--unprotect]",
         {"--port LPTn", "--fast", "--pins", "--unprotect"},
         {}},
        {SCRAMBLE,
         "lptspi-scramble",
         "lptspi-scramble [--trim-blank-tail] IN OUT",
         {"--trim-blank-tail"},
         {}},
    };
    const Env env = {{"LPTSPI_SIM_TRACE", dir + "/trace"}, {"LPTSPI_PORT", "COM1"}};
    for (const auto& p : programs) {
        SCOPED_TRACE(p.name);
        RunResult help = run_program({p.program, "--help"}, env);
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(help.out.substr(0, p.usage.size() + 1), p.usage + "\n");
        std::vector<std::string> options = p.options;
        options.insert(options.end(), {"--help", "--version"});
        for (const std::string& option : options) {
            EXPECT_TRUE(help.out.find("\n  " + option + " ") != std::string::npos ||
                        help.out.find("\n  " + option + "\n") != std::string::npos)
                << option << " in\n"
                << help.out;
        }
        for (const std::string& mode : p.modes)
            EXPECT_NE(help.out.find("\n" + mode + "\n"), std::string::npos) << mode;
        // The short names, alone or before an option the program would refuse.
        for (const std::vector<std::string>& other :
             {std::vector<std::string>{"-h"}, {"/?"}, {"-h", "--slow"}, {"/?", "--port"}}) {
            SCOPED_TRACE(other[0] + " " + (other.size() > 1 ? other[1] : ""));
            std::vector<std::string> argv{p.program};
            argv.insert(argv.end(), other.begin(), other.end());
            RunResult same = run_program(argv, env);
            EXPECT_EQ(same.status, 0);
            EXPECT_EQ(same.out, help.out);
            EXPECT_EQ(same.err, "");
        }

        RunResult version = run_program({p.program, "--version"}, env);
        EXPECT_EQ(version.status, 0);
        const std::string plain = p.name + " " LPTSPI_VERSION;
        const std::string git = plain + " (git ";
        EXPECT_TRUE(version.out == plain + "\n" ||
                    (version.out.compare(0, git.size(), git) == 0 &&
                     version.out.substr(version.out.size() - 2) == ")\n"))
            << version.out;
        EXPECT_EQ(help.err + version.err, "");
        EXPECT_EQ(read_file(dir + "/trace"), "");
    }
    // Not after an unknown option, which the usage answers as ever.
    EXPECT_EQ(run_program({TOOL, "--slow", "--help"}).out,
              "Error unknown option --slow \nlptspi [--port LPTn] [--fast | --verify] program.bin");
}

// The simulated PC without a chip file says once, as a run first reaches the port, that the chip
// is not kept; a run that never reaches it (the help, a refused image) and a run with a chip file
// say nothing. Families are named in either case.
TEST(SimulatedPc, SaysTheChipIsNotKeptAndTakesFamilyNamesInEitherCase) {
    const std::string dir = make_temp_dir(), image = dir + "/image.bin", chip = dir + "/chip.bin";
    const std::string raw = firmware(700);
    write_file(image, scramble(raw));
    const std::string note = "lptspi-sim: no LPTSPI_SIM_CHIP: the chip starts erased and is not "
                             "kept after this run (LPTSPI_SIM_CHIP=FILE keeps it)\n";
    const struct {
        std::vector<std::string> argv;
        Env env;
        std::string err, said; // standard error; a line standard output holds
        int status;
    } cases[] = {
        {{TOOL, "--fast", image}, {}, note, "PASS: M25P80 holds", 0},
        {{TOOL, image}, {}, note, "done!", 0},
        {{BACKUP, dir + "/backup.bin"}, {}, note, "the flash is blank", 0},
        {{CHECK}, {}, note, "flash: id 20 20 14", 0},
        {{TOOL, "--fast", image},
         {{"LPTSPI_SIM_REPORT", "1"}},
         note + "lptspi-sim: port accesses: ",
         "PASS: M25P80 holds",
         0},
        {{TOOL, "--fast", image}, {{"LPTSPI_SIM_CHIP", chip}}, "", "PASS: M25P80 holds", 0},
        {{TOOL, "--help"}, {}, "", "lptspi [--port LPTn]", 0},
        {{TOOL, "--fast", dir + "/none.bin"}, {}, "", "Cant open", 1},
        {{TOOL, "--fast", image},
         {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_FLASH", "SST25VF080B"}},
         "",
         "flash SST25VF080B (bf 25 8e), 1024 KiB\n",
         0},
        {{TOOL, "--fast", image},
         {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_FLASH", "W25q80"}},
         "",
         "flash W25Q80 (ef 40 14), 1024 KiB\n",
         0},
        {{TOOL, "--fast", image},
         {{"LPTSPI_SIM_CHIP", chip}, {"LPTSPI_SIM_FLASH", "M25P81"}},
         "lptspi-sim: LPTSPI_SIM_FLASH=M25P81: expected m25p80, ",
         "",
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argv.back() + (c.env.empty() ? "" : " " + c.env.back().second));
        std::remove(chip.c_str());
        std::remove((dir + "/backup.bin").c_str());
        RunResult run = run_program(c.argv, c.env);
        EXPECT_EQ(run.status, c.status) << run.out;
        EXPECT_EQ(run.err.substr(0, c.err.size()), c.err);
        if (c.err.find("port accesses") == std::string::npos && c.status != 3) {
            EXPECT_EQ(run.err, c.err) << "said more than once, or more";
        }
        EXPECT_NE(run.out.find(c.said), std::string::npos) << run.out;
        if (c.env.size() > 1 && c.status == 0) {
            EXPECT_TRUE(read_file(chip).substr(0, 768) == programmed(raw));
        }
    }
}

} // namespace
