// The JSON device commands against the fake library's devices.
#include "pipe/device_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "fakes/fake_platform.h"

namespace vt::pipe {
namespace {

using devices::DeviceSlots;
using fakes::FakeDevice;
using fakes::FakePlatform;
using fakes::TwLink;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DeviceCommandsTest : public ::testing::Test {
  protected:
    ~DeviceCommandsTest() override { devices::DeviceLayer::SetActive(nullptr); }

    // The whole request as the pipe handles it.
    std::string Reply(const std::string& request) { return commands.Handle(request); }
    void AttachCooler() { layer.slots.lq120 = &lq120; }

    FakePlatform fp;
    devices::DeviceLayer layer{fp.eventLog, fp.console, fp.clock};
    DeviceCommands json{layer};
    ServiceState state;
    std::atomic<int32_t>& enabled = state.enabled;
    std::atomic<int32_t>& disabled = state.disabled;
    std::atomic<uint64_t>& heartbeat = state.lastHeartbeat;
    PipeCommands commands{state, layer, fp.clock, fp.eventLog, &json};
    devices::CoolerDisplay& cooler = layer.cooler;
    FakeDevice lq120{"lq120", "hid#lq120"};
    FakeDevice cs900{"cs900", "hid#cs900"};
};

std::string StatusEffect(const std::string& mod, const std::string& type) {
    return R"({"mod":")" + mod + R"(","func":"setSystemStatusEffect","param":{"type":)" + type +
           "}}";
}

TEST_F(DeviceCommandsTest, EveryKeyboardKeyReachesItsOwnSlotOnly) {
    using Fill = std::function<void(DeviceSlots&, FakeDevice*)>;
    const std::pair<const char*, Fill> keys[] = {
        {"kb505", [](DeviceSlots& s, FakeDevice* d) { s.kb505 = d; }},
        {"kb507", [](DeviceSlots& s, FakeDevice* d) { s.kb507 = d; }},
        {"kb403b", [](DeviceSlots& s, FakeDevice* d) { s.kb403b = d; }},
        {"kb403w", [](DeviceSlots& s, FakeDevice* d) { s.kb403w = d; }},
        {"kb401", [](DeviceSlots& s, FakeDevice* d) { s.kb401 = d; }},
        {"kb406", [](DeviceSlots& s, FakeDevice* d) { s.kb406 = d; }},
        {"kb405", [](DeviceSlots& s, FakeDevice* d) { s.kb405 = d; }},
        {"kb407", [](DeviceSlots& s, FakeDevice* d) { s.kb407 = d; }},
        {"kb303", [](DeviceSlots& s, FakeDevice* d) { s.kb303 = d; }},
        {"kb709", [](DeviceSlots& s, FakeDevice* d) { s.kb709 = d; }},
        {"kb711", [](DeviceSlots& s, FakeDevice* d) { s.kb711 = d; }},
        {"kb709_dongle", [](DeviceSlots& s, FakeDevice* d) { s.kb709Dongle = d; }},
    };
    std::vector<std::unique_ptr<FakeDevice>> owned;
    for (const auto& [key, fill] : keys) {
        owned.push_back(std::make_unique<FakeDevice>(key, "hid#" + std::string(key)));
        fill(layer.slots, owned.back().get());
    }
    for (const auto& [key, fill] : keys) {
        SCOPED_TRACE(key);
        TwLink().calls.clear();
        EXPECT_EQ(Reply(StatusEffect(key, "3")), "TW_OK");
        EXPECT_THAT(TwLink().calls, ElementsAre(std::string(key) + ".SetSystemStatusEffect(3,0)"));
    }
}

TEST_F(DeviceCommandsTest, KeyboardTypeConversionsAndAnAbsentKeyboard) {
    FakeDevice kb709("kb709", "hid#kb709");
    EXPECT_EQ(Reply(StatusEffect("kb709", "3")), "TW_OK");  // not attached: no call
    EXPECT_THAT(TwLink().calls, IsEmpty());

    layer.slots.kb709 = &kb709;
    EXPECT_EQ(Reply(StatusEffect("kb709", "3.9")), "TW_OK");
    EXPECT_EQ(Reply(StatusEffect("kb709", "true")), "TW_OK");
    EXPECT_EQ(Reply(StatusEffect("kb709", "-2")), "TW_OK");
    EXPECT_THAT(TwLink().calls,
                ElementsAre("kb709.SetSystemStatusEffect(3,0)", "kb709.SetSystemStatusEffect(1,0)",
                            "kb709.SetSystemStatusEffect(-2,0)"));
}

TEST_F(DeviceCommandsTest, RequestsThatMatchNoRowOrLackFieldsCallNothingAndFail) {
    FakeDevice kb709("kb709", "hid#kb709");
    layer.slots.kb709 = &kb709;
    AttachCooler();
    const char* requests[] = {
        R"({"mod":"lq120","func":"setSystemStatusEffect"})",
        R"({"mod":"KB709","func":"setSystemStatusEffect","param":{"type":3}})",
        R"({"mod":"kb709","func":"SetSystemStatusEffect","param":{"type":3}})",
        R"({"mod":"kb709","func":"updateData","param":{"mode":3}})",
        R"({"mod":"kb709","func":"setSystemStatusEffect","param":{"type":"3"}})",
        R"({"mod":"kb709","func":"setSystemStatusEffect","param":{}})",
        R"({"mod":"kb709","func":"setSystemStatusEffect","param":[3]})",
        R"({"mod":"kb709","func":"setSystemStatusEffect"})",
        R"({"mod":7,"func":"setSystemStatusEffect","param":{"type":3}})",
        R"({"func":"setSystemStatusEffect","param":{"type":3}})",
        R"({"mod":"hv230","func":"setSystemStatusEffect","param":{"type":3}})",
        R"({"mod":"lq120","func":"updateData","param":{"mode":null}})",
        R"({"mod":"lq120","func":"setScreenSave","param":{"bsave":1}})",
        R"({"mod":"lq120","func":"setMultiDisplayMode","param":{"duration":3,"modes":[1,2,3,4]}})",
        R"({"mod":"lq120","func":"setMultiDisplayMode","param":{"duration":3,"modes":[1,2,"x",4,5]}})",
        R"({"mod":"lq120","func":"setMultiDisplayMode","param":{"modes":[1,2,3,4,5]}})",
        R"({"mod":"cs900","func":"GetVersion","param":{"x":1}})",
    };
    for (const char* r : requests) {
        SCOPED_TRACE(r);
        EXPECT_EQ(Reply(r), "TW_FAIL");
    }
    EXPECT_THAT(TwLink().calls, IsEmpty());
    EXPECT_EQ(cooler.Saved().modeCount, 0);
}

TEST_F(DeviceCommandsTest, MultiDisplayModeStoresTheCycleWithEightBitModes) {
    const char* request =
        R"({"mod":"lq120","func":"setMultiDisplayMode","param":{"duration":2.7,"modes":[258,2,255,4,5]}})";
    // Without a cooler the request is not even read: a malformed one is fine.
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"setMultiDisplayMode"})"), "TW_OK");
    EXPECT_EQ(Reply(request), "TW_OK");
    EXPECT_EQ(cooler.Saved().modeCount, 0);

