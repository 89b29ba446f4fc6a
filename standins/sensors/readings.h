// Where the sensor stand-ins get their values: one set of readings, taken
// afresh at each refresh, either from the machine (Linux hwmon, /proc/stat,
// cpufreq) or from a readings file that tests and demos write.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vtsensors {

struct Sensor {
    int32_t sensorClass;  // the SDK's sensor class codes
    std::string name;
    float value;
};

struct Device {
    int32_t deviceClass;  // the SDK's device class codes
    std::vector<Sensor> sensors;
};

// One side of the temperature library: nothing (the call answers false),
// or a count and its values in whole degrees.
struct TemperatureList {
    bool delivered = false;
    int32_t count = 0;
    std::vector<int32_t> values;
};

struct Readings {
    // What the SDK's start reports.
    int32_t startStatus = 0;
    int32_t startDetail = 0;
    bool startSucceeds = true;
    std::vector<Device> devices;
    TemperatureList cpu;
    TemperatureList gpu;
};

// The readings file: JSON, see the README. Empty readings (no devices, no
// temperatures) when it is missing; a broken file is reported on standard
// error and gives the same.
Readings LoadReadingsFile(const std::filesystem::path& path);
Readings ParseReadings(const std::string& text, std::string& error);

// /proc/stat's first line, in jiffies.
struct CpuTimes {
    uint64_t busy = 0;
    uint64_t total = 0;
};
std::optional<CpuTimes> ParseProcStat(const std::string& text);
// Percent busy between two samples (since boot when `before` is all 0).
float Utilisation(const CpuTimes& before, const CpuTimes& now);

// The machine's sensors below `root` ("/" for the real one): hwmon chips
// coretemp/k10temp (per-core temperatures), amdgpu/nouveau/radeon (GPU),
// any other chip's fans (mainboard), cpufreq clocks and /proc/stat
// utilisation against `previous`, which is updated. Nothing when the
// machine has no temperature sensor.
std::optional<Readings> ReadMachine(const std::filesystem::path& root, CpuTimes& previous);

// The readings to serve now: the file VTSENSORS_FILE names when set; else
// the machine's sensors where it has them (Linux only); else sensors.json
// in `libraryFolder`.
Readings CurrentReadings(const std::filesystem::path& libraryFolder, CpuTimes& previous);

// Per system: the folder of the module that holds this code, and a
// variable of the environment as a path.
std::filesystem::path ModuleFolder();
std::optional<std::filesystem::path> EnvPath(const char* name);
bool HasMachineSensors();

}  // namespace vtsensors
