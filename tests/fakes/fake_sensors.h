// The sensor stand-ins' core, in-process: the unit tests set its readings
// and faults through Sensors() and load it through FakeLibraries as the
// service loads the shipped libraries. Every FakePlatform resets it.
#pragma once

#include "fakes/fake_twlink.h"
#include "sensor_core.h"
#include "telemetry/sensor_monitor.h"

namespace vt::fakes {

inline vtsensors::SensorState& Sensors() {
    return vtsensors::State();
}

inline void ResetSensors() {
    vtsensors::State() = vtsensors::SensorState();
}

inline SymbolMap CoreTempSymbols() {
    return {{"GetCpuTemp", reinterpret_cast<void*>(&vtsensors::GetCpuTemp)},
            {"GetGpuTemp", reinterpret_cast<void*>(&vtsensors::GetGpuTemp)}};
}

// Another copy of the temperature library, whose CPU reading is 11: tells
// the system folder's copy from the program folder's.
inline uint8_t VT_CDECL OtherGetCpuTemp(int32_t* count, int32_t* values) {
    *count = 1;
    values[0] = 11;
    return 1;
}
inline SymbolMap OtherCoreTempSymbols() {
    SymbolMap symbols = CoreTempSymbols();
    symbols["GetCpuTemp"] = reinterpret_cast<void*>(&OtherGetCpuTemp);
    return symbols;
}

// Both libraries beside the program, or none of them.
inline void InstallSensorLibraries(FakeLibraries& libraries, bool present) {
    FakeComponent sdk, coreTemp;
    if (present) {
        sdk.symbols = {{"QueryInterface", reinterpret_cast<void*>(&vtsensors::QueryInterface)}};
        coreTemp.symbols = CoreTempSymbols();
    } else {
        sdk.programFolderError = platform::kErrorModNotFound;
        coreTemp.programFolderError = platform::kErrorModNotFound;
    }
    libraries.components[telemetry::kSdkLibrary.windows] = sdk;
    libraries.components[telemetry::kCoreTempLibrary.windows] = coreTemp;
}

}  // namespace vt::fakes
