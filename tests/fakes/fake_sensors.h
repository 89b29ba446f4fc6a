// A sensor SDK and a temperature library for unit tests: devices, sensors
// and readings set by the test, every SDK call recorded, fault switches.
// Their exports carry no context, so the state is one global, reset by
// every FakePlatform.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "fakes/fake_twlink.h"
#include "telemetry/cpuidsdk.h"

namespace vt::fakes {

struct FakeSensor {
    int32_t sensorClass;
    std::string name;
    float value;
    bool fails = false;  // sdkSensorInfo answers 0 for it
};

struct FakeSdkDevice {
    int32_t deviceClass;
    std::vector<FakeSensor> sensors;
};

struct FakeSensorState {
    // The SDK.
    std::vector<FakeSdkDevice> devices;
    int32_t startStatus = 0;
    int32_t startDetail = 0;
    int32_t startResult = 1;
    std::set<uint32_t> missing;     // identifiers QueryInterface answers null for
    std::vector<uint32_t> queried;  // every identifier asked for, in order
    std::vector<std::string> calls;
    int liveStrings = 0;  // names handed out and not yet freed
    // The temperature library.
    bool cpuOk = true;
    int32_t cpuCount = 0;
    std::vector<int32_t> cpuValues;
    bool gpuOk = true;
    int32_t gpuCount = 0;
    std::vector<int32_t> gpuValues;
    bool throwOnCpu = false;
    int temperatureCalls = 0;
};

FakeSensorState& Sensors();
void ResetSensors();

SymbolMap SdkSymbols();
SymbolMap CoreTempSymbols();
// A temperature library whose readings are 11 for every core: tells the
// copy that "./<name>" finds from the program folder's.
SymbolMap OtherCoreTempSymbols();

// Both libraries beside the program, or none of them.
void InstallSensorLibraries(FakeLibraries& libraries, bool present);

}  // namespace vt::fakes
