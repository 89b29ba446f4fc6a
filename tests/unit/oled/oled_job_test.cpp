// The OLED job's states, screens and timing, driven pass by pass on the
// virtual clock with a recording mouse and a recording converter.
#include "oled/oled_job.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "fakes/fake_service.h"
#include "fakes/temp_path.h"
#include "oled/builtin_pictures.h"
#include "preview.h"

namespace vt::oled {
namespace {

using oledrender::PreviewMouse;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records what the job asks of the converter; the frame it makes has its
// first pixel lit so that a test can see it went to the mouse. A test may
// change the world while a screen is being drawn.
std::vector<std::string> g_converterCalls;
std::function<void()> g_whileDrawing;

class RecordingConverter final : public OledConverter {
  public:
    int32_t InitConverter(int32_t reserved) override {
        g_converterCalls.push_back("InitConverter(" + std::to_string(reserved) + ")");
        return 1;
    }
    int32_t TextToBitmap(const char* text, const char* path, int32_t layout) override {
        g_converterCalls.push_back(std::string("TextToBitmap(") + text + "," + path + "," +
                                   std::to_string(layout) + ")");
        return 1;
    }
    int32_t Reserved() override { return 0; }
    int32_t BitmapToFrame(const char* path, uint8_t* pixels) override {
        g_converterCalls.push_back(std::string("BitmapToFrame(") + path + ")");
        pixels[0] = 1;
        if (g_whileDrawing) {
            g_whileDrawing();
        }
        return 1;
    }
};

extern "C" OledConverter* VT_CDECL RecordingConverterFactory() {
    static RecordingConverter converter;
    return &converter;
}

class OledJobTest : public fakes::DeviceLayerFixture {
  protected:
    OledJobTest() : DeviceLayerFixture(false) {
        g_converterCalls.clear();
        g_whileDrawing = nullptr;
        fp.libraries.symbols = {
            {"oledDataConvert", reinterpret_cast<void*>(&RecordingConverterFactory)}};
        layer.Attach(twsim::Api());
        layer.rx410Present = 1;
        disabled = 7;
        heartbeat = 0x1234567890ull;
    }
    ~OledJobTest() override {
        std::error_code ignored;
        std::filesystem::remove_all(fp.folders.dataFolder, ignored);
    }

    // Before the job is built: it takes its paths from the folder.
    static std::string PrepareFolder(fakes::FakePlatform& fp) {
        fp.folders.dataFolder = fakes::UniqueTempPath("oled_job_test");
        fp.folders.serviceFolder = fp.folders.dataFolder + "/service_dmp/";
        std::filesystem::create_directories(fp.folders.dataFolder);
        std::remove((fp.folders.dataFolder + "/tw_service.cfg").c_str());
        return fp.folders.dataFolder;
    }
    std::string JobFile() { return fp.folders.dataFolder + "/tw_service.cfg"; }
    void WriteJob(const std::string& text) { std::ofstream(JobFile(), std::ios::binary) << text; }

    // Starts the job with `config` as its file and passes until it paints.
    void StartPainting(const std::string& config) {
        WriteJob(config);
        job.Start();
        for (int i = 0; i < 4 && job.state() != OledJob::kPaint; ++i) {
            job.Pass();
        }
        ASSERT_EQ(job.state(), OledJob::kPaint);
        Mark();
    }
    // Gives the started job a new file and passes until it paints again.
    void Reload(const std::string& config) {
        WriteJob(config);
        enabled = 0;
        job.Pass();
        enabled = 1;
        job.Pass();
        job.Pass();
        ASSERT_EQ(job.state(), OledJob::kPaint) << config;
        Mark();
    }
    // What happens from here on.
    void Mark() {
        sleepsAt = fp.clock.sleeps().size();
        callsAt = mouse.twlink.LastSeq();
        framesAt = mouse.frames.size();
        eventsAt = fp.eventLog.messages().size();
        converterAt = g_converterCalls.size();
    }
    std::vector<uint32_t> NewSleeps() {
        const auto all = fp.clock.sleeps();
        return {all.begin() + static_cast<std::ptrdiff_t>(sleepsAt), all.end()};
    }
    std::vector<std::string> NewCalls() { return mouse.Calls(callsAt); }
    std::vector<std::wstring> NewEvents() {
        const auto all = fp.eventLog.messages();
        return {all.begin() + static_cast<std::ptrdiff_t>(eventsAt), all.end()};
    }
    // The texts sent to the converter since Mark.
    std::vector<std::string> NewTexts() {
        std::vector<std::string> out;
        for (size_t i = converterAt; i < g_converterCalls.size(); ++i) {
            const std::string& c = g_converterCalls[i];
            if (c.rfind("TextToBitmap(", 0) == 0) {
                out.push_back(c.substr(13, c.find(',') - 13));
            }
        }
        return out;
    }
    size_t NewFrames() { return mouse.frames.size() - framesAt; }
    static std::vector<uint32_t> Steps(size_t n) { return std::vector<uint32_t>(n, 100u); }

