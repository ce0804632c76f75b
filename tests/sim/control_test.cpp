// Settings from the environment, the chip file across boots, shutdown and its report.
#include "bitbang.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>

using simtest::Spi;

namespace {

std::map<std::string, std::string> g_env;

const char* fake_getenv(const char* name) {
    auto it = g_env.find(name);
    return it == g_env.end() ? nullptr : it->second.c_str();
}

bool parse(const std::map<std::string, std::string>& env, sim::Settings& out, std::string& error) {
    g_env = env;
    return sim::parse_settings(fake_getenv, out, error);
}

TEST(Settings, NothingSetGivesTheDefaults) {
    sim::Settings s;
    std::string error;
    ASSERT_TRUE(parse({}, s, error));
    EXPECT_EQ(s.platform, sim::Platform::nt);
    EXPECT_EQ(s.lpt, sim::Lpt::free);
    EXPECT_EQ(s.driver, sim::Driver::running);
    EXPECT_EQ(s.scm, sim::Scm::admin);
    EXPECT_TRUE(s.ecp);
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.miso, sim::Miso::chip);
    EXPECT_TRUE(s.stuck.empty());
    EXPECT_FALSE(s.ioctl_fail);
    EXPECT_EQ(s.erase_ms, 3000u);
    EXPECT_EQ(s.program_us, 1400u);
    EXPECT_TRUE(s.chip_path.empty());
    EXPECT_TRUE(s.trace_path.empty());
    EXPECT_FALSE(s.realtime);
    EXPECT_FALSE(s.report);

    // Empty strings count as unset.
    std::map<std::string, std::string> empty;
    for (const char* name :
         {"LPTSPI_SIM_CHIP", "LPTSPI_SIM_PLATFORM", "LPTSPI_SIM_LPT", "LPTSPI_SIM_DRIVER",
          "LPTSPI_SIM_SCM", "LPTSPI_SIM_ECP", "LPTSPI_SIM_STATUS", "LPTSPI_SIM_MISO",
          "LPTSPI_SIM_STUCK", "LPTSPI_SIM_IOCTL", "LPTSPI_SIM_ERASE_MS", "LPTSPI_SIM_PROGRAM_US",
          "LPTSPI_SIM_TRACE", "LPTSPI_SIM_REALTIME", "LPTSPI_SIM_REPORT"}) {
        empty[name] = "";
    }
    sim::Settings t;
    ASSERT_TRUE(parse(empty, t, error)) << error;
    EXPECT_EQ(t.erase_ms, 3000u);
    EXPECT_EQ(t.platform, sim::Platform::nt);
}

TEST(Settings, EveryVariableIsRead) {
    sim::Settings s;
    std::string error;
    ASSERT_TRUE(parse({{"LPTSPI_SIM_CHIP", "/nonexistent/chip.bin"},
                       {"LPTSPI_SIM_PLATFORM", "9x"},
                       {"LPTSPI_SIM_LPT", "busy"},
                       {"LPTSPI_SIM_DRIVER", "unopenable"},
                       {"LPTSPI_SIM_SCM", "user"},
                       {"LPTSPI_SIM_ECP", "0"},
                       {"LPTSPI_SIM_STATUS", "0x1C"},
                       {"LPTSPI_SIM_MISO", "low"},
                       {"LPTSPI_SIM_STUCK", "0x10:0x80,4096:1"},
                       {"LPTSPI_SIM_IOCTL", "fail"},
                       {"LPTSPI_SIM_ERASE_MS", "0"},
                       {"LPTSPI_SIM_PROGRAM_US", "0x10"},
                       {"LPTSPI_SIM_TRACE", "/tmp/t.txt"},
                       {"LPTSPI_SIM_REALTIME", "1"},
                       {"LPTSPI_SIM_REPORT", "1"}},
                      s, error))
        << error;
    EXPECT_EQ(s.chip_path, "/nonexistent/chip.bin");
    EXPECT_EQ(s.platform, sim::Platform::win9x);
    EXPECT_EQ(s.lpt, sim::Lpt::busy);
    EXPECT_EQ(s.driver, sim::Driver::unopenable);
    EXPECT_EQ(s.scm, sim::Scm::user);
    EXPECT_FALSE(s.ecp);
    EXPECT_EQ(s.status, 0x1C);
    EXPECT_EQ(s.miso, sim::Miso::low);
    ASSERT_EQ(s.stuck.size(), 2u);
    EXPECT_EQ(s.stuck[0].address, 0x10u);
    EXPECT_EQ(s.stuck[0].mask, 0x80);
    EXPECT_EQ(s.stuck[1].address, 4096u);
    EXPECT_EQ(s.stuck[1].mask, 1);
    EXPECT_TRUE(s.ioctl_fail);
    EXPECT_EQ(s.erase_ms, 0u);
    EXPECT_EQ(s.program_us, 16u);
    EXPECT_EQ(s.trace_path, "/tmp/t.txt");
    EXPECT_TRUE(s.realtime);
    EXPECT_TRUE(s.report);

    ASSERT_TRUE(
        parse({{"LPTSPI_SIM_STATUS", "255"}, {"LPTSPI_SIM_PLATFORM", "unknown"}}, s, error));
    EXPECT_EQ(s.status, 255);
    EXPECT_EQ(s.platform, sim::Platform::unknown);
}

