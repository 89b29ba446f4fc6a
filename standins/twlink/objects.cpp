// The device objects handed to the service, and the exports' work. Every
// operation is logged with its arguments; outputs come from the simulated
// device state.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <thread>

#include "core.h"

namespace twsim {

namespace {

// The armed fault: a genuine access violation inside the library, so the
// service's crash handling sees what a faulty device library would cause.
// Left out of the sanitizer's null check, as the real library is: the
// process must meet the fault itself, not a report of the null store.
__attribute__((noinline, no_sanitize("null"))) void Crash() {
    volatile uintptr_t address = 0;
    *reinterpret_cast<volatile int*>(address) = 1;
}

// How often a blocked operation looks whether it was released.
constexpr int kBlockLookMs = 20;

// Never set: it only keeps the compiler from seeing that Overflow has no end.
volatile bool g_overflowEnds = false;

// The armed stack overflow: recursion without end inside the library, a page
// a frame, as a library recursing over bad input would. The thread meets
// its stack's guard page with next to nothing left for whatever handles the
// fault.
[[gnu::noinline]] int Overflow(volatile char* caller) {
    volatile char frame[4096];
    frame[0] = caller != nullptr ? caller[0] : 1;
    if (g_overflowEnds) {
        return frame[0];
    }
    return Overflow(frame) + frame[0];  // no tail call: every frame stays
}

// Argument lists; by value, because fields of the packed records cannot
// be bound to references.
template <class... T>
json Args(T... values) {
    return json::array({json(values)...});
}

json Maybe(const int32_t* p) {
    return p ? json(*p) : json();
}

std::string Bounded(const char* text, size_t limit = 4096) {
    return text ? std::string(text, strnlen(text, limit)) : std::string();
}

// One call into a device object: logs it, holds the simulator lock until
// the operation returns, and crashes when it is the device's armed fault or
// overflow, or runs the in-process hook and throws when a test asks.
class Op {
  public:
    Op(SimObject& object, const char* call, json args)
        : sim_(Core::Current()), lock_(sim_.mu), object_(object) {
        sim_.Record(call, object.device.get(), std::move(args));
        if (object.device && object.device->state.faultOn == call) {
            lock_.unlock();
            Crash();
        }
        if (object.device && object.device->state.overflowOn == call) {
            lock_.unlock();
            Overflow(nullptr);
        }
        // Blocked without the lock, so the control endpoint can release it.
        while (object.device && object.device->state.blockOn == call) {
            lock_.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(kBlockLookMs));
            lock_.lock();
        }
        // Out of line, and nothing of it in this frame: the armed overflow
        // above starts from here, and how much stack the fault handling
        // then has left depends on where it starts.
        if (sim_.onCall || !sim_.throwOn.empty()) {
            InProcessFaults();
        }
    }
    // The device's state; null once the device is detached: the handle is
    // dead and the operation writes nothing.
    DeviceState* state() {
        const auto& d = object_.device;
        return d && d->attached ? &d->state : nullptr;
    }
    Core& sim() { return sim_; }
    std::unique_lock<std::mutex>& lock() { return lock_; }

  private:
    // Runs the test's hook, then throws when the operation is the one armed.
    [[gnu::noinline]] void InProcessFaults() {
        const std::string text = sim_.LastCallText();
        if (sim_.onCall) {
            const auto hook = sim_.onCall;
            lock_.unlock();
            hook(text);
            lock_.lock();
        }
        const std::string_view op = std::string_view(text).substr(text.find('.') + 1);
        if (!sim_.throwOn.empty() &&
            (op.starts_with(sim_.throwOn) || text.starts_with(sim_.throwOn))) {
            lock_.unlock();
            throw std::runtime_error("device fault: " + text);
        }
    }

    Core& sim_;
    std::unique_lock<std::mutex> lock_;
    SimObject& object_;
};

template <class I>
class Object : public I, public SimObject {
  public:
    using Interface = I;
    using SimObject::SimObject;

