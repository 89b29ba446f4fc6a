// The sensor SDK and the temperature library, written once: what they
// serve, the log of what was called and the faults a caller can be shown.
// The shipped libraries (standins/cpuidsdk, standins/coretemp) are thin
// shells over it that take fresh readings from the machine or a readings
// file; the unit tests call it in-process and set the readings themselves.
//
// The exports carry no context (the SDK's instance aside), so each module
// that links this holds one state: each shipped library its own, as the
// real components do.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "telemetry/cpuidsdk.h"

namespace vtsensors {

struct Sensor {
    int32_t sensorClass;  // the SDK's sensor class codes
    std::string name;
    float value;
    bool fails = false;  // its information call answers 0
};

struct Device {
    int32_t deviceClass;  // the SDK's device class codes
    std::vector<Sensor> sensors;
};

// One side of the temperature library: nothing (the call answers false),
// or a count and its values in whole degrees. The count is the library's
// own and need not match the values.
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
    // How a shipped library behaves while its readings file says so: each
    // reading takes this long, or does not return at all until the file
    // no longer says "stall" (an SDK probing hardware, or hung in a driver).
    int32_t takeMs = 0;
    bool stall = false;
};

struct SensorState : Readings {
    // Where fresh readings come from: at the SDK's start and refresh, and
    // at every temperature call. Without one the readings stay as set,
    // which is how the unit tests drive it.
    std::function<Readings()> source;
    // How a sensor's name is handed out; the caller frees it as its
    // system's component string (malloc'd text unless a shell says
    // otherwise).
    vt::telemetry::SdkString (*allocateName)(const std::string& name);

    // Faults: identifiers QueryInterface answers null for, and a CPU
    // temperature call that throws as a broken driver would.
    std::set<uint32_t> missing;
    bool throwOnCpu = false;

    // What was called. The shipped libraries run for days and record
    // nothing but the counts.
    bool recordCalls = true;
    std::vector<std::string> calls;  // the SDK's entries, with their arguments
    std::vector<uint32_t> queried;   // every identifier asked for, in order
    int namesHandedOut = 0;
    int temperatureCalls = 0;

    // A started SDK with nothing connected, and a temperature library that
    // answers with no readings.
    SensorState();
};

// This module's state.
SensorState& State();

// The SDK's one export.
void* VT_CDECL QueryInterface(uint32_t id);
// The temperature library's two.
uint8_t VT_CDECL GetCpuTemp(int32_t* count, int32_t* values);
uint8_t VT_CDECL GetGpuTemp(int32_t* count, int32_t* values);

}  // namespace vtsensors
