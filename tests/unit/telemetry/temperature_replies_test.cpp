// "temp", "getc" and "getsysinfo" over the real sensor monitor with a fake
// SDK and a fake temperature library: averaging, the remembered values,
// the valid range, failures, the fake levels and the formatting. Fresh
// readings are taken before each request, as the telemetry thread would.
#include "telemetry/temperature_replies.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_service.h"

namespace vt::telemetry {
namespace {

using fakes::FakePlatform;
using fakes::Sensors;
using ::testing::_;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TemperatureRepliesTest : public fakes::PipeCommandsFixture {
  protected:
    TemperatureRepliesTest() : PipeCommandsFixture(nullptr, false) {
        fakes::InstallSensorLibraries(fp.libraries, true);
        commands.temperatures.feed = &feed;
    }

    // The telemetry thread's start with whatever the test set up.
    void Start() {
        feed.Start(monitor);
        fp.eventLog.clear();
    }
    std::string Ask(std::string_view request) {
        feed.Take(monitor);
        return commands.Handle(request);
    }
    void Cpu(int32_t count, std::vector<int32_t> values) {
        Sensors().cpu.count = count;
        Sensors().cpu.values = std::move(values);
    }
    void Gpu(int32_t count, std::vector<int32_t> values) {
        Sensors().gpu.count = count;
        Sensors().gpu.values = std::move(values);
    }

    SensorMonitor monitor{fp.libraries, fp.folders, fp.console, fp.eventLog};
    ReadingsFeed feed{fp.threads, fp.clock};
};

// The event of the library's load is the monitor's test's.
TEST_F(TemperatureRepliesTest, StartLoadsTheLibraryOnlyAfterTheSdkStarted) {
    feed.Start(monitor);
    EXPECT_THAT(fp.libraries.loads, ElementsAre(kSdkLibrary.windows, kCoreTempLibrary.windows));

    FakePlatform noSdk;
    fakes::InstallSensorLibraries(noSdk.libraries, true);
    Sensors().startSucceeds = false;
    SensorMonitor m(noSdk.libraries, noSdk.folders, noSdk.console, noSdk.eventLog);
    ReadingsFeed(noSdk.threads, noSdk.clock).Start(m);
    EXPECT_THAT(noSdk.libraries.loads, ElementsAre(kSdkLibrary.windows));
}

TEST_F(TemperatureRepliesTest, TheLibraryMissingAnswersZeros) {
    fp.libraries.components[kCoreTempLibrary.windows].programFolderError =
        platform::kErrorModNotFound;
    feed.Start(monitor);  // its entry is the monitor's test
    Cpu(8, {50, 50, 50, 50, 50, 50, 50, 50});
    EXPECT_EQ(commands.Handle("temp"), "0;0");
    EXPECT_EQ(commands.Handle("getc"), "0;0");
    EXPECT_EQ(commands.Handle("getsysinfo"), "0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;");
}

TEST_F(TemperatureRepliesTest, TempAveragesUpToTheFirstZeroOverTheReportedCount) {
    Start();
    Cpu(4, {50, 60, 70, 80});
    Gpu(1, {38});
    EXPECT_EQ(Ask("temp"), "65;38;");
    Cpu(4, {50, 60, 0, 80});  // 110 / 4
    EXPECT_EQ(Ask("temp"), "27;38;");
    Cpu(20, std::vector<int32_t>(20, 40));  // 16 values summed, divided by 20
    Gpu(2, {30, 50});
    EXPECT_EQ(Ask("temp"), "32;40;");
    EXPECT_THAT(fp.eventLog.messages(), IsEmpty());
}

TEST_F(TemperatureRepliesTest, TheLastCpuTemperatureIsRememberedAndResetByAnImpossibleOne) {
    Start();
    Cpu(2, {45, 45});
    EXPECT_EQ(Ask("temp"), "45;0;");  // no GPU reading: 0
    Cpu(0, {});
    EXPECT_EQ(Ask("temp"), "45;0;");

    Cpu(1, {101});
    Gpu(1, {101});
    EXPECT_EQ(Ask("temp"), "0;0;");
    EXPECT_EQ(commands.temperatures.lastCpuTemperature, 0);
    // The edges: 100 is still a reading, -1 is not.
    Cpu(1, {100});
    Gpu(1, {100});
    EXPECT_EQ(Ask("temp"), "100;100;");
    Cpu(1, {-1});
    Gpu(1, {-1});
    EXPECT_EQ(Ask("temp"), "0;0;");

    // An exception inside the library: the remembered CPU value, GPU 0.
    Cpu(1, {52});
    Gpu(1, {60});
    EXPECT_EQ(Ask("temp"), "52;60;");
    Sensors().throwOnCpu = true;
    EXPECT_EQ(Ask("temp"), "52;0;");
    EXPECT_THAT(fp.eventLog.messages(),
                ElementsAre(L"GetSysTemperature Fail", L"fail to get the cpu and gpu temp"));
}

// Step 0 and the five levels after it, wrapping back to step 0.
TEST_F(TemperatureRepliesTest, FakeLevelsReplaceLiveReadingsStepByStep) {
    Start();
    Cpu(1, {45});
    Ask("fake_temp");
    EXPECT_EQ(Ask("temp"), "100;100");
    std::vector<std::string> levels;
    for (int i = 0; i < 6; ++i) {
        Ask("fake_step");
        levels.push_back(Ask(i == 0 ? "temperature" : "temp"));
    }
    EXPECT_THAT(levels, ElementsAre("20;20", "50;50", "70;70", "90;90", "100;100", "100;100"));
    // The live query still ran and was remembered; the count is never faked.
    EXPECT_EQ(commands.temperatures.lastCpuTemperature, 45);
    EXPECT_EQ(Ask("getc"), "1;0;");
    Ask("fake_temp");
    EXPECT_EQ(Ask("temp"), "45;0;");
    EXPECT_THAT(Events(),
                ElementsAre(L"Get the fake_temp  = 1", L"Get the fake_temp_step  = 1",
                            L"Get the fake_temp_step  = 2", L"Get the fake_temp_step  = 3",
                            L"Get the fake_temp_step  = 4", L"Get the fake_temp_step  = 5",
                            L"Get the fake_temp_step  = 0", L"Get the fake_temp  = 0"));
}

TEST_F(TemperatureRepliesTest, GetcAnswersTheCountsAndRemembersTheCpuCount) {
    Start();
    Cpu(8, {40, 41, 42, 43, 44, 45, 46, 47});
    Gpu(1, {38});
    EXPECT_EQ(Ask("getc"), "8;1;");
    Sensors().throwOnCpu = true;
    EXPECT_EQ(Ask("getc"), "8;0;");
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(_, L"fail to get the cpu and gpu temp"));
    Sensors().throwOnCpu = false;
    Cpu(0, {});  // a count of 0 is remembered like any other
    EXPECT_EQ(Ask("getc"), "0;1;");
}

TEST_F(TemperatureRepliesTest, GetsysinfoWritesFifteenFieldsFloatsWithSixDecimals) {
    Sensors().devices = {{kClassProcessor,
                          {{kSensorClock, "Core #0", 3600.0f},
                           {kSensorVoltage, "VID", 1.25f},
                           {kSensorTemperature, "Core #0", 47.9f},
                           {kSensorUtilisation, "Total", 13.0f}}},
                         {kClassMainboard,
                          {{kSensorFan, "CPU", 1200.0f},
                           {kSensorFan, "SYS1", 801.0f},
                           {kSensorFan, "SYS2", 802.0f},
                           {kSensorFan, "SYS3", 803.0f},
                           {kSensorFan, "SYS4", 804.0f},
                           {kSensorFan, "SYS5", 805.0f}}}};
    Start();
    EXPECT_EQ(Ask("getsysinfo"),
              "3600.000000;1200;1.250000;47;13;0.000000;0;0.000000;0;0;801;802;803;804;805;");
}

}  // namespace
}  // namespace vt::telemetry