  protected:
    void StatusEffect(dev::StatusEffectRequest* r) {
        Op op(*this, "SetSystemStatusEffect", r ? Args(r->type, r->reserved) : Args(nullptr));
    }
    void KeyboardCallback(dev::KeyboardNotifyCallback callback) {
        Op op(*this, "RegisterNotifyCallback", Args(callback != nullptr));
        keyboardCallback = callback;
    }
    void Firmware(uint32_t* version) {
        Op op(*this, "GetFirmwareVersion", Args());
        if (op.state() && version) {
            *version = op.state()->firmwareVersion;
        }
    }
    void SystemInfo(dev::SystemInfoRecord* r) {
        Op op(*this, "SendSystemInfo", r ? Args(SystemInfoToJson(*r)) : Args(nullptr));
    }
};

class KeyboardV1 final : public Object<dev::KeyboardDevice> {
  public:
    using Object::Object;
    void SetSystemStatusEffect(dev::StatusEffectRequest* r) override { StatusEffect(r); }
    void RegisterNotifyCallback(dev::KeyboardNotifyCallback cb) override { KeyboardCallback(cb); }
};

class KeyboardV2 final : public Object<dev::KeyboardDeviceV2> {
  public:
    using Object::Object;
    void GetFirmwareVersion(uint32_t* version) override { Firmware(version); }
    void SetSystemStatusEffect(dev::StatusEffectRequest* r) override { StatusEffect(r); }
    void RegisterNotifyCallback(dev::KeyboardNotifyCallback cb) override { KeyboardCallback(cb); }
};

class KeyboardV3 final : public Object<dev::KeyboardDeviceV3> {
  public:
    using Object::Object;
    void GetFirmwareVersion(uint32_t* version) override { Firmware(version); }
    void SetBrightness(int32_t level) override { Op op(*this, "SetBrightness", Args(level)); }
    void SetSystemStatusEffect(dev::StatusEffectRequest* r) override { StatusEffect(r); }
    void GetProfile(int32_t* profile) override {
        Op op(*this, "GetProfile", Args());
        if (op.state() && profile) {
            *profile = op.state()->profile;
        }
    }
    void RegisterNotifyCallback(dev::KeyboardNotifyCallback cb) override { KeyboardCallback(cb); }
};

class Headset final : public Object<dev::HeadsetDevice> {
  public:
    using Object::Object;
    void SetKeyNotify(int32_t* on) override { Op op(*this, "SetKeyNotify", Args(Maybe(on))); }
    void RegisterKeyCallback(dev::HeadsetKeyCallback callback) override {
        Op op(*this, "RegisterKeyCallback", Args(callback != nullptr));
        headsetCallback = callback;
    }
};

class Lq120 final : public Object<dev::LQ120Device> {
  public:
    using Object::Object;
    void SetCycleMode(uint8_t mode) override { Op op(*this, "SetCycleMode", Args(mode)); }
    void GetDisplayMode(uint8_t* mode) override {
        Op op(*this, "GetDisplayMode", Args());
        if (op.state() && mode) {
            *mode = op.state()->displayMode;
        }
    }
    void GetSaverSettings(dev::SaverSettings* settings) override {
        // Logged with what the service pre-set.
        Op op(*this, "GetSaverSettings",
              settings ? Args(settings->reserved, settings->screenSaveEnabled, settings->valueA,
                              settings->valueB)
                       : Args(nullptr));
        if (op.state() && op.state()->saverEnabled && settings) {
            settings->screenSaveEnabled = *op.state()->saverEnabled ? 1 : 0;
        }
    }
    void SetMultiDisplay(dev::DisplayCycleRequest* r) override {
        if (!r) {
            Op op(*this, "SetMultiDisplay", Args(nullptr));
            return;
        }
        const std::vector<uint8_t> modes(r->modes, r->modes + 5);
        Op op(*this, "SetMultiDisplay", Args(r->duration, modes));
    }
    void SetSaverSwitchB(int32_t on) override { Op op(*this, "SetSaverSwitchB", Args(on)); }
    void SetSaverSwitchA(int32_t on) override { Op op(*this, "SetSaverSwitchA", Args(on)); }
    void SendSystemInfo(dev::SystemInfoRecord* r) override { SystemInfo(r); }
    void SetDisplayMode(uint8_t* mode) override {
        Op op(*this, "SetDisplayMode", mode ? Args(*mode) : Args(nullptr));
        if (op.state() && mode) {
            op.state()->displayMode = *mode;
        }
    }
};

class Cs900 final : public Object<dev::CS900Device> {
  public:
    using Object::Object;
    void GetPanelMode(uint8_t* mode) override {
        Op op(*this, "GetPanelMode", Args());
        if (op.state() && mode) {
            *mode = op.state()->panelMode;
        }
    }
    void GetPingTarget(uint32_t* selector) override {
        Op op(*this, "GetPingTarget", Args());
        if (op.state() && selector) {
            *selector = op.state()->pingTarget;
        }
    }
    void GetPanelCycle(dev::PanelCycle* cycle) override {
        // Logged with what the service pre-set.
        Op op(*this, "GetPanelCycle",
              cycle ? Args(cycle->count, std::vector<uint8_t>(cycle->modes, cycle->modes + 5),
                           cycle->extra)
                    : Args(nullptr));
        if (op.state() && cycle) {
            cycle->count = op.state()->panelCycle.count;
            std::memcpy(cycle->modes, op.state()->panelCycle.modes, sizeof cycle->modes);
        }
    }
    void SendSystemInfo(dev::SystemInfoRecord* r) override { SystemInfo(r); }
    void SendPanelData(dev::PanelData* d) override {
        Op op(*this, "SendPanelData",
              d ? Args(d->customValue, d->latencyMs, d->systemValue) : Args(nullptr));
    }
    void HandleHostCommand(const char* function, const char* parameter, char* reply,
                           uint32_t replySize) override {
        const std::string name = Bounded(function);
        Op op(*this, "HandleHostCommand", Args(name, Bounded(parameter), replySize));
        if (!op.state() || !reply || replySize == 0) {
            return;
        }
        const auto found = op.state()->hostReplies.find(name);
        if (found != op.state()->hostReplies.end()) {
            const size_t n = std::min<size_t>(found->second.size(), replySize - 1);
            std::memcpy(reply, found->second.data(), n);
            reply[n] = '\0';
        }
    }
};

class Rx420 final : public Object<dev::RX420Device> {
  public:
    using Object::Object;
    void GetEffectMode(uint8_t* mode) override {
        Op op(*this, "GetEffectMode", Args());
        if (op.state() && mode) {
            *mode = op.state()->effectMode;
        }
    }
    void ControlOff() override { Op op(*this, "ControlOff", Args()); }
    void SetMusicPulse(int32_t on) override { Op op(*this, "SetMusicPulse", Args(on)); }
    void RegisterEffectModeCallback(dev::EffectModeCallback callback) override {
        Op op(*this, "RegisterEffectModeCallback", Args(callback != nullptr));
        effectModeCallback = callback;
    }
};

class Rx410 final : public Object<dev::RX410Device> {
  public:
    using Object::Object;
    void GetProfile(int32_t* profile) override {
        Op op(*this, "GetProfile", Args());
        if (op.state() && profile) {
            *profile = op.state()->profile;
        }
    }
    void ReadSettings(int32_t selector, uint8_t settings[dev::kMouseSettingsSize]) override {
        Op op(*this, "ReadSettings", Args(selector));
        if (op.state() && settings) {
            std::memcpy(settings, op.state()->settings.data(), dev::kMouseSettingsSize);
        }
    }
    void ApplyChanges() override { Op op(*this, "ApplyChanges", Args()); }
    void SetOled(int32_t* mode, uintptr_t data) override {
        if (!mode || *mode != 3 || data == 0) {
            Op op(*this, "SetOled", Args(Maybe(mode), data));
            return;
        }
        dev::OledFrame frame;
        std::memcpy(&frame, reinterpret_cast<const void*>(data), sizeof frame);
        Op op(*this, "SetOled", Args(3, frame.frameId));
        if (op.state()) {
            op.sim().StoreFrame(frame, op.lock());
        }
    }
    void QueryInfo(int32_t* selector, int32_t zero, void* out) override {
        Op op(*this, "QueryInfo", Args(Maybe(selector), zero));
        if (!op.state() || !selector || !out) {
            return;
        }
        switch (*selector) {
            case 0:
                std::memcpy(out, &op.state()->logoFlag, sizeof op.state()->logoFlag);
                break;
            case 4:
                std::memcpy(out, op.state()->info.data(), dev::kMouseInfoSize);
                break;
            case 5:
                std::memcpy(out, &op.state()->apm, sizeof op.state()->apm);
                break;
        }
    }
};

class SystemInfoSourceObject final : public Object<dev::SystemInfoSource> {
  public:
    using Object::Object;
    void RegisterSystemInfoCallback(dev::SystemInfoCallback callback) override {
        Op op(*this, "RegisterSystemInfoCallback", Args(callback != nullptr));
        auto& callbacks = op.sim().systemInfoCallbacks;
        if (callback != nullptr &&
            std::find(callbacks.begin(), callbacks.end(), callback) == callbacks.end()) {
            callbacks.push_back(callback);
        }
    }
    void QuerySystemValue(uint32_t* value) override {
        Op op(*this, "QuerySystemValue", Args());
        if (value) {
            *value = op.sim().systemValue;
        }
    }
};

// A factory: a new object for the attached device with this path, or null
// when there is none, it is not opened by this export, or a failure is
// pending for it.
template <class T>
typename T::Interface* Open(const char* factory, const std::string& path) {
    Core& sim = Core::Current();
    std::lock_guard<std::mutex> lock(sim.mu);
    const std::shared_ptr<Device> device = sim.FindPath(path);
    const char* refused = nullptr;
    if (!device) {
        refused = "no device attached with this path";
    } else if (device->factory != factory) {
        refused = "the device is not opened by this export";
    } else if (device->state.failFactory > 0) {
        --device->state.failFactory;
        refused = "failFactory";
    }
    json outcome = {{"result", refused ? "null" : "object"}};
    if (refused) {
        outcome["reason"] = refused;
    }
    sim.Record(factory, device.get(), Args(path), outcome);
    if (refused) {
        return nullptr;
    }
    sim.objects.push_back(std::make_unique<T>(device));
    return static_cast<T*>(sim.objects.back().get());
}

void Call(const char* call, json args) {
    Core& sim = Core::Current();
    std::lock_guard<std::mutex> lock(sim.mu);
    sim.Record(call, nullptr, std::move(args));
}

void VT_CDECL twlink_background(int32_t on) {
    Call("twlink_background", Args(on));
}

void VT_CDECL twlink_init() {
    Call("twlink_init", Args());
}

int32_t VT_CDECL devInfo(dev::DevInfoRecord* buffer) {
    Core& sim = Core::Current();
    std::lock_guard<std::mutex> lock(sim.mu);
    int32_t count = 0;
    for (const auto& d : sim.devices) {
        if (!buffer || count == dev::kDevInfoCapacity) {
            break;
        }
        dev::DevInfoRecord& r = buffer[count++];
        std::memset(&r, 0, sizeof r);
        std::memcpy(r.path, d->path.data(), std::min(d->path.size(), sizeof r.path - 1));
        r.productId = d->productId;
        r.vendorId = d->vendorId;
    }
    if (sim.devInfoCount) {
        count = *sim.devInfoCount;
    }
    sim.Record("devInfo", nullptr, Args(), {{"result", count}});
    return count;
}

void VT_CDECL registerDevNotify(dev::DevNotifyCallback callback) {
    Core& sim = Core::Current();
    std::lock_guard<std::mutex> lock(sim.mu);
    sim.Record("registerDevNotify", nullptr, Args(callback != nullptr));
    sim.devNotifyCallback = callback;
}

dev::SystemInfoSource* VT_CDECL sysInfo() {
    Core& sim = Core::Current();
    std::lock_guard<std::mutex> lock(sim.mu);
    sim.Record("sysInfo", nullptr, Args());
    if (sim.noSystemInfo) {
        return nullptr;
    }
    if (!sim.systemInfoSource) {
        sim.objects.push_back(std::make_unique<SystemInfoSourceObject>(nullptr));
        sim.systemInfoSource = sim.objects.back().get();
    }
    return static_cast<SystemInfoSourceObject*>(sim.systemInfoSource);
}

#define TWSIM_FACTORY(name, Class)                      \
    Class::Interface* VT_CDECL name(const char* path) { \
        return Open<Class>(#name, Bounded(path));       \
    }
TWSIM_FACTORY(kb505, KeyboardV1)
TWSIM_FACTORY(kb507, KeyboardV1)
TWSIM_FACTORY(kb709, KeyboardV2)
TWSIM_FACTORY(kb303, KeyboardV2)
TWSIM_FACTORY(kb401, KeyboardV2)
TWSIM_FACTORY(kb403, KeyboardV3)
TWSIM_FACTORY(kb406, KeyboardV3)
TWSIM_FACTORY(hv150, Headset)
TWSIM_FACTORY(hv210, Headset)
TWSIM_FACTORY(hv230, Headset)
TWSIM_FACTORY(lq120, Lq120)
TWSIM_FACTORY(cs900, Cs900)
TWSIM_FACTORY(rx420, Rx420)
#undef TWSIM_FACTORY

dev::RX410Device* VT_CDECL rx410(const dev::DevInfoRecord* record) {
    return Open<Rx410>("rx410", record ? Bounded(record->path, sizeof record->path) : "");
}

}  // namespace

dev::TwLinkApi Api() {
    dev::TwLinkApi api;
#define TWSIM_SET(name) api.name = name;
    TWSIM_EXPORT_NAMES(TWSIM_SET)
#undef TWSIM_SET
    return api;
}

std::map<std::string, void*> Symbols() {
    return {
#define TWSIM_ENTRY(name) {#name, reinterpret_cast<void*>(name)},
        TWSIM_EXPORT_NAMES(TWSIM_ENTRY)
#undef TWSIM_ENTRY
    };
}

}  // namespace twsim
