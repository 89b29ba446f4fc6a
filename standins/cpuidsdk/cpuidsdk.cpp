// Our sensor SDK: the entries the service uses, over the readings of the
// machine or of the readings file; every other identifier answers null.
#include <cstdlib>
#include <cstring>

#include "export.h"
#include "readings.h"
#include "telemetry/cpuidsdk.h"

#if defined(_WIN32)
#include <windows.h>
// windows.h first
#include <oleauto.h>
#endif

namespace {

namespace t = vt::telemetry;
using vtsensors::Readings;

struct Instance {
    Readings readings;
    vtsensors::CpuTimes previous;
};

Instance* Of(t::SdkInstance instance) {
    return static_cast<Instance*>(instance);
}

void Refresh(Instance& self) {
    self.readings = vtsensors::CurrentReadings(vtsensors::ModuleFolder(), self.previous);
}

const vtsensors::Device* DeviceAt(t::SdkInstance instance, int32_t device) {
    Instance* self = Of(instance);
    if (self == nullptr || device < 0 ||
        device >= static_cast<int32_t>(self->readings.devices.size())) {
        return nullptr;
    }
    return &self->readings.devices[static_cast<size_t>(device)];
}

// The sensor's name as the caller frees it: a BSTR of bytes on Windows,
// malloc'd text elsewhere.
t::SdkString AllocateName(const std::string& name) {
#if defined(_WIN32)
    return reinterpret_cast<t::SdkString>(
        ::SysAllocStringByteLen(name.c_str(), static_cast<UINT>(name.size())));
#else
    char* text = static_cast<char*>(std::malloc(name.size() + 1));
    if (text != nullptr) {
        std::memcpy(text, name.c_str(), name.size() + 1);
    }
    return text;
#endif
}

t::SdkInstance VT_CDECL Create() {
    return new Instance();
}

void VT_CDECL Destroy(t::SdkInstance instance) {
    delete Of(instance);
}

int32_t VT_CDECL Start(t::SdkInstance instance, const char*, const char*, int32_t, int32_t* status,
                       int32_t* detail) {
    Instance* self = Of(instance);
    if (self == nullptr || status == nullptr || detail == nullptr) {
        return 0;
    }
    Refresh(*self);
    *status = self->readings.startStatus;
    *detail = self->readings.startDetail;
    return self->readings.startSucceeds ? 1 : 0;
}

void VT_CDECL Close(t::SdkInstance instance) {
    if (Instance* self = Of(instance)) {
        self->readings = {};
    }
}

void VT_CDECL RefreshEntry(t::SdkInstance instance) {
    if (Instance* self = Of(instance)) {
        Refresh(*self);
    }
}

int32_t VT_CDECL DeviceCount(t::SdkInstance instance) {
    Instance* self = Of(instance);
    return self != nullptr ? static_cast<int32_t>(self->readings.devices.size()) : 0;
}

int32_t VT_CDECL DeviceClass(t::SdkInstance instance, int32_t device) {
    const vtsensors::Device* d = DeviceAt(instance, device);
    return d != nullptr ? d->deviceClass : 0;
}

// The sensors of a device in one class, by position.
const vtsensors::Sensor* SensorAt(const vtsensors::Device& device, int32_t sensorClass,
                                  int32_t index, int32_t* count) {
    int32_t n = 0;
    const vtsensors::Sensor* found = nullptr;
    for (const vtsensors::Sensor& s : device.sensors) {
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

int32_t VT_CDECL SensorCount(t::SdkInstance instance, int32_t device, int32_t sensorClass) {
    const vtsensors::Device* d = DeviceAt(instance, device);
    int32_t n = 0;
    if (d != nullptr) {
        SensorAt(*d, sensorClass, -1, &n);
    }
    return n;
}

int32_t VT_CDECL SensorInfo(t::SdkInstance instance, int32_t device, int32_t sensor,
                            int32_t sensorClass, int32_t* extra1, t::SdkString* name,
                            int32_t* extra2, float* value, int32_t* extra3, int32_t* extra4) {
    const vtsensors::Device* d = DeviceAt(instance, device);
    const vtsensors::Sensor* s =
        d != nullptr ? SensorAt(*d, sensorClass, sensor, nullptr) : nullptr;
    if (s == nullptr || name == nullptr || value == nullptr) {
        return 0;
    }
    for (int32_t* extra : {extra1, extra2, extra3, extra4}) {
        if (extra != nullptr) {
            *extra = 0;
        }
    }
    *name = AllocateName(s->name);
    *value = s->value;
    return 1;
}

}  // namespace

VTSENSORS_EXPORT void* VT_CDECL QueryInterface(uint32_t id) {
    switch (id) {
        case t::kSdkCreateId:
            return reinterpret_cast<void*>(&Create);
        case t::kSdkDestroyId:
            return reinterpret_cast<void*>(&Destroy);
        case t::kSdkStartId:
            return reinterpret_cast<void*>(&Start);
        case t::kSdkCloseId:
            return reinterpret_cast<void*>(&Close);
        case t::kSdkRefreshId:
            return reinterpret_cast<void*>(&RefreshEntry);
        case t::kSdkDeviceCountId:
            return reinterpret_cast<void*>(&DeviceCount);
        case t::kSdkDeviceClassId:
            return reinterpret_cast<void*>(&DeviceClass);
        case t::kSdkSensorCountId:
            return reinterpret_cast<void*>(&SensorCount);
        case t::kSdkSensorInfoId:
            return reinterpret_cast<void*>(&SensorInfo);
        default:
            return nullptr;
    }
}
