// The Linux events on eventfd: an auto-reset event ends one wait per Set
// (or run of Sets), a manual-reset one every wait, and a wait on two says
// which ended it. A work item that read a wake-up twice would miss changes;
// one that never cleared it would spin.
#include <gtest/gtest.h>

#include <thread>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

TEST(ThreadsPosix, AutoResetEndsOneWaitManualResetAllAndEitherSaysWhich) {
    PosixThreads threads;
    auto wake = threads.CreateAutoResetEvent();
    auto stop = threads.CreateManualResetEvent();
    ASSERT_TRUE(wake && stop);

    EXPECT_EQ(wake->Wait(0), kWaitTimeout);
    wake->Set();
    wake->Set();  // Sets with nobody waiting count as one
    EXPECT_EQ(wake->Wait(0), kWaitObject0);
    EXPECT_EQ(wake->Wait(0), kWaitTimeout);

    wake->Set();
    EXPECT_EQ(threads.WaitForEither(*stop, *wake, 0), kWaitObject0 + 1);
    EXPECT_EQ(threads.WaitForEither(*stop, *wake, 0), kWaitTimeout);

    // Set from another thread while the wait blocks.
    std::thread setter([&] { wake->Set(); });
    EXPECT_EQ(threads.WaitForEither(*stop, *wake, kInfinite), kWaitObject0 + 1);
    setter.join();

    // The stop stays set and comes first; the wake-up waits its turn.
    stop->Set();
    wake->Set();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(threads.WaitForEither(*stop, *wake, 0), kWaitObject0);
        EXPECT_EQ(stop->Wait(0), kWaitObject0);
    }
    EXPECT_EQ(wake->Wait(0), kWaitObject0);
}

}  // namespace
}  // namespace vt::platform::posix
