// Control of the simulated PC: settings from the environment, the access record, the clock and
// counters, the trace, the chip file across boots, shutdown and its report.
#include "bitbang.h"
#include "../support/process.h"

#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <sstream>
#include <tuple>

using simtest::boot;
using simtest::Spi;
using simtest::V;

namespace {

std::map<std::string, std::string> g_env;

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), {}};
}

// Parses the settings from "NAME=value" words, NAME without its LPTSPI_SIM_ prefix.
bool parse(const std::string& vars, sim::Settings& out, std::string& error) {
    g_env.clear();
    for (const std::string& v : words(vars)) {
        g_env["LPTSPI_SIM_" + v.substr(0, v.find('='))] = v.substr(v.find('=') + 1);
    }
    return sim::parse_settings(
        [](const char* name) {
            auto it = g_env.find(name);
            return it == g_env.end() ? nullptr : it->second.c_str();
        },
        out, error);
}

TEST(Settings, GoodValuesAreReadAndBadValuesNameTheVariable) {
    const std::string good = "CHIP=/nonexistent/chip.bin PLATFORM=9x LPT=busy DRIVER=unopenable "
                             "SCM=user ECP=0 STATUS=0x1C MISO=low STUCK=0x10:0x80,4096:1 "
                             "IOCTL=fail ERASE_MS=0 PROGRAM_US=0x10 TRACE=/tmp/t.txt REALTIME=1 "
                             "REPORT=1 SIZE=0x200000 NOISE=0.25:0x2A PORT=0xD010,0xD000 "
                             "HWI=ports-only ID=0xEF4018 FLASH=sst25vf016b POWER=cycle "
                             "AAI_END=0x1FFFFF LOCK_HELD=500";
    sim::Settings s;
    std::string error;
    ASSERT_TRUE(parse(good, s, error)) << error;
    EXPECT_EQ(std::tie(s.chip_path, s.trace_path),
              std::make_tuple("/nonexistent/chip.bin", "/tmp/t.txt"));
    EXPECT_EQ(std::tie(s.platform, s.lpt, s.driver, s.scm, s.miso),
              std::make_tuple(sim::Platform::win9x, sim::Lpt::busy, sim::Driver::unopenable,
                              sim::Scm::user, sim::Miso::low));
    EXPECT_EQ(std::vector<bool>({s.ecp, s.ioctl_fail, s.realtime, s.report}),
              std::vector<bool>({false, true, true, true}));
    EXPECT_EQ(std::tie(s.status, s.erase_ms, s.program_us), std::make_tuple(0x1C, 0u, 16u));
    ASSERT_EQ(s.stuck.size(), 2u);
    EXPECT_EQ(std::tie(s.stuck[0].address, s.stuck[0].mask), std::make_tuple(0x10u, 0x80));
    EXPECT_EQ(std::tie(s.stuck[1].address, s.stuck[1].mask), std::make_tuple(4096u, 1));
    EXPECT_EQ(std::tie(s.chip_size, s.noise_rate, s.noise_seed),
              std::make_tuple(0x200000u, 0.25, uint64_t{42}));
    EXPECT_EQ(std::tie(s.port_base, s.ecp_block, s.hwi, s.jedec_id),
              std::make_tuple(0xD010, 0xD000, sim::Hwi::ports_only, 0xEF4018u));
    EXPECT_EQ(std::tie(s.flash, s.power_cycle), std::make_tuple("sst25vf016b", true));
    EXPECT_EQ(std::tie(s.aai_end, s.lock_held_ms), std::make_tuple(0x1FFFFFu, 500u));
    // A family brings its size and power-up status; the other settings override them.
    for (auto [vars, size, status] :
         {std::tuple{"FLASH=w25q128", 1u << 24, 0x00},
          std::tuple{"FLASH=at26df161a", 1u << 21, 0x0C},
          std::tuple{"FLASH=sst25vf040b", 1u << 19, 0x1C},
          std::tuple{"FLASH=sst25vf040b SIZE=4096 STATUS=0", 4096u, 0x00}}) {
        sim::Settings t;
        ASSERT_TRUE(parse(vars, t, error)) << error;
        EXPECT_EQ(std::tie(t.chip_size, t.status), std::make_tuple(size, status)) << vars;
    }
    // A family's name in either case, kept as the table spells it.
    for (auto [vars, flash] :
         {std::pair{"FLASH=M25P80", "m25p80"}, std::pair{"FLASH=Sst25VF080B", "sst25vf080b"},
          std::pair{"FLASH=SFDP-ONLY", "sfdp-only"}}) {
        sim::Settings t;
        ASSERT_TRUE(parse(vars, t, error)) << error;
        EXPECT_EQ(t.flash, flash) << vars;
    }
    EXPECT_EQ(s.port_lpt, 1);
    ASSERT_TRUE(parse("PORT=LPT3:0xD010,0xD000", s, error)) << error;
    EXPECT_EQ(std::tie(s.port_lpt, s.port_base, s.ecp_block), std::make_tuple(3, 0xD010, 0xD000));
    ASSERT_TRUE(parse("PORT=LPT9:legacy", s, error)) << error;
    EXPECT_EQ(std::tie(s.port_lpt, s.port_base, s.ecp_block), std::make_tuple(9, 0x378, 0x778));
    ASSERT_TRUE(parse("PORT=legacy", s, error)) << error;
    EXPECT_EQ(std::tie(s.port_lpt, s.port_base, s.ecp_block), std::make_tuple(1, 0x378, 0x778));
    ASSERT_TRUE(parse("SIZE=4096 NOISE=1e-3", s, error)) << error;
    EXPECT_EQ(std::tie(s.chip_size, s.noise_rate, s.noise_seed),
              std::make_tuple(4096u, 0.001, uint64_t{42})); // the seed is kept when not given
    ASSERT_TRUE(parse("SIZE=16777216 NOISE=0", s, error)) << error;
    EXPECT_EQ(std::tie(s.chip_size, s.noise_rate), std::make_tuple(16777216u, 0.0));

    // Empty variables count as unset and leave what was there.
    ASSERT_TRUE(parse("CHIP= PLATFORM= STATUS= STUCK= ERASE_MS= TRACE= REPORT=", s, error));
    EXPECT_EQ(std::tie(s.platform, s.status, s.trace_path),
              std::make_tuple(sim::Platform::win9x, 0x1C, "/tmp/t.txt"));

    const std::string dir = make_temp_dir();
    write_file(dir + "/big.bin", V((1u << 20) + 1, 0));
    std::string too_many_stuck = "STUCK=0:1";
    for (int i = 1; i < 65; ++i) {
        too_many_stuck += "," + std::to_string(i) + ":1";
    }
    for (const std::string& var :
         words("PLATFORM=NT LPT=shared DRIVER=gone SCM=root ECP=yes STATUS=256 STATUS=0x "
               "STATUS=1c MISO=float STUCK=0x10 STUCK=0x100000:1 STUCK=0x10:0 STUCK=1:1, "
               "IOCTL=broken ERASE_MS=600001 ERASE_MS=3s PROGRAM_US=99999999999999999999 "
               "REALTIME=true REPORT=2 SIZE=2048 SIZE=33554432 SIZE=12288 SIZE=1M SIZE=0 "
               "NOISE=1.5 NOISE=-0.1 NOISE=0.1: NOISE=:5 NOISE=0.1:x NOISE=lots NOISE=nan "
               "NOISE=inf PORT=card PORT=0x50 PORT=0xFFFC PORT=0xD010, PORT=0xD010,0xD011 "
               "PORT=0xD010,0xD00E PORT=,0xD000 PORT=LPT0:0xD010 PORT=LPT3: PORT=LPT3 "
               "PORT=lpt3:legacy PORT=LPT10:0xD010 PORT=LPT3:card HWI=old ID=0x1000000 ID=-1 "
               "FLASH=M25P81 FLASH=sst26 FLASH=25vf080b POWER=off POWER=1 AAI_END=0x100000 "
               "AAI_END=-2 LOCK_HELD=600001 LOCK_HELD=1s " +
               too_many_stuck + " CHIP=" + dir + /* a directory */
               " CHIP=" + dir + "/big.bin")) {   // larger than the chip
        SCOPED_TRACE(var);
        sim::Settings t;
        t.erase_ms = 1234;
        EXPECT_FALSE(parse(var, t, error));
        // Named with the value, then what is wrong with it, on one line.
        EXPECT_EQ(error.rfind("LPTSPI_SIM_" + var + ": ", 0), 0u) << error;
        EXPECT_GT(error.size(), var.size() + 13) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_EQ(t.erase_ms, 1234u) << "settings changed on error";
    }

    // The chip file and the stuck bytes are checked against the size set with them.
    write_file(dir + "/8k.bin", V(8192, 0));
    sim::Settings t;
    EXPECT_FALSE(parse("SIZE=4096 CHIP=" + dir + "/8k.bin", t, error));
    EXPECT_EQ(error.rfind("LPTSPI_SIM_CHIP=", 0), 0u) << error;
    EXPECT_FALSE(parse("SIZE=4096 STUCK=0x1000:1", t, error));
    EXPECT_EQ(error.rfind("LPTSPI_SIM_STUCK=", 0), 0u) << error;
    EXPECT_TRUE(parse("SIZE=8192 CHIP=" + dir + "/8k.bin" + " STUCK=0x1FFF:1", t, error)) << error;
    // The size an SST26's layout needs, and the family's own size, checked with the other two.
    EXPECT_FALSE(parse("FLASH=sst26vf016b SIZE=65536", t, error));
    EXPECT_EQ(error, "LPTSPI_SIM_SIZE=65536: the sst26vf016b's blocks need at least 131072 bytes");
    EXPECT_FALSE(parse("FLASH=sst25vf040b STUCK=0x80000:1", t, error));
    EXPECT_EQ(error.rfind("LPTSPI_SIM_STUCK=", 0), 0u) << error;
    EXPECT_TRUE(parse("FLASH=sst26vf016b SIZE=131072", t, error)) << error;
}

