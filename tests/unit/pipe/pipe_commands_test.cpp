// The request handling: keyword table, JSON stage, control and status
// keywords. The temperature keywords' answers are the telemetry's test.
#include "pipe/pipe_commands.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "fakes/fake_service.h"

namespace vt::pipe {
namespace {

using fakes::TwLink;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records what reached it; throws when told to, as a malformed request
// makes the JSON commands do.
class RecordingJson final : public JsonCommands {
  public:
    void Dispatch(const Json& request, std::string& reply) override {
        seen.push_back(request.dump());
        if (throwOnDispatch) {
            reply = "half-done";
            if (throwNonStandard) {
                throw 42;
            }
            throw std::runtime_error("wrong type");
        }
        reply = kReplyOk;
    }
    std::vector<std::string> seen;
    bool throwOnDispatch = false;
    bool throwNonStandard = false;
};

class PipeCommandsTest : public fakes::PipeCommandsFixture {
  protected:
    PipeCommandsTest() : PipeCommandsFixture(&json) {}

    RecordingJson json;
};

TEST_F(PipeCommandsTest, KeywordsArePrefixesComparedByteForByte) {
    EXPECT_EQ(commands.Handle("enable"), "TW_OK");
    EXPECT_EQ(commands.Handle("enable!"), "TW_OK");
    EXPECT_EQ(commands.Handle("Enable"), "TW_FAIL");
    EXPECT_EQ(commands.Handle("enabl"), "TW_FAIL");
    EXPECT_EQ(commands.Handle(""), "TW_FAIL");
    EXPECT_EQ(commands.Handle(" hello"), "TW_FAIL");
    EXPECT_EQ(commands.Handle("temperature"), "0;0");  // served as "temp"
    EXPECT_EQ(commands.Handle("hello"), "TW_OK");
    EXPECT_EQ(commands.Handle("version"), "0.400000");
    EXPECT_THAT(Events(), ElementsAre(L"TWservice PipeWorkerThread enable",
                                      L"TWservice PipeWorkerThread enable",
                                      L"TWservice PipeWorkerThread receiver error command",
                                      L"TWservice PipeWorkerThread receiver error command",
                                      L"TWservice PipeWorkerThread receiver error command",
                                      L"TWservice PipeWorkerThread receiver error command",
                                      L"TWservice PipeWorkerThread hello",
                                      L"TWservice PipeWorkerThread get version"));
}

TEST_F(PipeCommandsTest, EnableDisableStatusAndHeartbeat) {
    // The OLED job waits for the switch: each switch wakes it.
    ASSERT_TRUE(layer.WatchStop(fp.threads, *stop));
    fp.threads.whileBlocked = [&] {
        ADD_FAILURE() << "the OLED job was not woken";
        stop->Set();
    };
    EXPECT_EQ(commands.Handle("status"), "off");
    fp.clock.Set(1000);
    EXPECT_EQ(commands.Handle("enable"), "TW_OK");
    layer.oledJobWait.WaitForWake(0);
    EXPECT_EQ(commands.Handle("status"), "on");
    EXPECT_EQ(state.lastHeartbeat, 0u);  // enable does not refresh it
    fp.clock.Set(5000);
    EXPECT_EQ(commands.Handle("disable"), "TW_OK");
    layer.oledJobWait.WaitForWake(0);
    EXPECT_EQ(commands.Handle("status"), "off");
    EXPECT_EQ(state.enabled, 0);
    EXPECT_EQ(state.disabled, 1);
    EXPECT_EQ(state.lastHeartbeat, 5000u);
    fp.clock.Set(1ull << 33);  // past 32 bits: the heartbeat keeps the whole time
    EXPECT_EQ(commands.Handle("heartbeat"), "TW_OK");
    EXPECT_EQ(state.lastHeartbeat, 1ull << 33);
    EXPECT_EQ(commands.Handle("enable"), "TW_OK");
    EXPECT_EQ(state.disabled, 0);
    EXPECT_THAT(
        Events(),
        ElementsAre(L"TWservice PipeWorkerThread get status", L"TWservice PipeWorkerThread enable",
                    L"TWservice PipeWorkerThread get status", L"TWservice PipeWorkerThread disable",
                    L"TWservice PipeWorkerThread get status",
                    L"TWservice PipeWorkerThread get heartbeat",
                    L"TWservice PipeWorkerThread enable"));
}

TEST_F(PipeCommandsTest, RX420ControlHandsTheMusicPulseOverAndBack) {
    // Without a mouse the keywords only acknowledge.
    EXPECT_EQ(commands.Handle("rx420_control_on"), "TW_OK");
    EXPECT_EQ(commands.Handle("rx420_control_off"), "TW_OK");
    EXPECT_THAT(fakes::Calls(), IsEmpty());
    EXPECT_THAT(Events(),
                ElementsAre(L"TWservice RX420 control on", L"TWservice RX420 control off"));

    twsim::DeviceState& mouse =
        TwLink().Attach({{"model", "RX420"}, {"path", "hid#rx420"}, {"effectMode", 216}})->state;
    layer.EnumerateAttached();
    TwLink().ClearLog();
    fp.eventLog.clear();
    EXPECT_EQ(commands.Handle("rx420_control_on"), "TW_OK");
    EXPECT_EQ(commands.Handle("rx420_control_off"), "TW_OK");
    EXPECT_THAT(fakes::Calls(),
                ElementsAre("RX420.GetEffectMode", "RX420.SetMusicPulse(1)", "RX420.GetEffectMode",
                            "RX420.SetMusicPulse(0)", "RX420.ControlOff"));
    EXPECT_THAT(Events(), ElementsAre(L"TWservice RX420 control on", L"RX420 music pulse start",
                                      L"TWservice RX420 control off"));

    mouse.effectMode = 3;
    TwLink().ClearLog();
    commands.Handle("rx420_control_on");
    commands.Handle("rx420_control_off");  // releases control in any mode
    EXPECT_THAT(fakes::Calls(),
                ElementsAre("RX420.GetEffectMode", "RX420.GetEffectMode", "RX420.ControlOff"));
}

TEST_F(PipeCommandsTest, OnlyObjectsReachTheJsonStageAndAlwaysEndAsUnrecognisedText) {
    EXPECT_EQ(commands.Handle(R"(  {"mod":"kb709","func":"x","param":{"type":3}} )"), "TW_OK");
    for (const char* notAnObject : {"[1,2]", "42", "\"enable\"", "true", "null",
                                    R"({"mod":"kb709")", R"({"a":1} x)", "{\"a\":\"\xff\"}"}) {
        EXPECT_EQ(commands.Handle(notAnObject), "TW_FAIL") << notAnObject;
    }
    EXPECT_EQ(json.seen.size(), 1u);
    EXPECT_EQ(Events().size(), 9u);
    for (const auto& e : Events()) {
        EXPECT_EQ(e, L"TWservice PipeWorkerThread receiver error command");
    }
    // Without JSON commands an object is no request either.
    PipeCommands noJson(state, layer, fp.clock, fp.eventLog, nullptr);
    EXPECT_EQ(noJson.Handle(R"({"mod":"kb709"})"), "TW_FAIL");
}

TEST_F(PipeCommandsTest, AMalformedJsonCommandIsAFailureNotACrash) {
    json.throwOnDispatch = true;
    EXPECT_EQ(commands.Handle(R"({"mod":1})"), "TW_FAIL");
    json.throwNonStandard = true;
    EXPECT_EQ(commands.Handle(R"({"mod":2})"), "TW_FAIL");
    json.throwOnDispatch = false;
    EXPECT_EQ(commands.Handle(R"({"mod":"kb709"})"), "TW_OK");
}

}  // namespace
}  // namespace vt::pipe
