// lptspi-sim and lptspi-scramble as a user runs them: image refusals, and making images.
#include "../support/process.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string TOOL = LPTSPI_SIM_EXE;
const std::string SCRAMBLE = LPTSPI_SCRAMBLE_EXE;
const char* const TOO_BIG = "\n Error program greater than 1MB program don't fit\n";

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
    EXPECT_EQ(scrambled.out + scrambled.err, "");
    std::string image = read_file(dir + "/image.bin");
    ASSERT_EQ(image.size(), raw.size());
    EXPECT_NE(image, raw);

    RunResult back = run_program({SCRAMBLE, dir + "/image.bin", dir + "/back.bin"});
    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(read_file(dir + "/back.bin"), raw);
}

TEST(Scramble, RefusesWhatTheToolRefuses) {
    std::string dir = make_temp_dir();
    write_file(dir + "/max.bin", std::string(1048320, '\0'));
    EXPECT_EQ(run_program({SCRAMBLE, dir + "/max.bin", dir + "/max.img"}).status, 0);
    EXPECT_EQ(read_file(dir + "/max.img").size(), 1048320u);

    write_file(dir + "/big.bin", std::string(1048321, '\0'));
    RunResult big = run_program({SCRAMBLE, dir + "/big.bin", dir + "/big.img"});
    EXPECT_EQ(big.status, 1);
    EXPECT_EQ(big.err, "lptspi-scramble: " + dir +
                           "/big.bin is larger than 1048320 bytes (4095 pages of 256), the most "
                           "lptspi takes\n");
    EXPECT_NE(access((dir + "/big.img").c_str(), F_OK), 0);
}

TEST(Scramble, ReportsUsageAndIoErrors) {
    std::string dir = make_temp_dir();
    RunResult usage = run_program({SCRAMBLE, "one"});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.err, "usage: lptspi-scramble IN OUT\n");

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

} // namespace