TEST(Settings, TimingCornerAndItsSeed) {
    struct Row {
        const char* vars;
        sim::Timing timing;
        uint64_t seed;
    };
    for (const Row& r :
         {Row{"TIMING=typical", sim::Timing::typical, 1}, Row{"TIMING=min", sim::Timing::min, 1},
          Row{"TIMING=max", sim::Timing::max, 1}, Row{"TIMING=random", sim::Timing::random, 1},
          Row{"TIMING=random:0x2A", sim::Timing::random, 42}}) {
        sim::Settings s;
        std::string error;
        ASSERT_TRUE(parse(r.vars, s, error)) << error;
        EXPECT_EQ(std::tie(s.timing, s.timing_seed), std::tie(r.timing, r.seed)) << r.vars;
    }
    for (const std::string var : {"TIMING=slow", "TIMING=Max", "TIMING=max:3",
                                  "TIMING=random:", "TIMING=random:x", "TIMING=:5"}) {
        sim::Settings s;
        std::string error;
        EXPECT_FALSE(parse(var, s, error)) << var;
        EXPECT_EQ(error, "LPTSPI_SIM_" + var +
                             ": expected typical, max, min or random[:seed] (the seed of the "
                             "random times, hex with 0x or decimal)");
        EXPECT_EQ(s.timing, sim::Timing::typical);
    }
}

