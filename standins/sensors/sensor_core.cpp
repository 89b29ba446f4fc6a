#include "sensor_core.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "telemetry/coretemp.h"

namespace vtsensors {

namespace t = vt::telemetry;

namespace {

// The one instance the SDK hands out; its address is the handle.
int g_instance;

t::SdkString MallocName(const std::string& name) {
    char* text = static_cast<char*>(std::malloc(name.size() + 1));
    if (text != nullptr) {
        std::memcpy(text, name.c_str(), name.size() + 1);
    }
    return text;
}

void Record(const std::string& call) {
    if (State().recordCalls) {
        State().calls.push_back(call);
    }
}

bool Ours(t::SdkInstance instance) {
    return instance == &g_instance;
}

void TakeReadings() {
    SensorState& s = State();
    if (s.source) {
        static_cast<Readings&>(s) = s.source();
    }
}

const Device* DeviceAt(t::SdkInstance instance, int32_t device) {
    const std::vector<Device>& devices = State().devices;
    if (!Ours(instance) || device < 0 || device >= static_cast<int32_t>(devices.size())) {
        return nullptr;
    }
    return &devices[static_cast<size_t>(device)];
}

// The sensor of a device at `index` among those of one class, and how many
// there are of that class.
const Sensor* SensorAt(const Device& device, int32_t sensorClass, int32_t index, int32_t* count) {
    int32_t n = 0;
    const Sensor* found = nullptr;
    for (const Sensor& s : device.sensors) {
        if (s.sensorClass == sensorClass) {
            if (n == index) {
                found = &s;
            }
            ++n;
        }
    }
    if (count != nullptr) {
        *count = n;
    }
    return found;
}

t::SdkInstance VT_CDECL Create() {
    Record("create");
    return &g_instance;
}

void VT_CDECL Destroy(t::SdkInstance instance) {
    Record(Ours(instance) ? "destroy" : "destroy(?)");
}

int32_t VT_CDECL Start(t::SdkInstance instance, const char* folder, const char* file, int32_t flags,
                       int32_t* status, int32_t* detail) {
    Record(std::string("start(") + (Ours(instance) ? "" : "?,") + (folder ? folder : "") + "," +
           (file ? file : "") + "," + std::to_string(flags) + ")");
    if (status == nullptr || detail == nullptr) {
        return 0;
    }
    // A caller whose table lacks the create entry starts a null instance:
    // the start still answers, but only our instance takes readings.
    if (Ours(instance)) {
        TakeReadings();
    }
    const SensorState& s = State();
    *status = s.startStatus;
    *detail = s.startDetail;
    return s.startSucceeds ? 1 : 0;
}

void VT_CDECL Close(t::SdkInstance) {
    Record("close");
    // What a start took goes with the session; readings set by hand stay.
    if (State().source) {
        static_cast<Readings&>(State()) = Readings{};
    }
}

void VT_CDECL Refresh(t::SdkInstance instance) {
    Record("refresh");
    if (Ours(instance)) {
        TakeReadings();
    }
}

int32_t VT_CDECL DeviceCount(t::SdkInstance instance) {
    return Ours(instance) ? static_cast<int32_t>(State().devices.size()) : 0;
}

int32_t VT_CDECL DeviceClass(t::SdkInstance instance, int32_t device) {
    const Device* d = DeviceAt(instance, device);
    return d != nullptr ? d->deviceClass : 0;
}

int32_t VT_CDECL SensorCount(t::SdkInstance instance, int32_t device, int32_t sensorClass) {
    const Device* d = DeviceAt(instance, device);
    int32_t n = 0;
    if (d != nullptr) {
        SensorAt(*d, sensorClass, -1, &n);
    }
    return n;
}

int32_t VT_CDECL SensorInfo(t::SdkInstance instance, int32_t device, int32_t sensor,
                            int32_t sensorClass, int32_t* extra1, t::SdkString* name,
                            int32_t* extra2, float* value, int32_t* extra3, int32_t* extra4) {
    const Device* d = DeviceAt(instance, device);
    const Sensor* s = d != nullptr ? SensorAt(*d, sensorClass, sensor, nullptr) : nullptr;
    if (s == nullptr || s->fails || name == nullptr || value == nullptr) {
        return 0;
    }
    for (int32_t* extra : {extra1, extra2, extra3, extra4}) {
        if (extra != nullptr) {
            *extra = 0;
        }
    }
    *name = State().allocateName(s->name);
    ++State().namesHandedOut;
    *value = s->value;
    return 1;
}

// One side of the temperature library from fresh readings when there is a
// source: taken for this call only, as the library reads afresh each time.
uint8_t Deliver(TemperatureList Readings::*side, int32_t* count, int32_t* values, size_t capacity) {
    SensorState& s = State();
    ++s.temperatureCalls;
    const TemperatureList list = s.source ? s.source().*side : s.*side;
    if (!list.delivered || count == nullptr || values == nullptr) {
        return 0;
    }
    *count = list.count;
    for (size_t i = 0; i < list.values.size() && i < capacity; ++i) {
        values[i] = list.values[i];
    }
    return 1;
}

}  // namespace

SensorState::SensorState() : allocateName(&MallocName) {
    cpu.delivered = true;
    gpu.delivered = true;
}

SensorState& State() {
    static SensorState state;
    return state;
}

void* VT_CDECL QueryInterface(uint32_t id) {
    SensorState& s = State();
    if (s.recordCalls) {
        s.queried.push_back(id);
    }
    if (s.missing.count(id) != 0) {
        return nullptr;
    }
    // By the positions of the used entries in the contract's table.
    static void* const kEntries[t::kUsedSlotCount] = {
        reinterpret_cast<void*>(&Create),      reinterpret_cast<void*>(&Destroy),
        reinterpret_cast<void*>(&Start),       reinterpret_cast<void*>(&Close),
        reinterpret_cast<void*>(&Refresh),     reinterpret_cast<void*>(&DeviceCount),
        reinterpret_cast<void*>(&DeviceClass), reinterpret_cast<void*>(&SensorCount),
        reinterpret_cast<void*>(&SensorInfo)};
    for (size_t slot = 0; slot < std::size(kEntries); ++slot) {
        if (t::kSdkEntryIds[slot] == id) {
            return kEntries[slot];
        }
    }
    return nullptr;
}

uint8_t VT_CDECL GetCpuTemp(int32_t* count, int32_t* values) {
    if (State().throwOnCpu) {
        throw std::runtime_error("sensor driver gone");
    }
    return Deliver(&Readings::cpu, count, values, t::kCoreTempCpuValues);
}

uint8_t VT_CDECL GetGpuTemp(int32_t* count, int32_t* values) {
    return Deliver(&Readings::gpu, count, values, t::kCoreTempGpuValues);
}

}  // namespace vtsensors
