#include "fakes/fake_sensors.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>

#include "telemetry/sensor_monitor.h"

namespace vt::fakes {

using namespace telemetry;

namespace {

FakeSensorState g_sensors;
int g_instance;  // the SDK instance handle points here

void Record(const std::string& call) {
    g_sensors.calls.push_back(call);
}

const FakeSdkDevice* Device(SdkInstance instance, int32_t device) {
    if (instance != &g_instance || device < 0 ||
        device >= static_cast<int32_t>(g_sensors.devices.size())) {
        return nullptr;
    }
    return &g_sensors.devices[static_cast<size_t>(device)];
}

std::vector<const FakeSensor*> OfClass(const FakeSdkDevice& device, int32_t sensorClass) {
    std::vector<const FakeSensor*> out;
    for (const FakeSensor& s : device.sensors) {
        if (s.sensorClass == sensorClass) {
            out.push_back(&s);
        }
    }
    return out;
}

extern "C" {
SdkInstance VT_CDECL FakeCreate() {
    Record("create");
    return &g_instance;
}
void VT_CDECL FakeDestroy(SdkInstance instance) {
    Record(instance == &g_instance ? "destroy" : "destroy(?)");
}
int32_t VT_CDECL FakeStart(SdkInstance instance, const char* folder, const char* file,
                           int32_t flags, int32_t* status, int32_t* detail) {
    Record(std::string("start(") + (instance == &g_instance ? "" : "?,") + folder + "," + file +
           "," + std::to_string(flags) + ")");
    *status = g_sensors.startStatus;
    *detail = g_sensors.startDetail;
    return g_sensors.startResult;
}
void VT_CDECL FakeClose(SdkInstance) {
    Record("close");
}
void VT_CDECL FakeRefresh(SdkInstance) {
    Record("refresh");
}
int32_t VT_CDECL FakeDeviceCount(SdkInstance) {
    return static_cast<int32_t>(g_sensors.devices.size());
}
int32_t VT_CDECL FakeDeviceClass(SdkInstance instance, int32_t device) {
    const FakeSdkDevice* d = Device(instance, device);
    return d != nullptr ? d->deviceClass : 0;
}
int32_t VT_CDECL FakeSensorCount(SdkInstance instance, int32_t device, int32_t sensorClass) {
    const FakeSdkDevice* d = Device(instance, device);
    return d != nullptr ? static_cast<int32_t>(OfClass(*d, sensorClass).size()) : 0;
}
int32_t VT_CDECL FakeSensorInfo(SdkInstance instance, int32_t device, int32_t sensor,
                                int32_t sensorClass, int32_t*, SdkString* name, int32_t*,
                                float* value, int32_t*, int32_t*) {
    const FakeSdkDevice* d = Device(instance, device);
    if (d == nullptr) {
        return 0;
    }
    const std::vector<const FakeSensor*> sensors = OfClass(*d, sensorClass);
    if (sensor < 0 || sensor >= static_cast<int32_t>(sensors.size()) ||
        sensors[static_cast<size_t>(sensor)]->fails) {
        return 0;
    }
    const FakeSensor& s = *sensors[static_cast<size_t>(sensor)];
    *name = static_cast<char*>(std::malloc(s.name.size() + 1));
    std::memcpy(*name, s.name.c_str(), s.name.size() + 1);
    ++g_sensors.liveStrings;
    *value = s.value;
    return 1;
}

void* VT_CDECL FakeQueryInterface(uint32_t id) {
    g_sensors.queried.push_back(id);
    if (g_sensors.missing.count(id) != 0) {
        return nullptr;
    }
    static const std::map<uint32_t, void*> kEntries = {
        {kSdkCreateId, reinterpret_cast<void*>(&FakeCreate)},
        {kSdkDestroyId, reinterpret_cast<void*>(&FakeDestroy)},
        {kSdkStartId, reinterpret_cast<void*>(&FakeStart)},
        {kSdkCloseId, reinterpret_cast<void*>(&FakeClose)},
        {kSdkRefreshId, reinterpret_cast<void*>(&FakeRefresh)},
        {kSdkDeviceCountId, reinterpret_cast<void*>(&FakeDeviceCount)},
        {kSdkDeviceClassId, reinterpret_cast<void*>(&FakeDeviceClass)},
        {kSdkSensorCountId, reinterpret_cast<void*>(&FakeSensorCount)},
        {kSdkSensorInfoId, reinterpret_cast<void*>(&FakeSensorInfo)},
    };
    auto it = kEntries.find(id);
    return it == kEntries.end() ? nullptr : it->second;
}

uint8_t Fill(bool ok, int32_t count, const std::vector<int32_t>& values, int32_t* count_out,
             int32_t* out, size_t capacity) {
    ++g_sensors.temperatureCalls;
    if (!ok) {
        return 0;
    }
    *count_out = count;
    for (size_t i = 0; i < values.size() && i < capacity; ++i) {
        out[i] = values[i];
    }
    return 1;
}

uint8_t VT_CDECL FakeGetCpuTemp(int32_t* count, int32_t* values) {
    if (g_sensors.throwOnCpu) {
        throw std::runtime_error("sensor driver gone");
    }
    return Fill(g_sensors.cpuOk, g_sensors.cpuCount, g_sensors.cpuValues, count, values,
                kCoreTempCpuValues);
}
uint8_t VT_CDECL FakeGetGpuTemp(int32_t* count, int32_t* values) {
    return Fill(g_sensors.gpuOk, g_sensors.gpuCount, g_sensors.gpuValues, count, values,
                kCoreTempGpuValues);
}
uint8_t VT_CDECL OtherGetCpuTemp(int32_t* count, int32_t* values) {
    *count = 1;
    values[0] = 11;
    return 1;
}
}

}  // namespace

FakeSensorState& Sensors() {
    return g_sensors;
}

void ResetSensors() {
    g_sensors = FakeSensorState{};
}

SymbolMap SdkSymbols() {
    return {{"QueryInterface", reinterpret_cast<void*>(&FakeQueryInterface)}};
}

SymbolMap CoreTempSymbols() {
    return {{"GetCpuTemp", reinterpret_cast<void*>(&FakeGetCpuTemp)},
            {"GetGpuTemp", reinterpret_cast<void*>(&FakeGetGpuTemp)}};
}

SymbolMap OtherCoreTempSymbols() {
    return {{"GetCpuTemp", reinterpret_cast<void*>(&OtherGetCpuTemp)},
            {"GetGpuTemp", reinterpret_cast<void*>(&FakeGetGpuTemp)}};
}

void InstallSensorLibraries(FakeLibraries& libraries, bool present) {
    FakeComponent sdk, coreTemp;
    if (present) {
        sdk.symbols = SdkSymbols();
        coreTemp.symbols = CoreTempSymbols();
    } else {
        sdk.programFolderError = platform::kErrorModNotFound;
        coreTemp.programFolderError = platform::kErrorModNotFound;
    }
    libraries.components[kSdkLibrary.windows] = sdk;
    libraries.components[kCoreTempLibrary.windows] = coreTemp;
}

}  // namespace vt::fakes