TEST(Record, HoldsEveryAccessInOrderWhileOn) {
    boot();
    Spi spi;
    spi.bit(false); // recording is off after reset
    sim::record(true);
    spi.bit(true);
    EXPECT_EQ(
        sim::accesses(),
        (std::vector<sim::Access>{
            {true, 0x378, 0x03}, {false, 0x379, 0xFF}, {true, 0x378, 0x0B}, {true, 0x378, 0x03}}));
    sim::clear_accesses();
    EXPECT_TRUE(sim::accesses().empty());
    sim::record(false);
    spi.bit(false);
    EXPECT_TRUE(sim::accesses().empty());
    sim::record(true);
    boot(); // clears the record and turns it off
    sim::bus_read(0x379);
    EXPECT_TRUE(sim::accesses().empty());
}

TEST(Clock, CountsAccessesAndPauses) {
    boot([](sim::Settings& s) { s.access_ns = 250; });
    Spi().read_status(); // select + 16 bits x 4 + release
    _sleep(5);
    _sleep(20);
    EXPECT_EQ(std::make_tuple(sim::access_count(), sim::pause_count(), sim::paused_ms()),
              std::make_tuple(66u, 2u, 25u));
    EXPECT_EQ(sim::now_ns(), 66u * 250u + 25000000u);
    boot(); // counters back to zero
    EXPECT_EQ(sim::access_count() + sim::pause_count() + sim::paused_ms() + sim::now_ns(), 0u);
}

TEST(Trace, OneLinePerEvent) {
    const std::string dir = make_temp_dir();
    boot([&](sim::Settings& s) { s.trace_path = dir + "/trace.txt"; });
    sim::bus_write(0x378, 0x0B);
    sim::bus_read(0x379);
    _sleep(100);
    sim::bus_write(0x77A, 0x34);
    sim::shutdown();
    EXPECT_EQ(read_file(dir + "/trace.txt"), "W 0378 0b\nR 0379 ff\nS 100\nW 077a 34\n");
    boot();
}

class ChipFile : public ::testing::Test {
  protected:
    void TearDown() override { boot(); }
    void boot_with_file() {
        boot([this](sim::Settings& s) { s.chip_path = path; });
    }
    const std::string dir = make_temp_dir();
    std::string path = dir + "/chip.bin";
};

