// Status register 2 of the W25Q families: how each generation's write status treats it, the
// complement protection it adds, its lock-down, and how it stays with the chip file.
#include "bitbang.h"
#include "../support/process.h"

#include <gtest/gtest.h>

using simtest::boot;
using simtest::Spi;
using simtest::V;

namespace {

const uint8_t SRP1 = 0x01, QE = 0x02, LB1 = 0x08, CMP = 0x40;

void boot_w25q(const char* name, uint8_t status, uint8_t status2, uint32_t erase_ms = 1) {
    boot([&](sim::Settings& s) {
        sim::set_flash(s, name);
        s.status = status;
        s.status2 = status2;
        s.status2_given = true;
        s.erase_ms = erase_ms; // short erases: the test waits for each
    });
}

uint8_t status2(Spi& spi) {
    return spi.frame({0x35, 0x00})[1];
}

// Each write form on each generation, from status 0x1C with QE and CMP set (0x42): what status
// registers 1 and 2 read once the write's cycle is over. The W25Q80DV's one-byte write clears CMP
// and QE; the W25Q128FV's leaves status register 2 alone and also takes 0x31.
TEST(Status2, EachWriteFormOnEachGeneration) {
    struct Row {
        const char* name;
        V frame;
        uint8_t sr1, sr2;
    };
    for (const Row& r : {
             Row{"w25q80", {0x01, 0x00, QE}, 0x00, QE},
             Row{"w25q80", {0x01, 0x00}, 0x00, 0x00},       // CMP and QE cleared
             Row{"w25q80", {0x01, 0x00, 0xFF}, 0x00, 0x7B}, // SUS and bit 2 read-only
             Row{"w25q80", {0x31, 0x00}, 0x1E, QE | CMP},   // no 0x31: the latch stays
             Row{"w25q128", {0x01, 0x00, QE}, 0x00, QE},
             Row{"w25q128", {0x01, 0x00}, 0x00, QE | CMP},     // status register 2 untouched
             Row{"w25q128", {0x31, QE}, 0x1C, QE},             // status register 1 untouched
             Row{"w25q128", {0x01, 0x04, QE, 0x55}, 0x04, QE}, // bytes beyond the second ignored
         }) {
        SCOPED_TRACE(testing::Message()
                     << r.name << " " << r.frame.size() << " " << int(r.frame[0]));
        boot_w25q(r.name, 0x1C, QE | CMP);
        Spi spi;
        EXPECT_EQ(status2(spi), QE | CMP);
        spi.write_enable();
        spi.frame(r.frame);
        spi.wait_ready();
        EXPECT_EQ(spi.read_status(), r.sr1);
        EXPECT_EQ(status2(spi), r.sr2);
    }
    // A family without status register 2 does not answer 0x35.
    boot([](sim::Settings& s) { sim::set_flash(s, "gd25q80"); });
    Spi spi;
    EXPECT_EQ(status2(spi), 0xFF);
}

// CMP set turns the block protection over: BP0-BP2 clear protect the whole array (programs
// too), all set none; between, erases are refused as with any block protection.
TEST(Status2, ComplementProtection) {
    struct Row {
        uint8_t sr1, sr2;
        bool program, erase; // whether each gets through
    };
    for (const char* name : {"w25q80", "w25q128"}) {
        for (const Row& r : {Row{0x00, 0x00, true, true}, Row{0x00, CMP, false, false},
                             Row{0x1C, CMP, true, true}, Row{0x04, CMP, true, false},
                             Row{0x04, 0x00, true, false}, Row{0x60, CMP, false, false}}) {
            SCOPED_TRACE(testing::Message() << name << " " << int(r.sr1) << " " << int(r.sr2));
            boot_w25q(name, r.sr1, r.sr2);
            sim::set_chip_contents(V(0x20000, 0x00));
            Spi spi;
            spi.write_enable();
            spi.frame({0x20, 0x01, 0x00, 0x00}); // 4 KiB at 0x10000
            spi.wait_ready();
            spi.write_enable();
            spi.frame({0xC7});
            spi.wait_ready();
            EXPECT_EQ(sim::chip_contents()[0x10000], r.erase ? 0xFF : 0x00);
            EXPECT_EQ(sim::chip_contents()[0x00000], r.erase ? 0xFF : 0x00); // the bulk erase
            sim::set_chip_contents(V(1, 0xFF));
            spi.write_enable();
            spi.program(0, {0x5A});
            spi.wait_ready();
            EXPECT_EQ(sim::chip_contents()[0], r.program ? 0x5A : 0xFF);
        }
    }
}

// SRP1 locks the status registers against every write, whatever the write-protect pin; the
// lock bits, once set, no write clears.
TEST(Status2, LockDownAndLockBits) {
    for (const char* name : {"w25q80", "w25q128"}) {
        SCOPED_TRACE(name);
        for (const V& frame : {V{0x01, 0x00, 0x00}, V{0x01, 0x00}, V{0x31, 0x00}}) {
            boot_w25q(name, 0x1C, SRP1 | QE);
            Spi spi;
            spi.write_enable();
            spi.frame(frame);
            EXPECT_EQ(spi.read_status(), 0x1E) << frame.size(); // refused, the latch kept
            EXPECT_EQ(status2(spi), SRP1 | QE);
        }
        boot_w25q(name, 0x00, LB1 | QE);
        Spi spi;
        spi.write_enable();
        spi.frame({0x01, 0x00, 0x00});
        spi.wait_ready();
        EXPECT_EQ(status2(spi), LB1);
    }
}

class Status2File : public ::testing::Test {
  protected:
    void TearDown() override { boot(); }
    void boot_file(bool cycle) {
        boot([&](sim::Settings& s) {
            sim::set_flash(s, "w25q80");
            s.chip_path = path;
            s.power_cycle = cycle;
        });
    }
    const std::string dir = make_temp_dir();
    const std::string path = dir + "/chip.bin";
};

// Status register 2 is saved beside the chip file and is non-volatile; a power cycle ends the
// power-supply lock-down (SRP1 without SRP0) but not the one-time program (SRP1 with SRP0).
TEST_F(Status2File, StaysWithTheChipAndThePowerEndsOnlyTheLockDown) {
    Spi spi;
    boot_file(false);
    spi.write_enable();
    spi.frame({0x01, 0x00, SRP1 | QE});
    spi.wait_ready();
    sim::shutdown();
    EXPECT_EQ(read_file(path + ".status"), "00\nflash w25q80\nstatus2 03\n");
    boot_file(false);
    EXPECT_EQ(status2(spi), SRP1 | QE);
    boot_file(true);
    EXPECT_EQ(status2(spi), QE);
    spi.write_enable();
    spi.frame({0x01, 0x80, SRP1 | QE}); // SRP0 and SRP1: locked for good
    spi.wait_ready();
    sim::shutdown();
    boot_file(true);
    EXPECT_EQ(spi.read_status(), 0x80);
    EXPECT_EQ(status2(spi), SRP1 | QE);
    // The setting, when given, is the chip's as the run starts, whatever the file says.
    boot([&](sim::Settings& s) {
        sim::set_flash(s, "w25q80");
        s.chip_path = path;
        s.status2 = QE;
        s.status2_given = true;
    });
    EXPECT_EQ(status2(spi), QE);
    spi.write_enable();
    spi.frame({0x01, 0x00, 0x00});
    spi.wait_ready();
    sim::shutdown(); // back at the power-up state: no file
    EXPECT_EQ(folder_entries(dir), std::vector<std::string>{"chip.bin"});
}

} // namespace
