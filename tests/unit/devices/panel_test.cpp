// The CS900 set-up and PanelThread, on the fake library, the fake clock and
// a thread the test runs itself.
#include "devices/panel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devices/device_layer.h"
#include "fakes/fake_service.h"

namespace vt::devices {
namespace {

using fakes::TwLink;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using fakes::kVid;
constexpr uint16_t kCS900 = 0x01C1;
constexpr char kIni[] = "/data/localdevice.ini";

class PanelTest : public fakes::DeviceLayerFixture {
  protected:
    PanelTest() {
        fp.folders.dataFolder = "/data";
        layer.AttachPanel({fp.threads, fp.folders, fp.icmp});
    }
    // Plugs the case in; returns its state, which every object opened for
    // it answers from.
    twsim::DeviceState* Plug() {
        layer.HandleNotify(fakes::Notify("CS900", "cs900-path", 1));
        const auto device = TwLink().FindPath("cs900-path");
        return device ? &device->state : nullptr;
    }
    void Unplug() { layer.HandleNotify(fakes::Notify("CS900", "cs900-path", 0)); }
    CS900Panel& panel() { return *layer.cs900Panel(); }
    // Calls that are `call` or, ending in '(', start with it.
    int Count(const std::string& call) {
        int n = 0;
        for (const auto& c : fakes::Calls()) {
            n += call.back() == '(' ? c.rfind(call, 0) == 0 : c == call;
        }
        return n;
    }
    int Sends() { return Count("CS900.SendPanelData("); }
    // The calls one pass makes on the panel.
    std::vector<std::string> PassCalls() {
        TwLink().ClearLog();
        PanelThread thread(panel());
        EXPECT_TRUE(thread.Pass());
        return fakes::Calls();
    }
};

TEST_F(PanelTest, CreationSetsUpOnceAndServesLaterObjectsWithTheSameThread) {
    twsim::DeviceState* first = Plug();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(fp.console.text(), L"app path : /data/localdevice.ini\n");
    EXPECT_EQ(Count("sysInfo"), 1);
    EXPECT_EQ(TwLink().systemInfoCallbacks.size(), 1u);
    EXPECT_EQ(fp.threads.startedCount(), 1u);
    EXPECT_EQ(panel().panelThreadRunning.load(), 1);
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(L"CreateCS900"));

    // A second object while the thread runs: path built again, nothing else.
    Plug();
    EXPECT_EQ(Count("sysInfo"), 1);
    EXPECT_EQ(fp.threads.startedCount(), 1u);
    EXPECT_EQ(fp.console.text(),
              L"app path : /data/localdevice.ini\napp path : /data/localdevice.ini\n");
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(L"CreateCS900", L"CreateCS900"));
}

TEST_F(PanelTest, SystemInformationReachesTheCurrentPanelUnchanged) {
    Plug();
    Plug();
    SystemInfoRecord record{};
    for (size_t i = 0; i < sizeof record; ++i) {
        reinterpret_cast<uint8_t*>(&record)[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    TwLink().ClearLog();
    TwLink().systemInfoCallbacks.at(0)(record);
    const auto sent = TwLink().LogSince(0);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0]["call"], "SendSystemInfo");
    EXPECT_EQ(sent[0]["args"][0], twsim::SystemInfoToJson(record));
    // With the case gone the feed goes nowhere.
    Unplug();
    TwLink().ClearLog();
    TwLink().systemInfoCallbacks.at(0)(record);
    EXPECT_THAT(fakes::Calls(), IsEmpty());
}

TEST_F(PanelTest, UnknownFolderKeepsThePathAndALibraryWithoutSourceIsAskedAgain) {
    fp.folders.sharedDataFolderFails = true;
    TwLink().noSystemInfo = true;
    twsim::DeviceState* device = Plug();
    EXPECT_EQ(panel().localDeviceIniPath(), "");
    EXPECT_EQ(fp.console.text(), L"");
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(L"CreateCS900"));

    // Mode 7 without a source sends 0; the ini is read from the empty path.
    device->panelMode = 7;
    device->panelCycle.count = 0;
    EXPECT_THAT(PassCalls(), ElementsAre("CS900.GetPanelMode", "CS900.SendPanelData(0,0,0)"));

    TwLink().noSystemInfo = false;
    fp.folders.sharedDataFolderFails = false;
    Plug();
    EXPECT_EQ(Count("sysInfo"), 1);  // calls were cleared by the pass
    EXPECT_EQ(panel().localDeviceIniPath(), "/data/localdevice.ini");
}

