// What the device layer does with each row of the model table: open the
// device through its factory, retry once after the model's pause, keep the
// object in the model's slot as soon as the factory returns, run the
// model's set-up step, and report the outcome as an information entry.
#include "common/outside_calls.h"
#include "devices/models.h"

#include "devices/system_info.h"

namespace vt::devices {

namespace {

// Keyboards: each registers its own notification callback, which prints
// what the keyboard reported. The library calls back with no context, so
// each model gets its own function, bound at compile time to its texts.
template <Model M>
void VT_STDCALL KeyboardNotify(int32_t* code) {
    InCallback([code](DeviceLayer& layer) {
        if (code == nullptr) {
            return;
        }
        const auto& notices = FactsOf(M).notices;
        layer.PrintLine(notices[0]);
        const std::string_view line = *code == 0   ? notices[1]
                                      : *code == 1 ? notices[2]
                                                   : notices[3];
        if (!line.empty()) {
            layer.PrintLine(line);
        }
    });
}

template <Model M, class Device>
void KeyboardSetUp(DeviceLayer&, Device& device) {
    device.RegisterNotifyCallback(&KeyboardNotify<M>);
}

// Headsets report presses of their 7.1 and mute keys as information entries.
constexpr int32_t kKey71 = 4;
constexpr int32_t kKeyMute = 5;

template <Model M>
void VT_STDCALL HeadsetKey(int32_t keyCode, int32_t) {
    InCallback([keyCode](DeviceLayer& layer) {
        const auto& notices = FactsOf(M).notices;
        if (keyCode == kKey71 || keyCode == kKeyMute) {
            const std::string_view text = notices[keyCode == kKey71 ? 0 : 1];
            layer.LogInformation(std::wstring(text.begin(), text.end()));
        }
    });
}

template <Model M, class Device>
void HeadsetSetUp(DeviceLayer&, Device& device) {
    device.RegisterKeyCallback(&HeadsetKey<M>);
    int32_t on = 1;
    device.SetKeyNotify(&on);
}

constexpr uint8_t kMusicPulseMode = 216;
constexpr int32_t kEffectModeChanged = 2;

void VT_STDCALL RX420EffectMode(int32_t code) {
    InCallback([code](DeviceLayer& layer) {
        if (code == kEffectModeChanged) {
            layer.LogInformation(L"RX420 effect mode notify");
        }
    });
}

// A mouse found in music-pulse mode gets the pulse started before the
// creation is reported.
template <Model, class Device>
void RX420SetUp(DeviceLayer&, Device& device) {
    device.RegisterEffectModeCallback(&RX420EffectMode);
    uint8_t mode = 0;
    device.GetEffectMode(&mode);
    if (mode == kMusicPulseMode) {
        device.SetMusicPulse(1);
    }
}

// The cooler reports whether it is to follow the screen saver and which
// mode it shows. Found in the multi-display mode, it gets an empty cycle,
// so nothing is stepped until the desktop application sends one.
template <Model, class Device>
void LQ120SetUp(DeviceLayer& layer, Device& device) {
    CoolerDisplay& cooler = layer.cooler;
    SaverSettings settings{0, 1, 100, 100};
    device.GetSaverSettings(&settings);
    cooler.screenSaveEnabled = settings.screenSaveEnabled;
    uint8_t mode = 0;
    device.GetDisplayMode(&mode);
    if (mode == kMultiDisplayMode) {
        DisplayCycleRequest empty{5, {kNoMode, kNoMode, kNoMode, kNoMode, kNoMode}, 0};
        device.SetMultiDisplay(&empty);
        cooler.SetDisplayCycle(empty);
    }
    cooler.SetCycleActive(mode == kMultiDisplayMode);
    ConnectSystemInfo(layer, layer.lq120SystemInfo,
                      &ForwardSystemInfo<LQ120Device, &DeviceSlots::lq120>);
}

// The case panel's settings path, system readings and panel feed.
template <Model, class Device>
void CS900SetUp(DeviceLayer& layer, Device&) {
    if (CS900Panel* panel = layer.cs900Panel()) {
        panel->SetUp();
    }
}

template <Model, class Device>
void NoSetUp(DeviceLayer&, Device&) {}

template <Model M, class Device, Device* (VT_CDECL* TwLinkApi::*Factory)(const char*),
          std::atomic<Device*> DeviceSlots::*Slot, void (*SetUp)(DeviceLayer&, Device&)>
void Create(DeviceLayer& layer, const std::string& path) {
    const auto factory = layer.api().*Factory;
    if (factory == nullptr) {
        return;  // no library: nothing can be opened
    }
    const ModelFacts& facts = FactsOf(M);
    std::atomic<Device*>& slot = layer.slots.*Slot;
    // Stored at once, null or not: a failed creation empties the slot.
    // The row's export name is a literal, so its text is terminated.
    Device* device =
        Guarded(kModelRows[static_cast<size_t>(M)].factory.data(), factory, path.c_str());
    slot = device;
    if (device == nullptr) {
        if (facts.retryPauseMs != 0) {
            layer.Pause(facts.retryPauseMs);
        }
        device = Guarded(kModelRows[static_cast<size_t>(M)].factory.data(), factory, path.c_str());
        slot = device;
    }
    if (device == nullptr) {
        layer.LogInformation(facts.failed);
        return;
    }
    {
        // The model's first calls on its new object (callbacks, modes).
        OutsideCall call(kModelRows[static_cast<size_t>(M)].factory.data());
        SetUp(layer, *device);
    }
    layer.LogInformation(facts.created);
}

template <class Device, std::atomic<Device*> DeviceSlots::*Slot>
void Clear(DeviceLayer& layer) {
    layer.slots.*Slot = nullptr;
}

}  // namespace

#define VT_MODEL_ENTRY(slot, Interface, factory, SetUp, ...)                            \
    ModelEntry{&Create<Model::slot, Interface, &TwLinkApi::factory, &DeviceSlots::slot, \
                       &SetUp<Model::slot, Interface>>,                                 \
               &Clear<Interface, &DeviceSlots::slot>},
const ModelEntry kModelEntries[] = {VT_DRIVEN_MODELS(VT_MODEL_ENTRY)};
#undef VT_MODEL_ENTRY

const ModelEntry& EntryOf(Model model) {
    return kModelEntries[static_cast<size_t>(model)];
}

}  // namespace vt::devices