    AttachCooler();
    EXPECT_EQ(Reply(request), "TW_OK");
    const devices::SavedCycle saved = cooler.Saved();
    EXPECT_EQ(saved.request.duration, 2u);
    EXPECT_THAT(saved.request.modes, ElementsAre(2, 2, 255, 4, 5));
    EXPECT_EQ(saved.modeCount, 2);
    EXPECT_THAT(TwLink().calls, IsEmpty());  // stored only; the cycle work item shows it
}

TEST_F(DeviceCommandsTest, ScreenSaveFlagChangesOnlyWithACooler) {
    cooler.screenSaveEnabled = 1;
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"setScreenSave","param":{"bsave":false}})"), "TW_OK");
    EXPECT_EQ(cooler.screenSaveEnabled, 1);
    AttachCooler();
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"setScreenSave","param":{"bsave":false}})"), "TW_OK");
    EXPECT_EQ(cooler.screenSaveEnabled, 0);
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"setScreenSave","param":{"bsave":true}})"), "TW_OK");
    EXPECT_EQ(cooler.screenSaveEnabled, 1);
}

TEST_F(DeviceCommandsTest, UpdateDataSetsTheModeAndCyclesOnlyInModeEleven) {
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"updateData","param":{"mode":11}})"), "TW_OK");
    EXPECT_EQ(cooler.cycleActive(), 0);  // no cooler: no call, flag unchanged
    AttachCooler();
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"updateData","param":{"mode":11}})"), "TW_OK");
    EXPECT_EQ(cooler.cycleActive(), 1);
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"updateData","param":{"mode":3}})"), "TW_OK");
    EXPECT_EQ(cooler.cycleActive(), 0);
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"updateData","param":{"mode":267}})"), "TW_OK");
    EXPECT_EQ(cooler.cycleActive(), 0);
    EXPECT_THAT(TwLink().calls, ElementsAre("lq120.SetDisplayMode(11)", "lq120.SetDisplayMode(3)",
                                            "lq120.SetDisplayMode(11)"));
}

TEST_F(DeviceCommandsTest, CasePanelAnswersWithItsOwnText) {
    const char* request = R"({"mod":"cs900","func":"GetVersion","param":"all"})";
    EXPECT_EQ(Reply(request), "TW_FAIL");  // no case attached
    layer.slots.cs900 = &cs900;
    EXPECT_EQ(Reply(request), "TW_FAIL");  // the panel wrote nothing
    TwLink().hostReply = "1.0.0";
    EXPECT_EQ(Reply(request), "1.0.0");
    TwLink().hostReply = std::string(500, 'x');  // cut to the pipe's reply size
    EXPECT_EQ(Reply(request), std::string(DeviceCommands::kHostReplySize - 1, 'x'));
    TwLink().hostReply = "";  // an empty text is no reply: the request failed
    EXPECT_EQ(Reply(request), "TW_FAIL");
    EXPECT_THAT(TwLink().calls, ElementsAre("cs900.HandleHostCommand(GetVersion,all)",
                                            "cs900.HandleHostCommand(GetVersion,all)",
                                            "cs900.HandleHostCommand(GetVersion,all)",
                                            "cs900.HandleHostCommand(GetVersion,all)"));
}

TEST_F(DeviceCommandsTest, AFailingDeviceLeavesTheReplyFailed) {
    AttachCooler();
    TwLink().throwOn = "SetDisplayMode";
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"updateData","param":{"mode":11}})"), "TW_FAIL");
    EXPECT_EQ(Reply("hello"), "TW_OK");  // and the next request is served
}

}  // namespace
}  // namespace vt::pipe