TEST(Settings, BadValuesNameTheVariableAndTheValue) {
    const std::pair<const char*, const char*> cases[] = {
        {"LPTSPI_SIM_PLATFORM", "nt4"},       {"LPTSPI_SIM_PLATFORM", "NT"},
        {"LPTSPI_SIM_LPT", "shared"},         {"LPTSPI_SIM_DRIVER", "gone"},
        {"LPTSPI_SIM_SCM", "root"},           {"LPTSPI_SIM_ECP", "yes"},
        {"LPTSPI_SIM_STATUS", "256"},         {"LPTSPI_SIM_STATUS", "0x"},
        {"LPTSPI_SIM_STATUS", "-1"},          {"LPTSPI_SIM_STATUS", "1c"},
        {"LPTSPI_SIM_MISO", "float"},         {"LPTSPI_SIM_STUCK", "0x10"},
        {"LPTSPI_SIM_STUCK", "0x100000:1"},   {"LPTSPI_SIM_STUCK", "0x10:0"},
        {"LPTSPI_SIM_STUCK", "0x10:256"},     {"LPTSPI_SIM_STUCK", "1:1,"},
        {"LPTSPI_SIM_STUCK", "a:1"},          {"LPTSPI_SIM_IOCTL", "broken"},
        {"LPTSPI_SIM_ERASE_MS", "600001"},    {"LPTSPI_SIM_ERASE_MS", "3s"},
        {"LPTSPI_SIM_PROGRAM_US", "1000001"}, {"LPTSPI_SIM_PROGRAM_US", "99999999999999999999999"},
        {"LPTSPI_SIM_REALTIME", "true"},      {"LPTSPI_SIM_REPORT", "2"},
    };
    for (const auto& [name, value] : cases) {
        sim::Settings s;
        s.erase_ms = 1234;
        std::string error;
        EXPECT_FALSE(parse({{name, value}}, s, error)) << name << "=" << value;
        EXPECT_NE(error.find(std::string(name) + "=" + value), std::string::npos) << error;
        EXPECT_NE(error.find("expected"), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(s.erase_ms, 1234u) << "settings changed on error";
    }

    std::string too_many;
    for (int i = 0; i < 65; ++i) {
        too_many += (i ? "," : "") + std::to_string(i) + ":1";
    }
    sim::Settings s;
    std::string error;
    EXPECT_FALSE(parse({{"LPTSPI_SIM_STUCK", too_many}}, s, error));
    EXPECT_NE(error.find("LPTSPI_SIM_STUCK"), std::string::npos);
}

class ChipFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(mkdtemp(dir), nullptr);
        path = std::string(dir) + "/chip.bin";
    }
    void TearDown() override {
        sim::reset(sim::Settings{});
        std::remove(path.c_str());
        rmdir(dir);
    }
    void write_file(const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<uint8_t> read_file() {
        std::ifstream in(path, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }

    char dir[32] = "/tmp/lptspi-sim-chip-XXXXXX";
    std::string path;
};

TEST_F(ChipFile, MissingFileStartsErasedAndIsSavedAtShutdown) {
    sim::Settings s;
    s.chip_path = path;
    sim::reset(s);
    EXPECT_EQ(sim::chip_contents(), std::vector<uint8_t>(1u << 20, 0xFF));
    Spi spi;
    spi.write_enable();
    spi.program(0x80000, {0x12, 0x34});
    spi.wait_ready();
    sim::shutdown();
    std::vector<uint8_t> expected(1u << 20, 0xFF);
    expected[0x80000] = 0x12;
    expected[0x80001] = 0x34;
    EXPECT_EQ(read_file(), expected);

    // Shutting down twice does not write again.
    write_file({1});
    sim::shutdown();
    EXPECT_EQ(read_file(), std::vector<uint8_t>{1});
}

TEST_F(ChipFile, ShortFileLoadsWithTheRestErased) {
    write_file({0x00, 0x11, 0x22});
    sim::Settings s;
    s.chip_path = path;
    sim::reset(s);
    Spi spi;
    EXPECT_EQ(spi.read(0, 4), (std::vector<uint8_t>{0x00, 0x11, 0x22, 0xFF}));
    sim::shutdown();
    EXPECT_EQ(read_file().size(), 1u << 20);
}

TEST_F(ChipFile, FileLargerThanTheChipIsRefused) {
    write_file(std::vector<uint8_t>((1u << 20) + 1, 0));
    sim::Settings s;
    std::string error;
    EXPECT_FALSE(parse({{"LPTSPI_SIM_CHIP", path}}, s, error));
    EXPECT_NE(error.find("LPTSPI_SIM_CHIP=" + path), std::string::npos);
    EXPECT_NE(error.find("1048577"), std::string::npos) << error;
    EXPECT_FALSE(parse({{"LPTSPI_SIM_CHIP", dir}}, s, error)); // a directory
}

TEST_F(ChipFile, SaveErrorIsReportedOnStandardError) {
    sim::Settings s;
    s.chip_path = std::string(dir) + "/no/such/dir/chip.bin";
    sim::reset(s);
    testing::internal::CaptureStderr();
    sim::shutdown();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("lptspi-sim: cannot save the chip to " + s.chip_path), std::string::npos)
        << err;
}