    std::string folder = PrepareFolder(fp);
    PreviewMouse mouse;
    ServiceState state;
    std::atomic<int32_t>& enabled = state.enabled;
    std::atomic<int32_t>& disabled = state.disabled;
    std::atomic<uint64_t>& heartbeat = state.lastHeartbeat;
    OledJob job{state, layer, {fp.clock, fp.eventLog, fp.folders, fp.libraries}};
    size_t sleepsAt = 0, framesAt = 0, eventsAt = 0, converterAt = 0;
    uint64_t callsAt = 0;
};

constexpr char kEnabled[] = R"({"enable": true, "p1": )";
std::string Profile1(const std::string& profile) {
    return kEnabled + profile + "}";
}

TEST_F(OledJobTest, StartInitialisesTheConverterClearsTheFlagsAndReadsEnable) {
    WriteJob(R"({"enable": true})");
    job.Start();
    EXPECT_THAT(g_converterCalls, ElementsAre("InitConverter(0)"));
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(L"TWservice JobThread", L"Enable job"));
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(disabled, 0);
    EXPECT_EQ(heartbeat, 0u);
    EXPECT_EQ(job.state(), OledJob::kFindMouse);
    EXPECT_THAT(mouse.Calls(), IsEmpty());  // nothing reaches the mouse at start
}

TEST_F(OledJobTest, WithoutTheConverterTextScreensGoOutBlank) {
    fp.libraries.loadError = 126;
    StartPainting(Profile1(R"({"cycle_order": [4, 10]})"));
    EXPECT_EQ(fp.eventLog.messages()[0], L"Load OledDataConvert.dll failed w/err 0x0000007e");
    job.Pass();
    ASSERT_EQ(NewFrames(), 2u);
    EXPECT_TRUE(std::all_of(mouse.frames[0].begin(), mouse.frames[0].end(),
                            [](uint8_t p) { return p == 0; }));
    EXPECT_TRUE(std::equal(mouse.frames[1].begin(), mouse.frames[1].end(), BuiltInPicture(0)));
    EXPECT_THAT(g_converterCalls, IsEmpty());
}

TEST_F(OledJobTest, FindingTheMouseWaitsForPresenceThenForAListThenForTheMouse) {
    // A library of its own, whose device list starts empty.
    twsim::Core library;
    library.MakeCurrent();
    devices::DeviceLayer listed{fp.eventLog, fp.console, fp.clock};
    fp.libraries.symbols = twsim::Symbols();
    ASSERT_TRUE(listed.Load(fp.libraries));
    fp.libraries.symbols["oledDataConvert"] = reinterpret_cast<void*>(&RecordingConverterFactory);
    OledJob j{state, listed, {fp.clock, fp.eventLog, fp.folders, fp.libraries}};
    WriteJob(R"({"enable": true})");
    j.Start();
    Mark();
    j.Pass();  // absent
    listed.rx410Present = 1;
    j.Pass();  // an empty list
    library.Attach({{"model", "HV230"}, {"path", "hid#hv230"}});
    library.Attach({{"model", "RX410"}, {"vendorId", 0x1234}, {"path", "hid#other-maker"}});
    j.Pass();  // not in the list: no pause
    EXPECT_EQ(j.state(), OledJob::kFindMouse);
    EXPECT_THAT(NewSleeps(), ElementsAre(500u, 3000u));
    library.Attach({{"model", "RX410"}, {"path", "hid#rx410"}, {"profile", 1}});
    j.Pass();
    EXPECT_EQ(j.state(), OledJob::kLoadFile);
    EXPECT_EQ(NewEvents(), std::vector<std::wstring>{L"Found RX410"});
    std::vector<std::string> calls;
    for (const auto& entry : library.LogSince(0)) {
        calls.push_back(twsim::CallText(entry));
    }
    EXPECT_THAT(calls, ::testing::Contains("rx410(hid#rx410)"));
    EXPECT_EQ(calls.back(), "RX410.GetProfile");  // profile 1: no logo check
}

TEST_F(OledJobTest, ProfileZeroWithTheFlagSelectsTheLogoBeforeTheFileIsRead) {
    mouse.state.profile = 0;
    mouse.state.logoFlag = 1;
    WriteJob(R"({"enable": true, "p0": {"cycle_order": [10]}})");
    job.Start();
    job.Pass();
    EXPECT_EQ(job.state(), OledJob::kLoadFile);
    EXPECT_THAT(mouse.Calls(),
                ElementsAre("GetProfile", "QueryInfo(0,0)", "SetOled(0,0)", "ApplyChanges"));
    EXPECT_EQ(fp.eventLog.messages().back(), L"Set profile 0 OLED to TW logo");

    Mark();
    mouse.state.logoFlag = 0;
    enabled = 0;
    job.Pass();
    enabled = 1;
    job.Pass();
    EXPECT_THAT(NewCalls(), ElementsAre("GetProfile", "QueryInfo(0,0)"));
}

// One pass of profile 1: the sleeps it takes (in tenths of a second) and
// the frames it sends. Durations are whole seconds waited in tenth steps;
// none, or none above 0, runs the cycle again at once; codes without a
// screen send nothing but still wait; an empty cycle polls every tenth.
TEST_F(OledJobTest, APassWaitsTheDurationAfterEachScreen) {
    const struct {
        const char* profile;
        size_t steps, frames;
    } cases[] = {{R"({"cycle_order": [4], "duration": 2})", 20, 1},
                 {R"({"cycle_order": [4], "duration": -3})", 0, 1},
                 {R"({"cycle_order": [4, 9]})", 0, 1},
                 {R"({"cycle_order": [9, 14, -1], "duration": 1})", 30, 0},
                 {R"({"cycle_order": [], "duration": 5})", 1, 0}};
    job.Start();
    for (const auto& c : cases) {
        Reload(Profile1(c.profile));
        job.Pass();
        EXPECT_EQ(NewSleeps(), Steps(c.steps)) << c.profile;
        EXPECT_EQ(NewFrames(), c.frames) << c.profile;
        EXPECT_EQ(job.state(), OledJob::kPaint) << c.profile;
    }
}

TEST_F(OledJobTest, TextScreensGoThroughTheScratchBitmapInTheServiceFolder) {
    StartPainting(Profile1(R"({"cycle_order": [0]})"));
    job.Pass();
    const std::string bmp = fp.folders.serviceFolder + "oled.bmp";
    EXPECT_THAT(std::vector<std::string>(g_converterCalls.begin() + 1, g_converterCalls.end()),
                ElementsAre("TextToBitmap(PROFILE1," + bmp + ",1)", "BitmapToFrame(" + bmp + ")"));
    EXPECT_THAT(NewCalls(), ElementsAre("SetOled(3,241)", "SetOled(0,241)"));  // frame id 0xF1

    // Without a service folder the converter is never told to write: the
    // text screen goes out blank.
    fp.folders.serviceFolder.clear();
    OledJob unsafe{state, layer, {fp.clock, fp.eventLog, fp.folders, fp.libraries}};
    unsafe.Start();
    for (int i = 0; i < 3; ++i) {
        unsafe.Pass();
    }
    ASSERT_EQ(unsafe.state(), OledJob::kPaint);
    Mark();
    unsafe.Pass();
    EXPECT_THAT(NewTexts(), IsEmpty());
    ASSERT_EQ(NewFrames(), 1u);
    EXPECT_TRUE(std::all_of(mouse.frames.back().begin(), mouse.frames.back().end(),
                            [](uint8_t p) { return p == 0; }));
}

TEST_F(OledJobTest, TheLastDpiStageIsShownAndTheOnePastItIsZero) {
    StartPainting(Profile1(R"({"cycle_order": [1, 2]})"));
    // Stage 3 is the last one; 4 would read the two bytes right after the
    // stages, which are not zero here so that reading them would show.
    mouse.state.settings[17] = 0x34;
    mouse.state.settings[18] = 0x12;
    for (uint8_t stage : {3, 4}) {
        mouse.state.settings[0] = stage;
        mouse.state.settings[22] = static_cast<uint8_t>(stage == 3 ? 0 : 5);  // lift-off
        job.Pass();
    }
    EXPECT_THAT(NewTexts(), ElementsAre("DPI 12000", "LOD LOW", "DPI 0", "LOD HIGH"));
}

TEST_F(OledJobTest, EnableFalseStopsTheJobUntilThePipeEnablesItAgain) {
    WriteJob(R"({"enable": true, "p1": {"cycle_order": [4]}})");
    job.Start();
    job.Pass();
    WriteJob(R"({"enable": false, "p1": {"cycle_order": [4]}})");
    job.Pass();
    job.Pass();
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(job.state(), OledJob::kFindMouse);
    Mark();
    job.Pass();
    job.Pass();
    EXPECT_THAT(NewSleeps(), ElementsAre(500u, 500u));
    enabled = 1;  // the pipe's "enable"
    job.Pass();
    job.Pass();
    job.Pass();
    EXPECT_EQ(NewEvents(), std::vector<std::wstring>{L"Found RX410"});
    EXPECT_EQ(enabled, 0);  // the file still says false
    EXPECT_EQ(NewFrames(), 0u);
}

TEST_F(OledJobTest, TheThirdFailedOpenDisablesEvenAfterALoadInBetween) {
    job.Start();
    enabled = 1;
    job.Pass();  // found
    Mark();
    job.Pass();
    job.Pass();
    EXPECT_EQ(job.state(), OledJob::kLoadFile);
    EXPECT_THAT(NewSleeps(), ElementsAre(1000u, 1000u));
    WriteJob(Profile1(R"({"cycle_order": []})"));
    job.Pass();
    EXPECT_EQ(job.state(), OledJob::kPaint);
    layer.rx410Present = 0;
    job.Pass();  // "Stop painting"
    layer.rx410Present = 1;
    std::remove(JobFile().c_str());
    job.Pass();  // found again
    Mark();
    job.Pass();
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(job.state(), OledJob::kFindMouse);
    EXPECT_THAT(NewSleeps(), IsEmpty());
    EXPECT_EQ(NewEvents(), std::vector<std::wstring>{L"Can not open tw_service.cfg"});

    // The counter started again from 0.
    enabled = 1;
    job.Pass();
    job.Pass();
    EXPECT_EQ(job.state(), OledJob::kLoadFile);
    EXPECT_EQ(enabled, 1);
}

TEST_F(OledJobTest, AFormatErrorDisablesTheJobAfterASecond) {
    WriteJob(R"({"enable": true} trailing)");
    job.Start();
    enabled = 1;
    job.Pass();
    Mark();
    job.Pass();
    EXPECT_EQ(NewEvents(), std::vector<std::wstring>{L"tw_service.cfg file format error"});
    EXPECT_THAT(NewSleeps(), ElementsAre(1000u));
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(job.state(), OledJob::kFindMouse);
}

// Pulling the mouse or the pipe's "disable" during a ten-second screen lets
// the screen run out; the next pass stops painting.
TEST_F(OledJobTest, RemovalOrDisablingDuringAScreenTakesEffectWhenItEnds) {
    const struct {
        std::function<void()> change;
        std::vector<std::wstring> events;
        std::vector<uint32_t> sleeps;  // of the pass after the screen
    } cases[] = {{[&] { layer.rx410Present = 0; }, {L"Stop painting"}, {}},
                 {[&] { enabled = 0; }, {}, {500u}}};
    job.Start();
    for (const auto& c : cases) {
        layer.rx410Present = 1;
        Reload(Profile1(R"({"cycle_order": [4, 5], "duration": 10})"));
        int sleeps = 0;
        fp.clock.onSleep = [&](uint32_t) {
            if (++sleeps == 5) {
                c.change();
            }
        };
        job.Pass();
        EXPECT_EQ(NewSleeps(), Steps(100));
        EXPECT_EQ(NewFrames(), 1u);
        EXPECT_EQ(job.state(), OledJob::kPaint);
        fp.clock.onSleep = nullptr;
        Mark();
        job.Pass();
        EXPECT_EQ(NewEvents(), c.events);
        EXPECT_EQ(NewSleeps(), c.sleeps);
        EXPECT_EQ(job.state(), OledJob::kFindMouse);
    }
}

TEST_F(OledJobTest, AProfileChangeCutsTheWaitAndReloadsForTheNewProfile) {
    mouse.state.logoFlag = 1;
    StartPainting(R"({"enable": true, "p1": {"cycle_order": [4, 5], "duration": 10},
                     "p2": {"cycle_order": [6]}})");
    int sleeps = 0;
    fp.clock.onSleep = [&](uint32_t) {
        if (++sleeps == 4) {
            job.profileChanged = 1;
            mouse.state.profile = 2;
        }
    };
    job.Pass();
    EXPECT_EQ(NewSleeps(), Steps(4));
    EXPECT_THAT(NewTexts(), ElementsAre("CPU 37%"));
    fp.clock.onSleep = nullptr;
    Mark();
    job.Pass();
    EXPECT_EQ(NewEvents(), std::vector<std::wstring>{L"Change profile notify"});
    EXPECT_THAT(NewCalls(),
                ElementsAre("QueryInfo(0,0)", "SetOled(0,0)", "ApplyChanges", "GetProfile"));
    EXPECT_EQ(job.profileChanged, 0);
    EXPECT_EQ(job.state(), OledJob::kLoadFile);
    job.Pass();
    job.Pass();
    EXPECT_THAT(NewTexts(), ElementsAre("RAM 58%"));
}