TEST_F(ChipFile, ShortFileLoadsErasedBeyondAndIsSavedWholeOnceAtShutdown) {
    write_file(path, V{0x00, 0x11, 0x22});
    boot_with_file();
    Spi spi;
    EXPECT_EQ(spi.read(0, 4), (V{0x00, 0x11, 0x22, 0xFF}));
    spi.write_enable();
    spi.program(0x80000, {0x12, 0x34});
    spi.wait_ready();
    sim::shutdown();
    V expected(1u << 20, 0xFF);
    std::copy_n(V{0x00, 0x11, 0x22}.begin(), 3, expected.begin());
    expected[0x80000] = 0x12;
    expected[0x80001] = 0x34;
    EXPECT_EQ(read_bytes(path), expected);

    write_file(path, V{1});
    sim::shutdown(); // the second shutdown writes nothing
    EXPECT_EQ(read_bytes(path), V{1});
}

TEST_F(ChipFile, MissingFileStartsErasedAndSaveErrorsAreReported) {
    path = dir + "/no/such/dir/chip.bin";
    boot_with_file();
    EXPECT_EQ(sim::chip_contents(), V(1u << 20, 0xFF));
    testing::internal::CaptureStderr();
    sim::shutdown();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("lptspi-sim: cannot save the chip to " + path), std::string::npos) << err;
}

// The chip's protection state stays beside the chip file as on a board that stays powered;
// powered off and on, the chip keeps only its non-volatile status bits.
TEST_F(ChipFile, ProtectionStaysWithTheChipUntilThePowerIsCycled) {
    const std::string state = path + ".status";
    write_file(state, "9c\n"); // an older file: two hex digits
    boot_with_file();
    EXPECT_EQ(sim::chip_status(), 0x9C);
    std::remove(state.c_str());

    auto boot_as = [&](const char* name, bool cycle = false) {
        boot([&](sim::Settings& s) {
            sim::set_flash(s, name);
            s.chip_path = path;
            s.power_cycle = cycle;
        });
    };
    Spi spi;
    auto registers = [&] { return spi.frame({0x72, 0, 0, 0, 0, 0, 0}); };
    boot_as("sst26vf016b");
    spi.write_enable();
    spi.command(0x98);
    sim::shutdown();
    EXPECT_EQ(read_file(state), "00\nflash sst26vf016b\nprotect 000000000000\n");
    boot_as("sst26vf016b");
    EXPECT_EQ(registers(), (V{0xFF, 0, 0, 0, 0, 0, 0}));
    boot_as("sst26vf016b", true);
    EXPECT_EQ(registers(), (V{0xFF, 0x55, 0x55, 0xFF, 0xFF, 0xFF, 0xFF}));
    sim::shutdown(); // the power-up state needs no file
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"chip.bin"});

    // The AT25DF's sectors; a file of another family is another chip's (this one powers up).
    boot_as("at25df081a");
    spi.write_enable();
    spi.frame({0x01, 0x00});
    spi.write_enable();
    spi.frame(0x36, 0x70000); // sector 7 protected again
    sim::shutdown();
    EXPECT_EQ(read_file(state), "00\nflash at25df081a\nprotect 0080\n");
    boot_as("at25df081a");
    EXPECT_EQ(spi.read_status(), 0x14);
    boot_as("sst25vf080b");
    EXPECT_EQ(spi.read_status(), 0x1C);

    // Non-volatile bits (the W25Q80's BP and SEC bits) survive the power cycle, the SST25's
    // volatile BP bits come back set.
    boot_as("w25q80");
    spi.write_enable();
    spi.frame({0x01, 0x64});
    sim::shutdown();
    boot_as("w25q80", true);
    EXPECT_EQ(spi.read_status(), 0x64);
    boot_as("sst25vf016b");
    spi.write_enable();
    spi.frame({0x01, 0x00});
    sim::shutdown();
    EXPECT_EQ(read_file(state), "00\nflash sst25vf016b\n");
    boot_as("sst25vf016b");
    EXPECT_EQ(spi.read_status(), 0x00);
    boot_as("sst25vf016b", true);
    EXPECT_EQ(spi.read_status(), 0x1C);
}