TEST_F(PanelTest, EachModeGetsWhatItNeedsInOneSend) {
    twsim::DeviceState* device = Plug();
    fp.folders.files[kIni] = "[CS900_MODE_19]\r\nvalue=-12\r\n";
    TwLink().systemValue = 77;
    device->pingTarget = 1;
    fp.icmp.onSend = [this](const fakes::FakeIcmp::Sent& request) {
        // A 20-byte IP header, then the echo with type 0.
        std::vector<uint8_t> reply(20 + 44, 0);
        reply[0] = 0x45;
        std::copy_n(request.bytes.begin(), std::min<size_t>(request.bytes.size(), 44),
                    reply.begin() + 20);
        reply[20] = 0;
        fp.icmp.incoming.push_back({33, reply});
    };
    struct Case {
        uint8_t mode;
        uint8_t count;
        std::vector<uint8_t> modes;
        const char* sent;  // null: nothing sent
    };
    const Case cases[] = {
        {3, 0, {0, 0, 0, 0, 0}, nullptr},
        {19, 0, {0, 0, 0, 0, 0}, "SendPanelData(-12,0,0)"},
        {7, 0, {0, 0, 0, 0, 0}, "SendPanelData(0,0,77)"},
        {14, 0, {0, 0, 0, 0, 0}, "SendPanelData(0,33,0)"},
        {20, 2, {19, 7, 0, 0, 0}, "SendPanelData(-12,0,77)"},
        {20, 5, {3, 4, 5, 6, 14}, "SendPanelData(0,33,0)"},
        {20, 0, {19, 7, 14, 0, 0}, nullptr},  // an empty cycle's entries are not read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " count " << int(c.count));
        device->panelMode = c.mode;
        device->panelCycle.count = c.count;
        std::memcpy(device->panelCycle.modes, c.modes.data(), 5);
        const auto calls = PassCalls();
        std::vector<std::string> sends;
        for (const auto& call : calls) {
            if (call.rfind("CS900.SendPanelData", 0) == 0) {
                sends.push_back(call.substr(6));
            }
        }
        if (c.sent == nullptr) {
            EXPECT_THAT(sends, IsEmpty());
        } else {
            EXPECT_THAT(sends, ElementsAre(c.sent));
        }
        if (c.mode == 20) {
            EXPECT_EQ(calls.at(1), "CS900.GetPanelCycle(0,0,0,0,0,0,5)");  // the pre-sets
        }
    }
    // Only the passes that needed the custom value read the file.
    EXPECT_EQ(fp.folders.userFileReads, std::vector<std::string>(2, kIni));
    EXPECT_EQ(fp.icmp.sent.size(), 2u);
}

// The file is read every pass; a refused one reads as missing (0), and the
// entry names it.
TEST_F(PanelTest, ARefusedSettingsFileIsZero) {
    twsim::DeviceState* device = Plug();
    device->panelMode = 19;
    fp.folders.files[kIni] = "[CS900_MODE_19]\nvalue=5\n";
    fp.folders.refusals[kIni] = platform::UserFile::TooLarge;
    fp.eventLog.clear();
    EXPECT_THAT(PassCalls(), ElementsAre("CS900.GetPanelMode", "CS900.SendPanelData(0,0,0)"));
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(L"localdevice.ini is too large, not read"));
    EXPECT_EQ(fp.eventLog.records()[0].type, platform::EventType::Error);
    fp.folders.refusals.clear();
    EXPECT_THAT(PassCalls(), ElementsAre("CS900.GetPanelMode", "CS900.SendPanelData(5,0,0)"));
}

TEST_F(PanelTest, RemovalEndsTheThreadAndAnArrivalStartsANewOne) {
    twsim::DeviceState* device = Plug();
    device->panelMode = 7;
    // The case is pulled while the thread sleeps after its third pass.
    fp.clock.onSleep = [this](uint32_t) {
        if (fp.clock.sleeps().size() == 3) {
            Unplug();
        }
    };
    fp.threads.RunStartedThreads();
    EXPECT_EQ(Sends(), 3);
    EXPECT_EQ(fp.clock.sleeps(), std::vector<uint32_t>(3, 2000u));
    EXPECT_EQ(panel().panelThreadRunning.load(), 0);

    fp.clock.onSleep = nullptr;
    Plug();
    EXPECT_EQ(fp.threads.startedCount(), 2u);
    EXPECT_EQ(panel().panelThreadRunning.load(), 1);
}

TEST_F(PanelTest, AFaultEndsTheThreadAndTheNextCreationStartsAnother) {
    Plug();
    TwLink().throwOn = "GetPanelMode";
    fp.threads.RunStartedThreads();
    EXPECT_EQ(panel().panelThreadRunning.load(), 0);
    EXPECT_EQ(Sends(), 0);
    EXPECT_NE(layer.slots.cs900.load(), nullptr);  // the case itself stays

    TwLink().throwOn.clear();
    twsim::DeviceState* next = Plug();
    EXPECT_EQ(fp.threads.startedCount(), 2u);
    next->panelMode = 19;
    fp.clock.onSleep = [this](uint32_t) { layer.OnServiceStop(); };
    fp.threads.RunStartedThreads();
    EXPECT_EQ(Sends(), 1);  // the stop ends it after its pass
    EXPECT_EQ(panel().panelThreadRunning.load(), 0);
}

// In the service the period is a wait on its stop: the stop ends the wait at
// once and, with it, the thread (even a stop that never went through
// OnStop, as when the start fails).
TEST_F(PanelTest, TheServicesStopEndsThePeriodAndTheThread) {
    auto stop = fp.threads.CreateManualResetEvent();
    ASSERT_TRUE(layer.WatchStop(fp.threads, *stop));
    twsim::DeviceState* device = Plug();
    device->panelMode = 7;
    int sent = 0;
    TwLink().onCall = [&](const std::string& call) {
        if (call.rfind("CS900.SendPanelData", 0) == 0) {
            if (++sent == 3) {
                stop->Set();
            } else if (sent == 10) {
                layer.OnServiceStop();  // only so that a fault ends the test
            }
        }
    };
    fp.threads.RunStartedThreads();
    EXPECT_EQ(Sends(), 3);
    EXPECT_THAT(fp.threads.waits(), ElementsAre(2000u, 2000u));
    EXPECT_EQ(fp.clock.TickCount64(), 4000u);
    EXPECT_THAT(fp.clock.sleeps(), IsEmpty());
    EXPECT_EQ(panel().panelThreadRunning.load(), 0);
}

TEST_F(PanelTest, AThreadThatCannotStartIsStartedByTheNextCreation) {
    fp.threads.failStartThread = true;
    Plug();
    EXPECT_EQ(panel().panelThreadRunning.load(), 0);
    fp.threads.failStartThread = false;
    Plug();
    EXPECT_EQ(fp.threads.startedCount(), 1u);
    EXPECT_EQ(panel().panelThreadRunning.load(), 1);
}

}  // namespace
}  // namespace vt::devices
