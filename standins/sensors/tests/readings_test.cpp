// The readings file and the machine reader, the latter over a fake sysfs
// and procfs tree in a temporary folder.
#include <gtest/gtest.h>

#include <fstream>

#include "readings.h"
#include "telemetry/cpuidsdk.h"

namespace vtsensors {
namespace {

namespace fs = std::filesystem;
namespace t = vt::telemetry;

TEST(ReadingsFile, DevicesSensorsAndBothTemperatureSides) {
    std::string error;
    const Readings r = ParseReadings(R"({
        "sdk": {"status": 8, "detail": 3, "started": false},
        "devices": [
          {"class": "processor", "sensors": [{"class": "temperature", "name": "Core #0", "value": 45.5},
                                             {"class": 61440, "name": "Core #0", "value": 3600}]},
          {"class": 1024}
        ],
        "cpuTemps": {"count": 20, "values": [40, 41]},
        "gpuTemps": null, "takeMs": 1500, "stall": true})",
                                     error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(r.takeMs, 1500);
    EXPECT_TRUE(r.stall);
    EXPECT_EQ(r.startStatus, 8);
    EXPECT_EQ(r.startDetail, 3);
    EXPECT_FALSE(r.startSucceeds);
    ASSERT_EQ(r.devices.size(), 2u);
    EXPECT_EQ(r.devices[0].deviceClass, t::kClassProcessor);
    ASSERT_EQ(r.devices[0].sensors.size(), 2u);
    EXPECT_EQ(r.devices[0].sensors[0].sensorClass, t::kSensorTemperature);
    EXPECT_EQ(r.devices[0].sensors[0].name, "Core #0");
    EXPECT_EQ(r.devices[0].sensors[0].value, 45.5f);
    EXPECT_EQ(r.devices[0].sensors[1].sensorClass, t::kSensorClock);
    EXPECT_EQ(r.devices[1].deviceClass, t::kClassMainboard);
    EXPECT_TRUE(r.cpu.delivered);
    EXPECT_EQ(r.cpu.count, 20);
    EXPECT_EQ(r.cpu.values, (std::vector<int32_t>{40, 41}));
    EXPECT_FALSE(r.gpu.delivered);
}

TEST(ReadingsFile, BrokenOrMissingFilesServeNothing) {
    for (const char* text : {R"({"devices": [{"class": "toaster"}], "cpuTemps": [40]})", "{"}) {
        std::string error;
        const Readings r = ParseReadings(text, error);
        EXPECT_TRUE(r.devices.empty() && !r.cpu.delivered) << text;
        EXPECT_NE(error, "") << text;
    }
    const Readings none = LoadReadingsFile("/nonexistent/sensors.json");
    EXPECT_TRUE(none.devices.empty());
    EXPECT_FALSE(none.cpu.delivered);
    EXPECT_TRUE(none.startSucceeds);
}

TEST(ProcStat, UtilisationBetweenTwoSamples) {
    const auto first = ParseProcStat("cpu  100 0 100 700 100 0 0 0 0 0\ncpu0 1 2 3 4\n");
    ASSERT_TRUE(first);
    const auto second = ParseProcStat("cpu  300 0 100 750 100 0 0 0 0 0\n");
    EXPECT_FLOAT_EQ(Utilisation(*first, *second), 80.0f);
    EXPECT_FLOAT_EQ(Utilisation(*second, *second), 0.0f);
    EXPECT_FALSE(ParseProcStat("intr 1 2 3"));
}

class FakeMachine : public ::testing::Test {
  protected:
    FakeMachine() : root(fs::temp_directory_path() / ("vtsensors-" + std::to_string(::getpid()))) {
        fs::remove_all(root);
    }
    ~FakeMachine() override { fs::remove_all(root); }
    void Write(const std::string& relative, const std::string& text) {
        const fs::path path = root / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << text << "\n";
    }
    fs::path root;
    CpuTimes previous;
};

TEST_F(FakeMachine, NoTemperatureSensorMeansNoMachineReadings) {
    Write("sys/class/hwmon/hwmon0/name", "nct6775");
    Write("sys/class/hwmon/hwmon0/fan1_input", "1200");
    Write("proc/stat", "cpu  1 1 1 1");
    EXPECT_FALSE(ReadMachine(root, previous));
    EXPECT_FALSE(ReadMachine(root / "nothing", previous));
}

TEST_F(FakeMachine, CoresGpuFansClocksAndLoad) {
    Write("sys/class/hwmon/hwmon0/name", "coretemp");
    Write("sys/class/hwmon/hwmon0/temp1_input", "52000");
    Write("sys/class/hwmon/hwmon0/temp1_label", "Package id 0");
    Write("sys/class/hwmon/hwmon0/temp2_input", "47000");
    Write("sys/class/hwmon/hwmon0/temp2_label", "Core 0");
    Write("sys/class/hwmon/hwmon0/temp10_input", "49500");
    Write("sys/class/hwmon/hwmon0/temp10_label", "Core 1");
    Write("sys/class/hwmon/hwmon1/name", "amdgpu");
    Write("sys/class/hwmon/hwmon1/temp1_input", "41000");
    Write("sys/class/hwmon/hwmon1/temp1_label", "edge");
    Write("sys/class/hwmon/hwmon1/fan1_input", "900");
    Write("sys/class/hwmon/hwmon1/freq1_input", "1500000000");
    Write("sys/class/hwmon/hwmon1/in0_input", "850");
    Write("sys/class/hwmon/hwmon1/device/gpu_busy_percent", "7");
    Write("sys/class/hwmon/hwmon2/name", "nct6775");
    Write("sys/class/hwmon/hwmon2/fan2_input", "1250");
    Write("sys/class/hwmon/hwmon2/fan2_label", "CPU Fan");
    Write("sys/class/hwmon/hwmon2/fan1_input", "800");
    Write("sys/devices/system/cpu/cpu0/cpufreq/scaling_cur_freq", "3600000");
    Write("sys/devices/system/cpu/cpu1/cpufreq/scaling_cur_freq", "3400000");
    Write("proc/stat", "cpu  100 0 100 700 100 0 0 0 0 0");

    const std::optional<Readings> r = ReadMachine(root, previous);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->cpu.values, (std::vector<int32_t>{47, 49}));  // the cores, not the package
    EXPECT_EQ(r->cpu.count, 2);
    EXPECT_EQ(r->gpu.values, (std::vector<int32_t>{41}));
    ASSERT_EQ(r->devices.size(), 3u);

