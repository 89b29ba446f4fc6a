// The LQ120 cooler: its set-up, the display cycle on the fake clock and
// fake events, the system-information feed and the screen-saver switches.
#include "devices/cooler.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "devices/device_layer.h"
#include "fakes/fake_service.h"

namespace vt::devices {
namespace {

using fakes::TwLink;
using platform::kInfinite;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using fakes::kVid;
constexpr uint16_t kLQ120 = 0x0155;

DisplayCycleRequest Cycle(uint32_t duration, std::vector<uint8_t> modes) {
    DisplayCycleRequest r{duration, {kNoMode, kNoMode, kNoMode, kNoMode, kNoMode}, 0};
    for (size_t i = 0; i < modes.size() && i < 5; ++i) {
        r.modes[i] = modes[i];
    }
    return r;
}

class CoolerTest : public fakes::DeviceLayerFixture {
  protected:
    CoolerTest() { EXPECT_TRUE(layer.WatchStop(fp.threads, *stop)); }

    // The cooler's state in the library, attached first if it is not.
    twsim::DeviceState& Lq120() {
        if (const auto device = TwLink().FindPath("hid#lq120")) {
            return device->state;
        }
        return TwLink().Attach({{"model", "LQ120"}, {"path", "hid#lq120"}})->state;
    }
    void Attach() {
        layer.HandleNotify(fakes::Notify("LQ120", "hid#lq120", 1));
        ASSERT_NE(layer.slots.lq120.load(), nullptr);
        TwLink().ClearLog();
    }
    // The cooler's calls only, without the factory prefix.
    std::vector<std::string> CoolerCalls() {
        std::vector<std::string> out;
        for (const auto& c : fakes::Calls()) {
            if (c.rfind("LQ120.", 0) == 0) {
                out.push_back(c.substr(6));
            }
        }
        return out;
    }
    // Runs `n` passes; returns, per pass, the mode applied or -1.
    std::vector<int> Passes(int n) {
        std::vector<int> applied;
        for (int i = 0; i < n; ++i) {
            TwLink().ClearLog();
            layer.cooler.CyclePass();
            const auto calls = CoolerCalls();
            if (calls.empty()) {
                applied.push_back(-1);
                continue;
            }
            // Both calls carry the same mode, the cycle mode first.
            EXPECT_EQ(calls.size(), 2u);
            const std::string mode = calls[0].substr(calls[0].find('(') + 1);
            EXPECT_EQ(calls[1], "SetDisplayMode(" + mode);
            applied.push_back(std::stoi(mode));
        }
        return applied;
    }

    // A pass that has nothing to do waits without a time limit; in these
    // tests the fake runs `change` then, in place of the thread (the pipe's,
    // the library's) that would have made it while the pass waited.
    void WhileWaiting(std::function<void()> change) { fp.threads.whileBlocked = std::move(change); }

