// The runs as parts, in-process on the simulated PC: the port claimed once for the process, then
// one board after another, each with its own chip contents, written by the fast run's procedure.
#include "board.h"
#include "fast.h"
#include "verdict.h"
#include "../../flash/commands.h"
#include "../support/runs.h"
#include "sim/pc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(Runs, PortClaimedOnceForTwoBoardsInARow) {
    sim::reset(sim::Settings{});
    std::string raw = pattern(5 * 256, 8);
    std::string bytes = programmed(raw);
    Image image{reinterpret_cast<unsigned char*>(bytes.data()), 5, static_cast<int>(raw.size()),
                "image.bin", {}};
    std::string said[2];
    int status[2];
    int handles[2];
    FlashSession s;
    testing::internal::CaptureStdout();
    ASSERT_EQ(claim_port(1, LINK_FAST, &s), 1);
    const std::string claimed = testing::internal::GetCapturedStdout();
    for (int board = 0; board < 2; board++) {
        // A board of its own: old contents that differ from the other's.
        const std::string old = pattern(64 * 1024, 20 + board);
        sim::set_chip_contents(std::vector<uint8_t>(old.begin(), old.end()));
        testing::internal::CaptureStdout();
        verdict_start();
        Job job = {};
        job.image = &image;
        job.port = 1;
        BoardDone done;
        status[board] = write_and_judge(&s, &job, board_begin(&s, STATUS_BUSY), &done);
        said[board] = without_progress(testing::internal::GetCapturedStdout());
        if (board == 0)
            said[board] = claimed + said[board];
        handles[board] = sim::open_handles();
        const std::vector<uint8_t> chip = sim::chip_contents();
        EXPECT_TRUE(std::string(chip.begin(), chip.begin() + 5 * 256) == bytes) << board;
        EXPECT_TRUE(std::all_of(chip.begin() + 5 * 256, chip.begin() + 64 * 1024,
                                [](uint8_t b) { return b == 0xFF; }));
    }
    EXPECT_EQ(status[0], 0);
    EXPECT_EQ(status[1], 0);
    // The first board opens the port; the second begins at its idle status, on the same claim.
    EXPECT_EQ(said[0].substr(0, OPENING.size()), OPENING);
    const std::string second = IDLE + "flash M25P80 (20 20 14), 1024 KiB\n";
    EXPECT_EQ(said[1].substr(0, second.size()), second);
    const std::vector<std::string> calls = sim::kernel_calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "CreateFileA LPT1 c0000000 0 3 0 ok"), 1);
    EXPECT_EQ(handles[1], handles[0]) << "a handle opened again for the second board";
}

} // namespace