// An SST25 left inside an auto-address-increment program stays in it on a powered board, its
// next word's address and all; a power cycle ends it.
TEST_F(ChipFile, SstWordSequenceStaysWithThePoweredBoard) {
    auto boot_sst = [&](bool cycle) {
        boot([&](sim::Settings& s) {
            sim::set_flash(s, "sst25vf080b");
            s.chip_path = path;
            s.power_cycle = cycle;
        });
    };
    Spi spi;
    boot_sst(false);
    spi.command(0x50);
    spi.frame({0x01, 0x00});
    spi.write_enable();
    spi.frame({0xAD, 0x00, 0x10, 0x00, 0x11, 0x22}); // words from 0x1000, cut short here
    sim::shutdown();
    EXPECT_EQ(read_file(path + ".status"), "00\nflash sst25vf080b\naai 001002\n");
    for (int run = 0; run < 2; ++run) {
        boot_sst(false);
        EXPECT_EQ(spi.read_status(), 0x42) << run;
        EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), V(4, 0xFF)) << run; // only words are taken
        sim::shutdown();
    }
    boot_sst(false);
    spi.frame({0xAD, 0x33, 0x44});
    spi.wait_ready();
    spi.command(0x04);
    EXPECT_EQ(spi.read_status(), 0x00);
    EXPECT_EQ(spi.read(0x1000, 5), (V{0x11, 0x22, 0x33, 0x44, 0xFF}));
    spi.write_enable();
    spi.frame({0xAD, 0x00, 0x20, 0x00, 0x55, 0x66});
    sim::shutdown();
    boot_sst(true); // a power cycle: the sequence is over, the protection back
    EXPECT_EQ(spi.read_status(), 0x1C);
    EXPECT_EQ(spi.frame({0x9F, 0, 0, 0}), (V{0xFF, 0xBF, 0x25, 0x8E}));
}

TEST(Report, PrintedOnStandardErrorOnlyWhenAsked) {
    for (bool report : {false, true}) {
        boot([report](sim::Settings& s) { s.report = report; });
        Spi().read_status(); // 66 accesses
        _sleep(1500);
        _sleep(500);
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        sim::shutdown();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  report ? "lptspi-sim: port accesses: 66\n"
                           "lptspi-sim: driver requests: 0\n"
                           "lptspi-sim: pauses: 2, 2000 ms in all\n"
                           "lptspi-sim: projected time on real hardware: 2.000 s\n"
                         : "");
    }
    // With noise on, the report counts the flipped data-in reads: all 16 here.
    boot([](sim::Settings& s) {
        s.report = true;
        s.noise_rate = 1;
    });
    Spi().read_status();
    testing::internal::CaptureStderr();
    sim::shutdown();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("lptspi-sim: projected time on real hardware: 0.000 s\n"
                       "lptspi-sim: data-in reads flipped by noise: 16\n"),
              std::string::npos)
        << err;
    boot();
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

// Settings built by hand rather than parsed can hold a chip the model cannot be: a fault.
TEST(BootDeathTest, UnusableChipSizeIsAFault) {
    for (uint32_t size : {0u, 128u, 3000u}) {
        sim::Settings s;
        s.chip_size = size;
        EXPECT_DEATH(sim::reset(s), "lptspi-sim: chip size " + std::to_string(size) +
                                        " is not a power of two of at least 256\n")
            << size;
    }
    sim::Settings s;
    s.flash = "m25p16";
    EXPECT_DEATH(sim::reset(s), "lptspi-sim: no flash family is called m25p16\n");
}

// Every setting docs/simulated-pc.md lists is known: only another LPTSPI_SIM_ name draws a warning.
TEST(BootDeathTest, WarnsOfUnknownSettingsOnly) {
    EXPECT_EXIT(
        {
            clearenv();
            for (const char* name :
                 {"LPTSPI_SIM_CHIP", "LPTSPI_SIM_PLATFORM", "LPTSPI_SIM_LPT", "LPTSPI_SIM_DRIVER",
                  "LPTSPI_SIM_SCM", "LPTSPI_SIM_ECP", "LPTSPI_SIM_STATUS", "LPTSPI_SIM_MISO",
                  "LPTSPI_SIM_SIZE", "LPTSPI_SIM_NOISE", "LPTSPI_SIM_STUCK", "LPTSPI_SIM_IOCTL",
                  "LPTSPI_SIM_ERASE_MS", "LPTSPI_SIM_PROGRAM_US", "LPTSPI_SIM_TRACE",
                  "LPTSPI_SIM_REALTIME", "LPTSPI_SIM_REPORT", "LPTSPI_SIM_FLASH",
                  "LPTSPI_SIM_POWER"}) {
                setenv(name, "", 1);
            }
            setenv("LPTSPI_SIM_CHIPS", "chip.bin", 1); // a known name is only its prefix
            sim::boot_from_environment();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0),
        "^lptspi-sim: warning: unknown setting LPTSPI_SIM_CHIPS ignored\n$");
}

} // namespace
