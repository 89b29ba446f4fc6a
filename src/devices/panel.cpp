#include "common/outside_calls.h"
#include "devices/panel.h"

#include "common/profile_text.h"
#include "devices/device_layer.h"
#include "devices/system_info.h"

namespace vt::devices {

namespace {

constexpr char kIniFile[] = "localdevice.ini";
constexpr char kCustomValueSection[] = "CS900_MODE_19";
constexpr char kCustomValueKey[] = "value";
constexpr uint8_t kCycleExtraPreset = 5;

struct Needs {
    bool customValue = false;
    bool latency = false;
    bool systemValue = false;

    void Add(uint8_t mode) {
        customValue |= mode == kPanelModeCustomValue;
        latency |= mode == kPanelModeLatency;
        systemValue |= mode == kPanelModeSystemValue;
    }
    bool any() const { return customValue || latency || systemValue; }
};

}  // namespace

CS900Panel::CS900Panel(DeviceLayer& layer, const PanelSystem& system)
    : layer_(layer),
      system_(system),
      ping_(layer.clock()),
      iniFile_(system.folders, layer.eventLog(), L"localdevice.ini") {}

void CS900Panel::SetUp() {
    BuildLocalDeviceIniPath();
    ConnectSystemInfo(layer_, systemInfo_, &ForwardSystemInfo<CS900Device, &DeviceSlots::cs900>);
    uint8_t idle = 0;
    if (panelThreadRunning.compare_exchange_strong(idle, 1)) {
        ++threadsInside_;
        if (!system_.threads.StartThread(&CS900Panel::ThreadMain, this)) {
            --threadsInside_;
            panelThreadRunning = 0;  // the next creation tries again
        }
    }
}

void CS900Panel::BuildLocalDeviceIniPath() {
    std::string folder;
    if (!system_.folders.SharedDataFolder(folder)) {
        return;
    }
    const std::string path = folder + system_.folders.Separator() + kIniFile;
    {
        std::lock_guard<std::mutex> lock(pathMutex_);
        localDeviceIniPath_ = path;
    }
    layer_.PrintLine("app path : " + path);
}

std::string CS900Panel::localDeviceIniPath() const {
    std::lock_guard<std::mutex> lock(pathMutex_);
    return localDeviceIniPath_;
}

CS900Panel::~CS900Panel() {
    stopping = true;
    // The thread looks at `stopping` after each pass; the service's stop
    // has already ended the period it waits out.
    constexpr uint32_t kStepMs = 10;
    for (uint32_t waited = 0; threadsInside_.load() > 0 && waited < 3 * kPanelPeriodMs;
         waited += kStepMs) {
        layer_.clock().Sleep(kStepMs);
    }
}

void CS900Panel::ThreadMain(void* context) {
    auto* panel = static_cast<CS900Panel*>(context);
    panel->system_.threads.NameCurrentThread("vt-panel");
    PanelThread(*panel).Run();
    --panel->threadsInside_;  // last: the panel may be gone right after
}

void PanelThread::Run() {
    bool faulted = false;
    for (;;) {
        try {
            while (panel_.panelThreadRunning.load() != 0 && !panel_.stopping && Pass()) {
            }
        } catch (...) {
            faulted = true;  // a fault ends the thread; the next creation starts anew
        }
        panel_.panelThreadRunning = 0;
        // A CS900 created between the last look at the slot and the line
        // above found the thread still running and started none: serve it.
        uint8_t idle = 0;
        if (faulted || panel_.stopping || panel_.layer_.slots.cs900.load() == nullptr ||
            !panel_.panelThreadRunning.compare_exchange_strong(idle, 1)) {
            return;
        }
    }
}

bool PanelThread::Pass() {
    CS900Device* device = panel_.layer_.slots.cs900.load();
    if (device == nullptr) {
        return false;
    }
    Needs needs;
    uint8_t mode = 0;
    {
        OutsideCall call("CS900 GetPanelMode/GetPanelCycle");
        device->GetPanelMode(&mode);
        if (mode == kPanelModeCycle) {
            PanelCycle cycle{0, {0, 0, 0, 0, 0}, kCycleExtraPreset};
            device->GetPanelCycle(&cycle);
            if (cycle.count > 0) {
                for (uint8_t member : cycle.modes) {
                    needs.Add(member);
                }
            }
        }
    }
    needs.Add(mode);
    PanelData data{0, 0, 0};
    if (needs.customValue) {
        // A missing or refused file reads as the missing value: 0.
        std::string text;
        if (panel_.iniFile_.Read(panel_.localDeviceIniPath(), text)) {
            data.customValue = static_cast<int32_t>(
                ProfileIntFromText(text, kCustomValueSection, kCustomValueKey, 0));
        }
    }
    if (needs.latency) {
        ProbeLatency(panel_.system_.icmp, panel_.ping_, *device, data);
    }
    if (needs.systemValue) {
        uint32_t value = 0;
        // Without the library's source the value stays 0.
        if (SystemInfoSource* source = panel_.systemInfo_.load()) {
            OutsideCall call("QuerySystemValue");
            source->QuerySystemValue(&value);
        }
        data.systemValue = value;
    }
    if (needs.any()) {
        OutsideCall call("CS900 SendPanelData");
        device->SendPanelData(&data);
    }
    if (panel_.layer_.Pause(kPanelPeriodMs)) {
        panel_.stopping = true;  // also when the stop came without OnStop
    }
    return true;
}

}  // namespace vt::devices
