// The sensor monitor over the sensor stand-ins' core in-process: the SDK's
// start-up and its error entries, device selection, averaging and
// selection of readings, the temperature copies, where the temperature
// library is loaded from, and what the release takes down.
#include "telemetry/sensor_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "fakes/fake_platform.h"

namespace vt::telemetry {
namespace {

using fakes::FakePlatform;
using fakes::Sensors;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using vtsensors::Device;

Device Processor(std::vector<vtsensors::Sensor> sensors = {}) {
    return {kClassProcessor, std::move(sensors)};
}
Device Display(std::vector<vtsensors::Sensor> sensors = {}) {
    return {kClassDisplayAdapter, std::move(sensors)};
}
Device Mainboard(std::vector<vtsensors::Sensor> sensors = {}) {
    return {kClassMainboard, std::move(sensors)};
}

class SensorMonitorTest : public ::testing::Test {
  protected:
    SensorMonitorTest() {
        fakes::InstallSensorLibraries(fp.libraries, true);
        fp.folders.programFolder = "C:\\Program Files\\Tarnwick";
    }
    std::vector<std::wstring> Events() { return fp.eventLog.messages(); }

    FakePlatform fp;
    std::unique_ptr<SensorMonitor> monitor =
        std::make_unique<SensorMonitor>(fp.libraries, fp.folders, fp.console, fp.eventLog);
};

TEST_F(SensorMonitorTest, InitFillsTheTableInItsOrderStartsAndKeepsTheLastDeviceOfEachClass) {
    Sensors().devices = {Processor(),  {0x10, {}},  Display(),    {0x80, {}},
                         Mainboard(),  {0x800, {}}, {0x1000, {}}, {0x4000, {}},
                         {0x9999, {}}, Display(),   Processor()};
    EXPECT_EQ(monitor->Init(), 0);
    EXPECT_TRUE(std::equal(Sensors().queried.begin(), Sensors().queried.end(), kSdkEntryIds.begin(),
                           kSdkEntryIds.end()));
    EXPECT_EQ(
        Sensors().calls,
        (std::vector<std::string>{
            "create", "start(C:\\Program Files\\Tarnwick,cpuidsdk.dll,2147483647)", "refresh"}));
    EXPECT_EQ(fp.console.text(),
              L"CLASS_DEVICE_PROCESSOR\nCLASS_DEVICE_DRIVE\nCLASS_DEVICE_DISPLAY_ADAPTER\n"
              L"CLASS_DEVICE_BATTERY\nCLASS_DEVICE_MAINBOARD\nCLASS_DEVICE_MEMORY_MODULE\n"
              L"CLASS_DEVICE_PSU\nCLASS_DEVICE_WATERCOOLER\nCLASS_DEVICE_DISPLAY_ADAPTER\n"
              L"CLASS_DEVICE_PROCESSOR\n");
    EXPECT_EQ(monitor->processorIndex, 10);
    EXPECT_EQ(monitor->displayAdapterIndex, 9);
    EXPECT_EQ(monitor->mainboardIndex, 4);
    EXPECT_THAT(Events(), IsEmpty());
}

TEST_F(SensorMonitorTest, StartStatusEntriesAndTheStartResult) {
    struct Case {
        int32_t status, detail, result;
        std::vector<std::wstring> events;
        int init;
    };
    const Case cases[] = {
        {2, 0x1F, 1, {L"Driver error 0x1F."}, 0},
        {8, 0, 1, {L"SDK mutex locked."}, 0},  // and still enumerates
        {0x1A2B, 0, 1, {L"Error code 0x1A2B"}, 0},
        {-1, 0, 1, {L"Error code 0xFFFFFFFF"}, 0},
        {0, 0, 0, {L"Init cpuidsdk failed"}, -1},
        {8, 0, 0, {L"SDK mutex locked.", L"Init cpuidsdk failed"}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        FakePlatform world;
        fakes::InstallSensorLibraries(world.libraries, true);
        Sensors().devices = {Processor()};
        Sensors().startStatus = c.status;
        Sensors().startDetail = c.detail;
        Sensors().startSucceeds = c.result != 0;
        SensorMonitor m(world.libraries, world.folders, world.console, world.eventLog);
        EXPECT_EQ(m.Init(), c.init);
        EXPECT_EQ(world.eventLog.messages(), c.events);
        for (const auto& r : world.eventLog.records()) {
            EXPECT_EQ(r.type, platform::EventType::Error);
        }
        EXPECT_EQ(m.processorIndex, c.init == 0 ? 0 : -1);
    }
}

TEST_F(SensorMonitorTest, AMissingLibraryOrMissingEntriesFailInit) {
    fp.libraries.components[kSdkLibrary.windows].programFolderError = platform::kErrorModNotFound;
    EXPECT_EQ(monitor->Init(), -1);
    EXPECT_THAT(Events(), ElementsAre(L"LoadLibrary cpuidsdk failed"));
    EXPECT_EQ(monitor->sdk, nullptr);

    // No "QueryInterface": every entry null, so no start (status 0x10).
    FakePlatform noExport;
    noExport.libraries.components[kSdkLibrary.windows] = {};
    SensorMonitor m(noExport.libraries, noExport.folders, noExport.console, noExport.eventLog);
    EXPECT_EQ(m.Init(), -1);
    EXPECT_THAT(noExport.eventLog.messages(),
                ElementsAre(L"Error code 0x10", L"Init cpuidsdk failed"));
    EXPECT_EQ(m.ReadSensorValue(0, kSensorTemperature, nullptr, -1), 0.0f);

    // Entries the SDK lacks are skipped: no device count means no devices.
    FakePlatform noCount;
    fakes::InstallSensorLibraries(noCount.libraries, true);
    Sensors().devices = {Processor()};
    Sensors().missing = {kSdkDeviceCountId, kSdkCreateId};
    SensorMonitor n(noCount.libraries, noCount.folders, noCount.console, noCount.eventLog);
    EXPECT_EQ(n.Init(), 0);
    EXPECT_EQ(n.processorIndex, -1);
    EXPECT_EQ(n.sdk->instance, nullptr);
}

TEST_F(SensorMonitorTest, ReadSensorValueAveragesNonZeroReadingsAndHonoursFilterAndIndex) {
    Sensors().devices = {Processor({{kSensorTemperature, "Core #0", 40.0f},
                                    {kSensorTemperature, "Core #1", 0.0f},
                                    {kSensorTemperature, "Core #2", 60.0f},
                                    {kSensorTemperature, "Core #3", 99.0f, true},  // the call fails
                                    {kSensorClock, "Core #0", 3600.5f}}),
                         Mainboard({{kSensorFan, "SYS_FAN1", 800.0f},
                                    {kSensorFan, "CPU_FAN", 1000.0f},
                                    {kSensorFan, "", 555.0f},
                                    {kSensorFan, "Cpu Opt", 2000.0f}})};
    ASSERT_EQ(monitor->Init(), 0);
    EXPECT_EQ(monitor->ReadSensorValue(0, kSensorTemperature, nullptr, -1), 50.0f);
    EXPECT_EQ(monitor->ReadSensorValue(0, kSensorClock, nullptr, -1), 3600.5f);
    EXPECT_EQ(monitor->ReadSensorValue(0, kSensorVoltage, nullptr, -1), 0.0f);  // none
    EXPECT_EQ(monitor->ReadSensorValue(0, kSensorTemperature, nullptr, 2), 60.0f);
    EXPECT_EQ(monitor->ReadSensorValue(0, kSensorTemperature, nullptr, 1), 0.0f);
    // The filter: case-insensitive part of the name; an empty name never.
    EXPECT_EQ(monitor->ReadSensorValue(1, kSensorFan, "cpu", -1), 1500.0f);
    // With an index the sensor is taken by position, its name unread.
    EXPECT_EQ(monitor->ReadSensorValue(1, kSensorFan, "cpu", 0), 800.0f);
    EXPECT_EQ(monitor->ReadSensorValue(1, kSensorFan, "cpu", 2), 555.0f);
    EXPECT_EQ(monitor->ReadSensorValue(1, kSensorFan, "cpu", 4), 0.0f);  // not below the count
    EXPECT_EQ(monitor->ReadSensorValue(7, kSensorFan, nullptr, -1), 0.0f);
    // Every name handed out was freed.
    EXPECT_EQ(fp.libraries.freedStrings, Sensors().namesHandedOut);
    EXPECT_GT(fp.libraries.freedStrings, 0);
}

// Every field, so that a failure prints them all.
auto Fields(const SensorSnapshot& s) {
    return std::make_tuple(s.cpuTemperature, s.cpuUtilisation,
                           std::vector<int32_t>(s.boardFan, s.boardFan + kBoardFanCount),
                           s.cpuClock, s.cpuVoltage, s.gpuTemperature, s.gpuUtilisation, s.gpuFan,
                           s.gpuClock, s.gpuVoltage);
}

TEST_F(SensorMonitorTest, ReadSensorsFillsTheFieldsOfTheDevicesFound) {
    SensorSnapshot s{};
    EXPECT_EQ(monitor->ReadSensors(&s), -1);  // no SDK table yet

    // Values no reading gives, so that a field left alone shows.
    const SensorSnapshot before{5, 6, {9, 9, 9, 9, 9, 9}, 7.0f, 8.0f, 3, 4, 2, 1.0f, 2.0f};
    const std::tuple<std::vector<Device>, SensorSnapshot> cases[] = {
        // The temperature (40 + 60.7) / 2 and the load truncated. Fan 0 is
        // the one named CPU; a reading no int32 can hold becomes 0
        // (2147483520 is the largest float below 2^31, 2^31 is past it); five
        // fans: the sixth is 0.
        {{Processor({{kSensorTemperature, "Package", 40.0f},
                     {kSensorTemperature, "Core", 60.7f},
                     {kSensorUtilisation, "Total", 9.9f},
                     {kSensorClock, "Core #0", 3000.0f},
                     {kSensorClock, "Core #1", 3500.0f},
                     {kSensorVoltage, "VID", 1.25f}}),
          Display({{kSensorTemperature, "GPU", 38.0f},
                   {kSensorUtilisation, "GPU", 7.0f},
                   {kSensorFan, "GPU", 1200.0f},
                   {kSensorClock, "Graphics", 1500.0f},
                   {kSensorVoltage, "GPU", 0.85f}}),
          Mainboard({{kSensorFan, "Chassis 1", 900.9f},
                     {kSensorFan, "CPU", 700.0f},
                     {kSensorFan, "Chassis 2", 2147483520.0f},
                     {kSensorFan, "Chassis 3", 2147483648.0f},
                     {kSensorFan, "Chassis 4", -2147483520.0f}})},
         {50, 9, {700, 700, 2147483520, 0, -2147483520, 0}, 3250, 1.25f, 38, 7, 1200, 1500, 0.85f}},
        // No processor: the CPU fields and the board's fans keep their values.
        {{Display({{kSensorTemperature, "GPU", 41.0f}}), Mainboard({{kSensorFan, "CPU", 1100.0f}})},
         {5, 6, {9, 9, 9, 9, 9, 9}, 7.0f, 8.0f, 41, 0, 0, 0.0f, 0.0f}},
        // A processor without a mainboard zeroes the fans; without a display
        // adapter the GPU fields keep their values.
        {{Processor({{kSensorTemperature, "Core", 45.0f}})},
         {45, 0, {0, 0, 0, 0, 0, 0}, 0.0f, 0.0f, 3, 4, 2, 1.0f, 2.0f}},
    };
    for (const auto& [devices, after] : cases) {
        SCOPED_TRACE(devices.size());
        FakePlatform world;
        fakes::InstallSensorLibraries(world.libraries, true);
        Sensors().devices = devices;
        SensorMonitor m(world.libraries, world.folders, world.console, world.eventLog);
        ASSERT_EQ(m.Init(), 0);
        s = before;
        EXPECT_EQ(m.ReadSensors(&s), 0);
        EXPECT_EQ(Sensors().calls.back(), "refresh");
        EXPECT_EQ(Fields(s), Fields(after));
    }
}

TEST_F(SensorMonitorTest, QueryTemperaturesCopiesAtMostSixteenAndFourValues) {
    ASSERT_EQ(monitor->Init(), 0);
    ASSERT_TRUE(monitor->LoadTemperatureLibrary());
    Sensors().cpu.count = 20;
    for (int i = 0; i < 20; ++i) {
        Sensors().cpu.values.push_back(30 + i);
    }
    Sensors().gpu.count = 6;
    Sensors().gpu.values = {40, 41, 42, 43, 44, 45};
    int32_t cpuCount = -1, gpuCount = -1;
    uint32_t cpu[kCpuTemperatureCount], gpu[kGpuTemperatureCount];
    EXPECT_TRUE(monitor->QueryTemperatures(&cpuCount, cpu, &gpuCount, gpu));
    EXPECT_EQ(cpuCount, 20);
    EXPECT_EQ(cpu[0], 30u);
    EXPECT_EQ(cpu[15], 45u);
    EXPECT_EQ(gpuCount, 6);
    EXPECT_THAT(gpu, ElementsAre(40u, 41u, 42u, 43u));

    // A side whose call reports failure counts 0 and its values are zeroed,
    // whatever the other side did.
    Sensors().gpu.delivered = false;
    EXPECT_TRUE(monitor->QueryTemperatures(&cpuCount, cpu, &gpuCount, gpu));
    EXPECT_EQ(gpuCount, 0);
    EXPECT_THAT(gpu, ElementsAre(0u, 0u, 0u, 0u));
    Sensors().gpu.delivered = true;
    Sensors().cpu.delivered = false;
    EXPECT_TRUE(monitor->QueryTemperatures(&cpuCount, cpu, &gpuCount, gpu));
    EXPECT_EQ(std::tie(cpuCount, gpuCount, cpu[0], cpu[15]), std::make_tuple(0, 6, 0u, 0u));

    Sensors().throwOnCpu = true;
    EXPECT_FALSE(monitor->QueryTemperatures(&cpuCount, cpu, &gpuCount, gpu));
    EXPECT_EQ(Events().back(), L"GetSysTemperature Fail");
    EXPECT_EQ(fp.eventLog.records().back().type, platform::EventType::Information);
}

TEST_F(SensorMonitorTest, TheTemperatureLibraryComesFromTheProgramFolderFirst) {
    auto& coreTemp = fp.libraries.components[kCoreTempLibrary.windows];
    coreTemp.systemFolderSymbols = fakes::OtherCoreTempSymbols();
    Sensors().cpu.count = 1;
    Sensors().cpu.values = {55};
    int32_t cpuCount = 0, gpuCount = 0;
    uint32_t cpu[kCpuTemperatureCount], gpu[kGpuTemperatureCount];

    // Both copies there: the program folder's is used, the system folder
    // is not tried.
    EXPECT_TRUE(monitor->LoadTemperatureLibrary());
    EXPECT_THAT(fp.libraries.systemFolderLoads, IsEmpty());
    monitor->QueryTemperatures(&cpuCount, cpu, &gpuCount, gpu);
    EXPECT_EQ(cpu[0], 55u);
    EXPECT_THAT(Events(), ElementsAre(L"Core temp lib load good"));

    // Not in the program folder: the system folder is the fallback.
    coreTemp.programFolderError = platform::kErrorModNotFound;
    SensorMonitor fallback(fp.libraries, fp.folders, fp.console, fp.eventLog);
    EXPECT_TRUE(fallback.LoadTemperatureLibrary());
    EXPECT_THAT(fp.libraries.systemFolderLoads, ElementsAre(kCoreTempLibrary.windows));
    fallback.QueryTemperatures(&cpuCount, cpu, &gpuCount, gpu);
    EXPECT_EQ(cpu[0], 11u);

    // There but broken: no fallback to some other copy.
    coreTemp.programFolderError = 193;
    SensorMonitor broken(fp.libraries, fp.folders, fp.console, fp.eventLog);
    EXPECT_FALSE(broken.LoadTemperatureLibrary());
    EXPECT_EQ(fp.libraries.systemFolderLoads.size(), 1u);
    EXPECT_EQ(Events().back(), L"Get the core temp .dll failed");

    // Nowhere.
    coreTemp.systemFolderSymbols.reset();
    coreTemp.programFolderError = platform::kErrorModNotFound;
    SensorMonitor none(fp.libraries, fp.folders, fp.console, fp.eventLog);
    EXPECT_FALSE(none.LoadTemperatureLibrary());
    EXPECT_EQ(Events().back(), L"Get the core temp .dll failed");
}

TEST_F(SensorMonitorTest, AnExportMissingLeavesTheLibraryLoadedAndSaysNothing) {
    fp.libraries.components[kCoreTempLibrary.windows].symbols.erase("GetGpuTemp");
    EXPECT_FALSE(monitor->LoadTemperatureLibrary());
    EXPECT_THAT(Events(), IsEmpty());
    EXPECT_NE(monitor->temperatureLibrary, nullptr);
    EXPECT_EQ(monitor->getCpuTemp, nullptr);
}

TEST_F(SensorMonitorTest, TheReleaseUnloadsTheTemperatureLibraryAndClosesTheSdk) {
    ASSERT_EQ(monitor->Init(), 0);
    ASSERT_TRUE(monitor->LoadTemperatureLibrary());
    Sensors().calls.clear();
    monitor.reset();
    EXPECT_THAT(fp.libraries.unloads, ElementsAre(kCoreTempLibrary.windows, kSdkLibrary.windows));
    EXPECT_THAT(Sensors().calls, ElementsAre("close", "destroy"));

    // After a failed start the SDK is still closed and unloaded.
    FakePlatform world;
    fakes::InstallSensorLibraries(world.libraries, true);
    Sensors().startSucceeds = false;
    {
        SensorMonitor m(world.libraries, world.folders, world.console, world.eventLog);
        EXPECT_EQ(m.Init(), -1);
        Sensors().calls.clear();
    }
    EXPECT_THAT(world.libraries.unloads, ElementsAre(kSdkLibrary.windows));
    EXPECT_THAT(Sensors().calls, ElementsAre("close", "destroy"));
}

}  // namespace
}  // namespace vt::telemetry