TEST(Report, PrintedOnStandardErrorOnlyWhenAsked) {
    sim::Settings s;
    sim::reset(s);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    sim::shutdown();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    s.report = true;
    sim::reset(s);
    Spi spi;
    spi.read_status(); // 66 accesses
    _sleep(1500);
    _sleep(500);
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    sim::shutdown();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "lptspi-sim: port accesses: 66\n"
              "lptspi-sim: pauses: 2, 2000 ms in all\n"
              "lptspi-sim: virtual time elapsed: 2.000 s\n"
              "lptspi-sim: projected time on real hardware: 2.000 s\n");
    sim::reset(sim::Settings{});
}

TEST(BootDeathTest, BadEnvironmentEndsWithStatus3) {
    EXPECT_EXIT(
        {
            setenv("LPTSPI_SIM_LPT", "maybe", 1);
            sim::boot_from_environment();
        },
        ::testing::ExitedWithCode(3),
        "lptspi-sim: LPTSPI_SIM_LPT=maybe: expected free, busy or absent");
}

TEST(BootDeathTest, EnvironmentIsAppliedAndShutdownRunsAtExit) {
    char dir[] = "/tmp/lptspi-sim-boot-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string chip = std::string(dir) + "/chip.bin";
    EXPECT_EXIT(
        {
            setenv("LPTSPI_SIM_CHIP", chip.c_str(), 1);
            setenv("LPTSPI_SIM_PLATFORM", "9x", 1);
            setenv("LPTSPI_SIM_REPORT", "1", 1);
            setenv("LPTSPI_SIM_BOGUS", "1", 1);
            sim::boot_from_environment();
            if (sim::settings().platform == sim::Platform::win9x) {
                _outp(0x378, 0x05);
                std::exit(7);
            }
            std::exit(1);
        },
        ::testing::ExitedWithCode(7),
        "unknown setting LPTSPI_SIM_BOGUS.*lptspi-sim: port accesses: 1");
    std::ifstream in(chip, std::ios::binary);
    EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}).size(), 1u << 20);
    std::remove(chip.c_str());
    rmdir(dir);
}

} // namespace