// In the service the job waits on the stop and on its wake-ups: a screen is
// one wait that only a profile change cuts short; switched off or without
// the mouse, the job waits for the pipe's "enable" or the arrival.
TEST_F(OledJobTest, WithItsWakeUpsAScreenIsOneWaitAndAnIdleJobWaitsForItsChange) {
    auto stop = fp.threads.CreateManualResetEvent();
    ASSERT_TRUE(layer.WatchStop(fp.threads, *stop));
    StartPainting(R"({"enable": true, "p1": {"cycle_order": [4, 5], "duration": 10},
                     "p2": {"cycle_order": [6], "duration": 3}})");
    const uint64_t start = fp.clock.TickCount64();
    g_whileDrawing = [&] {
        g_whileDrawing = nullptr;
        mouse.state.profile = 2;
        job.RaiseProfileChanged();
    };
    job.Pass();
    EXPECT_THAT(NewTexts(), ElementsAre("CPU 37%"));
    EXPECT_EQ(fp.clock.TickCount64(), start);  // cut short at once
    job.Pass();
    job.Pass();
    ASSERT_EQ(job.state(), OledJob::kPaint);

    // Switched off while a screen is drawn: the screen keeps its 3 s.
    g_whileDrawing = [&] {
        g_whileDrawing = nullptr;
        enabled = 0;
        layer.oledJobWait.Wake();  // as the pipe's "disable" does
    };
    Mark();
    job.Pass();
    EXPECT_THAT(NewTexts(), ElementsAre("RAM 58%"));
    EXPECT_EQ(fp.clock.TickCount64(), start + 3000);
    // Then it waits for "enable", the mouse's removal meanwhile...
    fp.threads.whileBlocked = [&] {
        layer.HandleNotify(fakes::MakeNotify(0x3A7C, 0x006B, "hid#rx410", 0));
        enabled = 1;
        layer.oledJobWait.Wake();
    };
    job.Pass();
    // ...and for the mouse's return, which it finds at once.
    fp.threads.whileBlocked = [&] {
        layer.HandleNotify(fakes::MakeNotify(0x3A7C, 0x006B, "hid#rx410", 1));
    };
    job.Pass();
    job.Pass();
    EXPECT_EQ(NewEvents(), std::vector<std::wstring>{L"Found RX410"});
    EXPECT_EQ(fp.clock.TickCount64(), start + 3000);
    EXPECT_THAT(fp.threads.waits(), ElementsAre(3000u, platform::kInfinite, platform::kInfinite));
    EXPECT_THAT(NewSleeps(), IsEmpty());
}

// A picture number outside the three (which no job item gives) is the
// first picture, never whatever lies past the table.
TEST(BuiltInPictures, OutsideTheThreeIsTheFirst) {
    EXPECT_EQ(BuiltInPicture(3), BuiltInPicture(0));
    EXPECT_EQ(BuiltInPicture(-1), BuiltInPicture(0));
    EXPECT_NE(BuiltInPicture(2), BuiltInPicture(0));
}

}  // namespace
}  // namespace vt::oled
