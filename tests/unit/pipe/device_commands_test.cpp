// The JSON device commands against the fake library's devices.
#include "pipe/device_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "devices/model_table.h"
#include "fakes/fake_service.h"

namespace vt::pipe {
namespace {

using devices::DeviceSlots;
using fakes::TwLink;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class DeviceCommandsTest : public fakes::PipeCommandsFixture {
  protected:
    // (`json` is made after the commands, which only keep its address.)
    DeviceCommandsTest() : PipeCommandsFixture(&json, false) {}

    // The whole request as the pipe handles it.
    std::string Reply(const std::string& request) { return commands.Handle(request); }
    void AttachCooler() {
        layer.slots.lq120 = fakes::Open<devices::LQ120Device>("LQ120", "hid#lq120");
    }

    DeviceCommands json{layer};
    devices::CoolerDisplay& cooler = layer.cooler;
};

std::string StatusEffect(const std::string& mod, const std::string& type) {
    return R"({"mod":")" + mod + R"(","func":"setSystemStatusEffect","param":{"type":)" + type +
           "}}";
}

// Puts an open object in a model's slot, for every row of the model table.
#define VT_FILL_SLOT(slot, Interface, ...) \
    {devices::Model::slot,                 \
     [](DeviceSlots& s, twsim::SimObject* o) { s.slot = dynamic_cast<devices::Interface*>(o); }},
const std::map<devices::Model, void (*)(DeviceSlots&, twsim::SimObject*)> kFillSlot = {
    VT_DRIVEN_MODELS(VT_FILL_SLOT)};
#undef VT_FILL_SLOT

TEST_F(DeviceCommandsTest, EveryKeyboardKeyReachesItsOwnSlotOnly) {
    // Every model with a "mod" name at its own path, its object in its own slot.
    std::vector<const devices::ModelRow*> keyboards;
    for (const devices::ModelRow& row : devices::kModelRows) {
        if (!row.facts.pipeName.empty()) {
            const std::string model(row.facts.name), key(row.facts.pipeName);
            kFillSlot.at(row.model)(layer.slots, fakes::OpenObject(model, "hid#" + key));
            keyboards.push_back(&row);
        }
    }
    ASSERT_GE(keyboards.size(), 12u);
    for (const devices::ModelRow* row : keyboards) {
        SCOPED_TRACE(std::string(row->facts.name));
        TwLink().ClearLog();
        EXPECT_EQ(Reply(StatusEffect(std::string(row->facts.pipeName), "3")), "TW_OK");
        EXPECT_THAT(fakes::Calls(),
                    ElementsAre(std::string(row->facts.name) + ".SetSystemStatusEffect(3,0)"));
    }
}

TEST_F(DeviceCommandsTest, TheTypeIsSignedAndAnAbsentKeyboardIsNotCalled) {
    devices::KeyboardDeviceV2* kb709 = fakes::Open<devices::KeyboardDeviceV2>("KB709", "hid#kb709");
    TwLink().ClearLog();
    EXPECT_EQ(Reply(StatusEffect("kb709", "3")), "TW_OK");  // not attached: no call
    EXPECT_THAT(fakes::Calls(), IsEmpty());

    layer.slots.kb709 = kb709;
    // Read as a signed number; how each JSON type converts is json_read's test.
    EXPECT_EQ(Reply(StatusEffect("kb709", "-2")), "TW_OK");
    EXPECT_THAT(fakes::Calls(), ElementsAre("KB709.SetSystemStatusEffect(-2,0)"));
}

TEST_F(DeviceCommandsTest, RequestsThatMatchNoRowOrLackFieldsCallNothingAndFail) {
    layer.slots.kb709 = fakes::Open<devices::KeyboardDeviceV2>("KB709", "hid#kb709");
    AttachCooler();
    TwLink().ClearLog();
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
    EXPECT_THAT(fakes::Calls(), IsEmpty());
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
    TwLink().ClearLog();
    EXPECT_EQ(Reply(request), "TW_OK");
    const devices::SavedCycle saved = cooler.Saved();
    EXPECT_EQ(saved.request.duration, 2u);
    EXPECT_THAT(saved.request.modes, ElementsAre(2, 2, 255, 4, 5));
    EXPECT_EQ(saved.modeCount, 2);
    EXPECT_THAT(fakes::Calls(), IsEmpty());  // stored only; the cycle work item shows it
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
    TwLink().ClearLog();
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"updateData","param":{"mode":11}})"), "TW_OK");
    EXPECT_EQ(cooler.cycleActive(), 1);
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"updateData","param":{"mode":3}})"), "TW_OK");
    EXPECT_EQ(cooler.cycleActive(), 0);
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"updateData","param":{"mode":267}})"), "TW_OK");
    EXPECT_EQ(cooler.cycleActive(), 0);
    EXPECT_THAT(fakes::Calls(), ElementsAre("LQ120.SetDisplayMode(11)", "LQ120.SetDisplayMode(3)",
                                            "LQ120.SetDisplayMode(11)"));
}

TEST_F(DeviceCommandsTest, CasePanelAnswersWithItsOwnText) {
    const char* request = R"({"mod":"cs900","func":"GetVersion","param":"all"})";
    EXPECT_EQ(Reply(request), "TW_FAIL");  // no case attached
    layer.slots.cs900 = fakes::Open<devices::CS900Device>("CS900", "hid#cs900");
    auto& replies = TwLink().FindPath("hid#cs900")->state.hostReplies;
    TwLink().ClearLog();
    EXPECT_EQ(Reply(request), "TW_FAIL");  // the panel wrote nothing
    replies["GetVersion"] = "1.0.0";
    EXPECT_EQ(Reply(request), "1.0.0");
    replies["GetVersion"] = std::string(500, 'x');  // cut to the pipe's reply size
    EXPECT_EQ(Reply(request), std::string(DeviceCommands::kHostReplySize - 1, 'x'));
    replies["GetVersion"] = "";  // an empty text is no reply: the request failed
    EXPECT_EQ(Reply(request), "TW_FAIL");
    const std::string call = "CS900.HandleHostCommand(GetVersion,all," +
                             std::to_string(DeviceCommands::kHostReplySize) + ")";
    EXPECT_THAT(fakes::Calls(), ElementsAre(call, call, call, call));
}

TEST_F(DeviceCommandsTest, AFailingDeviceLeavesTheReplyFailed) {
    AttachCooler();
    TwLink().throwOn = "SetDisplayMode";
    EXPECT_EQ(Reply(R"({"mod":"lq120","func":"updateData","param":{"mode":11}})"), "TW_FAIL");
    EXPECT_EQ(Reply("hello"), "TW_OK");  // and the next request is served
}

}  // namespace
}  // namespace vt::pipe
