// The fast run's waits in-process on the simulated PC, on a cable that flips one data-in read in
// a thousand: a flipped busy bit must not end a wait while the flash is still busy.
#include "board.h"
#include "../../flash/wait.h"
#include "../../flash/commands.h"
#include "sim/pc.h"

#include <gtest/gtest.h>

namespace {

TEST(Waits, OneFlippedBitDoesNotEndAnEraseWait) {
    for (uint64_t seed : {1, 2, 3, 4}) {
        SCOPED_TRACE(seed);
        sim::Settings settings;
        settings.noise_rate = 0.001;
        settings.noise_seed = seed;
        sim::reset(settings);
        testing::internal::CaptureStdout();
        FlashSession s;
        const int claimed = claim_idle_flash(1, LINK_FAST, &s, STATUS_BUSY);
        mc_erase_bulk(&s);
        int status = 0;
        const int outcome = wait_ready(&s, 60, STATUS_READINGS, &status);
        testing::internal::GetCapturedStdout();
        ASSERT_GE(claimed, 0);
        EXPECT_EQ(outcome, WAIT_READY);
        EXPECT_EQ(sim::chip_status() & 0x01, 0) << "the wait ended with the erase still running";
        release_flash(&s);
    }
}

} // namespace
