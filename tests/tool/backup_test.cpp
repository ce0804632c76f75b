// The backup run in-process on the simulated PC, with chips whose identification no 25-series
// size matches: the capacity code is reported and 1 MiB is read, then the next 1 MiB once more, and
// saved only when the chip repeats itself beyond it.
#include "backup.h"
#include "board.h"
#include "../support/process.h"
#include "../support/runs.h"
#include "sim/pc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <string>
#include <vector>

namespace {

TEST(Backup, UnknownCapacityCodeIsReportedAndOneMebibyteRead) {
    std::string dir = make_temp_dir();
    std::string out = dir + "/backup.bin";
    const struct {
        uint32_t size;
        const char* code;
        int saved; // or -1: nothing written
        const char* end;
    } cases[] = {
        // 2 KiB: below 25-series sizes; its contents repeat every 8 pages of the 1 MiB read.
        {2048, "0b", 4088,
         "both reads agree\nwarning: the flash holds data beyond page 4094 (first in page 4095), "
         "which lptspi cannot write back: it is not in the backup\n"},
        // 32 MiB, more than 24-bit addresses reach: the first 1 MiB is not all there is, as page 7
        // does not come round again 1 MiB further on.
        {1u << 25, "19", -1,
         "!!! the flash does not repeat its first 1024 KiB at 0x100700: it is larger than its "
         "identification says, "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        std::remove(out.c_str());
        sim::Settings settings;
        settings.chip_size = c.size;
        sim::reset(settings);
        std::string page(256, '\0');
        for (int i = 0; i < 256; i++)
            page[i] = static_cast<char>(i ^ 0x5A);
        std::vector<uint8_t> contents(2048, 0xFF);
        std::copy(page.begin(), page.end(), contents.begin() + 7 * 256); // page 7
        sim::set_chip_contents(contents);

        testing::internal::CaptureStdout();
        int status = backup_flash(out.c_str(), 1);
        std::string shown;
        std::string printed = without_progress(testing::internal::GetCapturedStdout(), &shown);
        // Both reads of 1 MiB, then the next 1 MiB once.
        const std::string tenths = " 10 20 30 40 50 60 70 80 90 100\n";
        EXPECT_EQ(shown, "reading 1" + tenths + "reading 2" + tenths + "reading 3" + tenths);
        const size_t read_end = printed.find("there\n") + std::strlen("there\n");
        EXPECT_EQ(printed.substr(0, printed.find("reading ")),
                  OPENING + IDLE + "flash id 20 20 " + c.code + ", capacity code 0x" + c.code +
                      " unknown, not in lptspi's table of flash chips: assuming 1024 KiB\n");
        const std::string reading = "reading 4096 pages twice, and the 4096 after them once: a "
                                    "chip of that size repeats its start there\n";
        EXPECT_EQ(printed.substr(printed.find("reading "), reading.size()), reading);
        if (c.saved < 0) {
            EXPECT_EQ(printed.substr(read_end),
                      std::string(c.end) + out +
                          " not written \nFAIL: the flash is larger than its "
                          "identification says: " +
                          out + " not written\n");
            EXPECT_EQ(status, 2);
            EXPECT_EQ(folder_entries(dir), std::vector<std::string>{});
            continue;
        }
        const std::string said = printed.substr(read_end);
        EXPECT_EQ(said.substr(0, said.find(" pages saved")),
                  std::string(c.end) + std::to_string(c.saved));
        EXPECT_EQ(said.substr(said.find("FAIL: ")),
                  "FAIL: saved to " + out +
                      " without the data past page 4094, which lptspi cannot write back\n");
        EXPECT_EQ(status, 4); // page 4095 holds data the backup leaves out

        // What the reads saw: the chip, repeated every `size` bytes within the 1 MiB read.
        std::string raw;
        for (int n = 0; n < c.saved; n++) {
            bool in_use = n % 8 == 7 && (c.size == 2048 || n == 7);
            raw += in_use ? page : std::string(256, '\xFF');
        }
        EXPECT_TRUE(read_file(out) == scramble(raw));
    }
}

} // namespace

namespace {

// A 4 MiB chip whose identification says 512 KiB, and whose next 512 KiB repeat the first as a
// chip of that size would: only the probes beyond 1 MiB can tell it is larger. Each row's data
// is seen by one probe alone: the page at the same offset as the first page in use, and the top
// page of a power-of-two block.
TEST(Backup, ProbesBeyondTheRepeatFindALargerChip) {
    std::string dir = make_temp_dir();
    std::string out = dir + "/backup.bin";
    const struct {
        uint32_t address; // of the page that differs from what the wrap would show
        const char* seen;
    } cases[] = {{0x100700, "0x100700"}, {0x1FFF00, "0x1fff00"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seen);
        sim::Settings settings;
        settings.chip_size = 4u << 20;
        settings.jedec_id = 0x202013;
        sim::reset(settings);
        std::vector<uint8_t> contents(c.address + 256, 0xFF);
        for (uint32_t at : {0x700u, 0x80700u})
            for (int i = 0; i < 256; i++)
                contents[at + i] = static_cast<uint8_t>(i * 7);
        for (int i = 0; i < 256; i++)
            contents[c.address + i] = static_cast<uint8_t>(i ^ 0xA5);
        sim::set_chip_contents(contents);

        testing::internal::CaptureStdout();
        int status = backup_flash(out.c_str(), 1);
        std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_NE(printed.find(std::string("!!! the flash does not repeat its first 512 KiB at ") +
                               c.seen + ": it is larger than its identification says, " + out +
                               " not written \n"),
                  std::string::npos)
            << printed.substr(printed.size() > 300 ? printed.size() - 300 : 0);
        EXPECT_EQ(status, 2);
        EXPECT_EQ(folder_entries(dir), std::vector<std::string>{});
    }
}

} // namespace
