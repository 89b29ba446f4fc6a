// The creation pattern every model follows: open the device through its
// factory, retry once after the model's pause, keep the object in the
// model's slot as soon as the factory returns, run the model's set-up step,
// and report the outcome as an information entry.
#pragma once

#include <atomic>
#include <string>

#include "devices/device_layer.h"

namespace vt::devices {

template <class Device>
struct ModelSpec {
    using Factory = Device*(VT_CDECL*)(const char* path);
    Factory TwLinkApi::*factory;
    std::atomic<Device*> DeviceSlots::*slot;
    uint32_t retryPauseMs;                              // 0: the second attempt follows at once
    void (*setUp)(DeviceLayer& layer, Device& device);  // may be null
    const wchar_t* successText;
    const wchar_t* failureText;
};

template <class Device>
void Create(DeviceLayer& layer, const ModelSpec<Device>& spec, const std::string& path) {
    const auto factory = layer.api().*spec.factory;
    if (factory == nullptr) {
        return;  // no library: nothing can be opened
    }
    std::atomic<Device*>& slot = layer.slots.*spec.slot;
    // Stored at once, null or not: a failed creation empties the slot.
    Device* device = factory(path.c_str());
    slot = device;
    if (device == nullptr) {
        if (spec.retryPauseMs != 0) {
            layer.Pause(spec.retryPauseMs);
        }
        device = factory(path.c_str());
        slot = device;
    }
    if (device == nullptr) {
        layer.LogInformation(spec.failureText);
        return;
    }
    if (spec.setUp != nullptr) {
        spec.setUp(layer, *device);
    }
    layer.LogInformation(spec.successText);
}

// A model as the dispatch sees it: create from a path, or forget.
struct ModelEntry {
    void (*create)(DeviceLayer& layer, const std::string& path);
    void (*clear)(DeviceLayer& layer);
};

template <const auto& Spec>
constexpr ModelEntry EntryFor() {
    return ModelEntry{
        [](DeviceLayer& layer, const std::string& path) { Create(layer, Spec, path); },
        [](DeviceLayer& layer) { (layer.slots.*Spec.slot) = nullptr; },
    };
}

}  // namespace vt::devices
