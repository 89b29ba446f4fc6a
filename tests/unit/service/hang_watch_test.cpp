// A call into an outside library that does not return within the bound:
// one error entry naming it and its thread, the hook's dump and end; a call
// that returned, or one inside another, leaves nothing to see.
#include "service/hang_watch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/outside_calls.h"
#include "fakes/fake_platform.h"

namespace vt::service {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class HangWatchTest : public ::testing::Test {
  protected:
    HangWatchTest() {
        OutsideCalls::Process().SetClock(&fp.clock);
        OutsideCalls::NameThisThread("vt-test");
    }
    ~HangWatchTest() override { OutsideCalls::Process().SetClock(nullptr); }

    fakes::FakePlatform fp;
    HangWatch watch{fp.threads, fp.clock, fp.eventLog, fp.crashHook};
};

TEST_F(HangWatchTest, ACallStillInsideAfterTheBoundIsAHang) {
    {
        OutsideCall done("devInfo");
        fp.clock.Advance(HangWatch::kHangBoundMs + 1);
    }
    EXPECT_TRUE(watch.Pass());  // returned: nothing in progress
    EXPECT_EQ(watch.NextLookMs(), HangWatch::kLookMs);

    OutsideCall call("SetSystemStatusEffect");
    {
        OutsideCall inner("GetEffectMode");  // from a callback: part of the outer call
    }
    fp.clock.Advance(HangWatch::kHangBoundMs - 2000);
    EXPECT_EQ(watch.NextLookMs(), 2001u);  // the next look falls just past the bound
    fp.clock.Advance(2000);
    EXPECT_TRUE(watch.Pass());
    EXPECT_THAT(fp.crashHook.hung, IsEmpty());
    fp.clock.Advance(1);
    EXPECT_FALSE(watch.Pass());
    EXPECT_THAT(fp.crashHook.hung, ElementsAre("SetSystemStatusEffect on vt-test"));
    EXPECT_THAT(fp.eventLog.messages(),
                ElementsAre(L"TWservice hang in SetSystemStatusEffect on vt-test"));
    EXPECT_EQ(fp.eventLog.records().back().type, platform::EventType::Error);
}

}  // namespace
}  // namespace vt::service
