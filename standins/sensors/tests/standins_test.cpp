// The two built stand-ins, loaded as the service loads them, serving a
// readings file named by VTSENSORS_FILE.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "telemetry/coretemp.h"
#include "telemetry/cpuidsdk.h"
#include "telemetry/sensor_monitor.h"

namespace {

namespace fs = std::filesystem;
namespace t = vt::telemetry;

class StandIns : public ::testing::Test {
  protected:
    StandIns() {
        file = fs::temp_directory_path() / ("vtsensors-" + std::to_string(::getpid()) + ".json");
        ::setenv("VTSENSORS_FILE", file.c_str(), 1);
    }
    ~StandIns() override {
        ::unsetenv("VTSENSORS_FILE");
        fs::remove(file);
    }
    void Readings(const std::string& text) { std::ofstream(file) << text; }
    template <class Fn>
    Fn Symbol(void* library, const char* name) {
        EXPECT_NE(library, nullptr) << dlerror();
        return reinterpret_cast<Fn>(library != nullptr ? dlsym(library, name) : nullptr);
    }
    fs::path file;
};

// Which sensor a class and an index pick, the monitor's unit tests hold on the
// core in process; here the export, the file read at start and refresh, the
// names handed out, and answers beyond the file, which the service never asks.
TEST_F(StandIns, TheSdkServesTheFilesReadingsFromItsStartAndEachRefresh) {
    Readings(R"({"sdk": {"status": 8},
                 "devices": [{"class": "drive"}, {"class": "processor", "sensors": [
                                {"class": "temperature", "name": "Core #0", "value": 46}]}]})");
    void* library = dlopen(CPUIDSDK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    auto query = Symbol<t::SdkQueryInterfaceFn>(library, "QueryInterface");
    ASSERT_NE(query, nullptr);
    EXPECT_EQ(query(t::kSdkEntryIds[100]), nullptr);
    // The table as the service fills it.
    t::CPUIDSDK table;
    table.Fill(query);
    for (int slot = t::kSlotCreate; slot <= t::kSlotSensorInfo; ++slot) {
        ASSERT_NE(table.table[slot], nullptr) << slot;
    }
    const auto info = table.SensorInfo();
    t::SdkInstance sdk = table.Create()();
    int32_t status = -1, detail = -1;
    EXPECT_NE(table.Start()(sdk, "/x", "cpuidsdk.dll", t::kSdkStartFlags, &status, &detail), 0);
    EXPECT_EQ(status, 8);
    EXPECT_EQ(table.DeviceCount()(sdk), 2);
    EXPECT_EQ(table.DeviceClass()(sdk, 1), t::kClassProcessor);
    EXPECT_EQ(table.DeviceClass()(sdk, 2), 0);
    // The name is the caller's, freed as the service frees it here.
    t::SdkString name = nullptr;
    float value = 0;
    int32_t a, b, c, d;
    ASSERT_NE(info(sdk, 1, 0, t::kSensorTemperature, &a, &name, &b, &value, &c, &d), 0);
    EXPECT_STREQ(name, "Core #0");
    EXPECT_EQ(value, 46.0f);
    std::free(name);
    EXPECT_EQ(info(sdk, 1, 1, t::kSensorTemperature, &a, &name, &b, &value, &c, &d), 0);
    // Each refresh reads the file again, and nothing between.
    Readings(R"({"devices": [{"class": "mainboard"}]})");
    EXPECT_EQ(table.DeviceCount()(sdk), 2);
    table.Refresh()(sdk);
    EXPECT_EQ(table.DeviceCount()(sdk), 1);
    EXPECT_EQ(table.DeviceClass()(sdk, 0), t::kClassMainboard);
    table.Destroy()(sdk);
}

TEST_F(StandIns, TheTemperatureLibraryServesTheFilesTemperatures) {
    void* library = dlopen(CORETEMP_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    auto cpu = Symbol<t::GetCpuTempFn>(library, "GetCpuTemp");
    auto gpu = Symbol<t::GetGpuTempFn>(library, "GetGpuTemp");
    ASSERT_TRUE(cpu && gpu);
    int32_t values[t::kCoreTempCpuValues] = {};
    int32_t count = -1;
    Readings(R"({"cpuTemps": [50, 60, 0, 80]})");
    EXPECT_EQ(cpu(&count, values), 1);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(values[3], 80);
    // Read afresh at every call; the forms of the file are the readings test's.
    Readings(R"({"gpuTemps": [38]})");
    EXPECT_EQ(cpu(&count, values), 0);
    EXPECT_EQ(gpu(&count, values), 1);
    EXPECT_EQ(count, 1);
}

}  // namespace