    const Device& cpu = r->devices[0];
    EXPECT_EQ(cpu.deviceClass, t::kClassProcessor);
    ASSERT_EQ(cpu.sensors.size(), 6u);
    EXPECT_EQ(cpu.sensors[0].name, "Package id 0");
    EXPECT_EQ(cpu.sensors[2].name, "Core 1");  // temp10 after temp2
    EXPECT_EQ(cpu.sensors[2].value, 49.5f);
    EXPECT_EQ(cpu.sensors[3].sensorClass, t::kSensorClock);
    EXPECT_EQ(cpu.sensors[3].value, 3600.0f);
    EXPECT_EQ(cpu.sensors[5].sensorClass, t::kSensorUtilisation);
    EXPECT_EQ(cpu.sensors[5].value, 20.0f);  // since boot on the first sample
    EXPECT_EQ(previous.total, 1000u);

    const Device& gpu = r->devices[1];
    EXPECT_EQ(gpu.deviceClass, t::kClassDisplayAdapter);
    ASSERT_EQ(gpu.sensors.size(), 5u);
    EXPECT_EQ(gpu.sensors[1].sensorClass, t::kSensorFan);
    EXPECT_EQ(gpu.sensors[2].value, 1500.0f);      // MHz
    EXPECT_FLOAT_EQ(gpu.sensors[3].value, 0.85f);  // V
    EXPECT_EQ(gpu.sensors[4].value, 7.0f);

    const Device& board = r->devices[2];
    EXPECT_EQ(board.deviceClass, t::kClassMainboard);
    ASSERT_EQ(board.sensors.size(), 2u);
    EXPECT_EQ(board.sensors[0].name, "fan1");
    EXPECT_EQ(board.sensors[1].name, "CPU Fan");
}

TEST_F(FakeMachine, AnAmdChipWithoutDiesGivesWhatItHas) {
    Write("sys/class/hwmon/hwmon3/name", "k10temp");
    Write("sys/class/hwmon/hwmon3/temp1_input", "61250");
    Write("sys/class/hwmon/hwmon3/temp1_label", "Tctl");
    const std::optional<Readings> r = ReadMachine(root, previous);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->cpu.values, (std::vector<int32_t>{61}));
    EXPECT_TRUE(r->gpu.delivered);
    EXPECT_EQ(r->gpu.count, 0);
    EXPECT_EQ(r->devices.size(), 1u);
}

}  // namespace
}  // namespace vtsensors
