// Where the shipped sensor stand-ins get their values: one set of readings,
// taken afresh at each refresh, either from the machine (Linux hwmon,
// /proc/stat, cpufreq) or from a readings file that tests and demos write.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "sensor_core.h"

namespace vtsensors {

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

// Makes this module's core serve CurrentReadings for the library that
// holds it, and record no calls: what a shipped stand-in does at load.
void ServeCurrentReadings();

// Per system: the folder of the module that holds this code, and a
// variable of the environment as a path.
std::filesystem::path ModuleFolder();
std::optional<std::filesystem::path> EnvPath(const char* name);
bool HasMachineSensors();

}  // namespace vtsensors
