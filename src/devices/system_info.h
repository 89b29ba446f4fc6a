// The device library's system readings (temperatures, loads, fans) reach a
// model with a display through a system-information object of the model's
// own: obtained once per process, at the model's first successful creation,
// and kept for good, since the library calls the registered callback for as
// long as the process runs.
#pragma once

#include <atomic>

#include "common/outside_calls.h"
#include "devices/device_layer.h"

namespace vt::devices {

// The callback for the model in `Slot`: hands the record, unchanged, to the
// attached device, or drops it when none is attached.
template <class Device, std::atomic<Device*> DeviceSlots::*Slot>
void VT_STDCALL ForwardSystemInfo(SystemInfoRecord record) {
    InCallback([&record](DeviceLayer& layer) {
        if (Device* device = (layer.slots.*Slot).load()) {
            OutsideCall call("SendSystemInfo");
            device->SendSystemInfo(&record);
        }
    });
}

// Obtains the object into `source` unless that was done before, and
// registers `callback` with it. A library that gives no object is asked
// again at the next creation.
inline void ConnectSystemInfo(DeviceLayer& layer, std::atomic<SystemInfoSource*>& source,
                              SystemInfoCallback callback) {
    if (source.load() != nullptr || layer.api().sysInfo == nullptr) {
        return;
    }
    SystemInfoSource* object = Guarded("sysInfo", layer.api().sysInfo);
    if (object == nullptr) {
        return;
    }
    source = object;
    OutsideCall call("RegisterSystemInfoCallback");
    object->RegisterSystemInfoCallback(callback);
}

}  // namespace vt::devices