    CoolerDisplay& cooler = layer.cooler;
};

TEST_F(CoolerTest, SetUpReadsOnlyTheSaverFlagFromThePresetRecord) {
    Lq120().saverEnabled = false;
    Lq120().displayMode = 3;
    cooler.SetCycleActive(true);
    layer.HandleNotify(fakes::Notify("LQ120", "hid#lq120", 1));
    EXPECT_EQ(cooler.screenSaveEnabled, 0);
    EXPECT_EQ(cooler.cycleActive(), 0);  // any mode but 11 stops the cycling

    // A library that leaves the record alone keeps the pre-set "on".
    Lq120().saverEnabled = std::nullopt;
    Attach();
    EXPECT_EQ(cooler.screenSaveEnabled, 1);
}

TEST_F(CoolerTest, FoundInMultiDisplayModeItStoresAnEmptyCycle) {
    Attach();
    cooler.SetDisplayCycle(Cycle(2, {4, 5}));

    Lq120().displayMode = kMultiDisplayMode;
    layer.HandleNotify(fakes::Notify("LQ120", "hid#lq120", 1));
    // The saver record is logged as the service pre-set it: reserved, the
    // flag, the two values.
    EXPECT_THAT(CoolerCalls(), ElementsAre("GetSaverSettings(0,1,100,100)", "GetDisplayMode",
                                           "SetMultiDisplay(5,255,255,255,255,255)"));
    EXPECT_EQ(cooler.cycleActive(), 1);
    const SavedCycle saved = cooler.Saved();
    EXPECT_EQ(saved.modeCount, 0);
    EXPECT_EQ(saved.request.duration, 5u);
    // Nothing is stepped until a cycle arrives over the pipe; its first mode
    // is shown on the very next pass, at the same instant.
    WhileWaiting([&] { cooler.SetDisplayCycle(Cycle(2, {4, 5})); });
    EXPECT_THAT(Passes(2), ElementsAre(-1, 4));
    EXPECT_THAT(fp.threads.waits(), ElementsAre(kInfinite, 1000u));
    EXPECT_EQ(fp.clock.TickCount64(), 1000u);
}

// That the object is obtained once and a record with no device goes nowhere
// is the panel's test, which shares the connection.
TEST_F(CoolerTest, SystemInformationFeedsTheAttachedCooler) {
    Attach();
    EXPECT_EQ(layer.lq120SystemInfo.load(), fakes::SystemInfoObject());
    SystemInfoRecord record{};
    record.cpuTemperature = 57;
    ASSERT_EQ(TwLink().systemInfoCallbacks.size(), 1u);
    TwLink().systemInfoCallbacks[0](record);
    const auto sent = TwLink().LogSince(0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["call"], "SendSystemInfo");
    EXPECT_EQ(sent[0]["model"], "LQ120");
    EXPECT_EQ(sent[0]["args"][0]["cpuTemperature"], 57);
}

TEST_F(CoolerTest, TwoModesStepEveryDurationSecondsFromTheStore) {
    Attach();
    cooler.SetCycleActive(true);
    cooler.SetDisplayCycle(Cycle(3, {1, 2}));
    EXPECT_THAT(Passes(12), ElementsAre(1, -1, -1, 2, -1, -1, 1, -1, -1, 2, -1, -1));
    EXPECT_THAT(fp.threads.waits(), ::testing::Each(1000u));
    EXPECT_EQ(fp.clock.TickCount64(), 12000u);
    EXPECT_THAT(fp.clock.sleeps(), IsEmpty());

    // Other changes while a step waits do not hurry the next one...
    TwLink().onCall = [&](const std::string&) {
        cooler.screenSaveEnabled = 1;
        cooler.SetCycleActive(true);
    };
    EXPECT_THAT(Passes(3), ElementsAre(1, -1, -1));
    EXPECT_EQ(fp.clock.TickCount64(), 15000u);
    // ...but a new cycle, stored while a step is shown, ends that second at
    // once and restarts from its first entry. Five modes: all a cycle holds.
    TwLink().onCall = [&](const std::string& call) {
        if (call == "LQ120.SetDisplayMode(2)") {
            cooler.SetDisplayCycle(Cycle(1, {7, 8, 9, 10, 6}));
        }
    };
    EXPECT_THAT(Passes(1), ElementsAre(2));
    EXPECT_EQ(fp.clock.TickCount64(), 15000u);
    TwLink().onCall = nullptr;
    EXPECT_THAT(Passes(6), ElementsAre(7, 8, 9, 10, 6, 7));
    EXPECT_EQ(fp.clock.TickCount64(), 21000u);
}

TEST_F(CoolerTest, ASingleModeIsAppliedOnceOnly) {
    Attach();
    cooler.SetCycleActive(true);
    cooler.SetDisplayCycle(Cycle(1, {3, kNoMode, 5}));
    EXPECT_EQ(cooler.Saved().modeCount, 1);
    // Then nothing is due, whatever happens, until the next cycle.
    int waits = 0;
    WhileWaiting([&] {
        if (++waits < 3) {
            cooler.SetCycleActive(waits == 2);
        } else {
            cooler.SetDisplayCycle(Cycle(1, {4}));
        }
    });
    EXPECT_THAT(Passes(5), ElementsAre(3, -1, -1, -1, 4));
    EXPECT_THAT(fp.threads.waits(), ElementsAre(1000u, kInfinite, kInfinite, kInfinite, 1000u));
}

TEST_F(CoolerTest, AnIdleCycleWaitsWithoutDeviceCallsForOneThatCanStep) {
    Attach();
    cooler.SetCycleActive(true);
    cooler.SetDisplayCycle(Cycle(0, {1, 2}));  // no duration
    // Each change the idle pass waits for, in turn: one without modes, one
    // to step but the cooler not in the multi-display mode, then switched
    // on (the pipe's updateData 11).
    int waits = 0;
    WhileWaiting([&] {
        switch (++waits) {
            case 1:
                cooler.SetDisplayCycle(Cycle(3, {}));
                break;
            case 2:
                cooler.SetCycleActive(false);
                cooler.SetDisplayCycle(Cycle(3, {1}));
                break;
            default:
                cooler.SetCycleActive(true);
        }
    });
    // Idle passes do not count: switched on, the cycle starts at its first.
    EXPECT_THAT(Passes(4), ElementsAre(-1, -1, -1, 1));
    EXPECT_THAT(fp.threads.waits(), ElementsAre(kInfinite, kInfinite, kInfinite, 1000u));
    EXPECT_EQ(fp.clock.TickCount64(), 1000u);
    EXPECT_THAT(fp.clock.sleeps(), IsEmpty());
}

// Where the wait cannot be made, the pass falls back to the poll it replaced.
TEST_F(CoolerTest, AFailingWaitPollsEveryHundredMillisecondsIdleAndASecondWithoutACooler) {
    fp.threads.failEventWaits = true;
    Attach();
    EXPECT_THAT(Passes(2), ElementsAre(-1, -1));
    layer.slots.lq120 = nullptr;
    EXPECT_THAT(Passes(1), ElementsAre(-1));
    EXPECT_THAT(fp.clock.sleeps(), ElementsAre(100u, 100u, 1000u));
}

TEST_F(CoolerTest, WithoutACoolerACycleIsDroppedAndTheWorkItemWaitsForOne) {
    cooler.SetCycleActive(true);
    cooler.SetDisplayCycle(Cycle(1, {1, 2}));
    EXPECT_EQ(cooler.Saved().modeCount, 0);
    Lq120().displayMode = kMultiDisplayMode;
    WhileWaiting([&] { layer.HandleNotify(fakes::Notify("LQ120", "hid#lq120", 1)); });
    cooler.CyclePass();
    EXPECT_EQ(fakes::Calls().back(), "RegisterSystemInfoCallback(true)");  // the arrival's, no step
    EXPECT_THAT(fp.threads.waits(), ElementsAre(kInfinite));
    EXPECT_EQ(fp.clock.TickCount64(), 0u);
}

TEST_F(CoolerTest, TheStopEndsEitherWaitAtOnce) {
    Attach();
    WhileWaiting([&] { stop->Set(); });
    EXPECT_THAT(Passes(1), ElementsAre(-1));
    cooler.SetCycleActive(true);
    cooler.SetDisplayCycle(Cycle(5, {1, 2}));
    EXPECT_THAT(Passes(2), ElementsAre(1, -1));
    EXPECT_THAT(fp.threads.waits(), ElementsAre(kInfinite));
    EXPECT_EQ(fp.clock.TickCount64(), 0u);
}

TEST_F(CoolerTest, TheCycleSurvivesRemovalAndAFailingCooler) {
    Attach();
    cooler.SetCycleActive(true);
    cooler.SetDisplayCycle(Cycle(1, {1, 2}));
    TwLink().throwOn = "SetCycleMode";
    EXPECT_NO_THROW(cooler.CyclePass());
    TwLink().throwOn.clear();
    layer.HandleNotify(fakes::Notify("LQ120", "hid#lq120", 0));
    ASSERT_EQ(layer.slots.lq120.load(), nullptr);
    WhileWaiting([&] { layer.HandleNotify(fakes::Notify("LQ120", "hid#lq120", 1)); });
    cooler.CyclePass();
    // Back, but not in the multi-display mode; the pipe's updateData 11
    // then resumes the saved cycle where it was.
    WhileWaiting([&] { cooler.SetCycleActive(true); });
    EXPECT_THAT(Passes(3), ElementsAre(-1, 2, 1));
}

TEST_F(CoolerTest, ScreenSaverSwitchesAThenBOnlyWithTheFlagAndACooler) {
    Attach();
    cooler.screenSaveEnabled = 1;
    cooler.SwitchForScreenSaver(0);
    cooler.SwitchForScreenSaver(1);
    EXPECT_THAT(CoolerCalls(), ElementsAre("SetSaverSwitchA(0)", "SetSaverSwitchB(0)",
                                           "SetSaverSwitchA(1)", "SetSaverSwitchB(1)"));
    TwLink().ClearLog();
    cooler.screenSaveEnabled = 0;
    cooler.SwitchForScreenSaver(1);
    cooler.screenSaveEnabled = 1;
    layer.slots.lq120 = nullptr;
    cooler.SwitchForScreenSaver(0);
    EXPECT_THAT(fakes::Calls(), IsEmpty());

    layer.slots.lq120 = fakes::Newest<LQ120Device>("hid#lq120");
    TwLink().throwOn = "SetSaverSwitchA";
    EXPECT_NO_THROW(cooler.SwitchForScreenSaver(0));
}

}  // namespace
}  // namespace vt::devices
