// The service's side of the device library: the resolved exports, one slot
// per driven model, the OLED mouse's presence and the companion count.
//
// Threads: the start-up enumeration runs on the service start thread; the
// hot-plug callback and every device callback run on the library's threads.
// Slots and counters are atomics written and read whole, without a lock;
// readers test a slot for null before use. Device objects belong to the
// library and are never freed: a removal only forgets the object.
//
// Callbacks handed to the library carry no context, so they reach the layer
// through the one active instance (SetActive), set before any callback can
// be registered, and only through a CallbackScope: the layer's destruction
// waits (bounded) until no callback is inside it any more, since the
// library may call back at any moment until the process ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/pass_wait.h"
#include "devices/cooler.h"
#include "devices/model_table.h"
#include "devices/panel.h"
#include "devices/twlink.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/event_log.h"
#include "platform/library.h"
#include "platform/threads.h"

namespace vt::devices {

// One slot per driven model, named as its row in the model table.
#define VT_MODEL_SLOT(slot, Interface, ...) std::atomic<Interface*> slot{nullptr};
struct DeviceSlots {
    VT_DRIVEN_MODELS(VT_MODEL_SLOT)
};
#undef VT_MODEL_SLOT

inline constexpr platform::LibraryName kTwLinkLibrary{kTwLinkWindowsName, kTwLinkPosixName};

class DeviceLayer {
  public:
    DeviceLayer(platform::EventLog& eventLog, platform::Console& console, platform::Clock& clock);
    // No longer the active layer, then waits (up to kCallbackWaitMs) for the
    // callbacks still inside it.
    ~DeviceLayer();
    DeviceLayer(const DeviceLayer&) = delete;
    DeviceLayer& operator=(const DeviceLayer&) = delete;

    // The instance the library's callbacks reach; null when none.
    static DeviceLayer* Active();
    static void SetActive(DeviceLayer* layer);

    // Loads the library from the program's folder and resolves every export
    // at once. On failure writes one error entry naming the library and
    // leaves the layer without a library: every later call is then a no-op
    // and the service runs on with no devices.
    bool Load(platform::Libraries& libraries);
    // For tests: a library already resolved.
    void Attach(const TwLinkApi& api);
    bool loaded() const { return loaded_; }
    const TwLinkApi& api() const { return api_; }

    // The start-up steps, in the order the service runs them.
    void ClearStartSlots();
    void StartLibrary();  // twlink_background(1), then twlink_init()
    void EnumerateAttached();
    void RegisterHotPlug();

    // What the service's stop does to the device state.
    void OnServiceStop();
    // The service's stop event: once it is set, a pause (a creation's
    // before its second attempt, the case panel's period) ends at once, and
    // the waits below wait for it and for their wake-ups instead of
    // polling. Without it a pause is a sleep and the waits poll. False, with
    // threads.LastError() set, when a wake-up event cannot be made.
    bool WatchStop(platform::Threads& threads, platform::Event& stop);
    // True when the pause ended because the service stops.
    bool Pause(uint32_t milliseconds);

    // Gives the CS900 its panel feed; without it (tests of other models)
    // a CS900 is opened and kept but its panel is not fed.
    void AttachPanel(const PanelSystem& system);
    CS900Panel* cs900Panel() { return cs900Panel_.get(); }

    // The hot-plug callback handed to the library.
    static void VT_STDCALL OnDeviceNotify(DevNotifyRecord record);
    // One arrival or removal, as the callback handles it.
    void HandleNotify(const DevNotifyRecord& record);

    void LogInformation(std::wstring_view text);
    void PrintLine(std::string_view text);
    platform::Clock& clock() { return clock_; }
    platform::EventLog& eventLog() { return eventLog_; }

    static constexpr uint32_t kCallbackWaitMs = 3000;

    DeviceSlots slots;
    // Woken when rx410Present changes, and by the pipe's "enable" and
    // "disable": what the OLED job waits on while it has nothing to do.
    std::atomic<int32_t> rx410Present{0};
    PassWait oledJobWait;
    // Woken whenever companionDeviceCount changes: what the companion
    // watcher waits on while no device needs the program.
    std::atomic<int32_t> companionDeviceCount{0};
    PassWait companionWait;
    // The cooler's display cycle and flags; they outlive any one cooler.
    CoolerDisplay cooler;
    // The system-information object that feeds the cooler, obtained once.
    std::atomic<SystemInfoSource*> lq120SystemInfo{nullptr};

  private:
    void CountCompanionRemoval();

    platform::EventLog& eventLog_;
    platform::Console& console_;
    platform::Clock& clock_;
    std::unique_ptr<platform::DynamicLibrary> library_;
    std::unique_ptr<CS900Panel> cs900Panel_;
    TwLinkApi api_;
    bool loaded_ = false;
    platform::Event* stop_ = nullptr;
};

// A library callback's hold on the active layer, for as long as it runs.
// Every callback the library can make takes one first thing and uses the
// layer only through it.
class CallbackScope {
  public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
    // The active layer; null when there is none (any more).
    DeviceLayer* layer() const { return layer_; }

  private:
    DeviceLayer* layer_;
};

// Every callback the library makes runs its body through this: with the
// active layer (nothing when there is none any more), and nothing it throws
// unwinds into the library's own frames.
template <class Body>
void InCallback(Body&& body) noexcept {
    const CallbackScope scope;
    if (DeviceLayer* layer = scope.layer()) {
        try {
            body(*layer);
        } catch (...) {
        }
    }
}

// True when the device path names the wireless-dongle form.
bool IsDongle(std::string_view path);

}  // namespace vt::devices
