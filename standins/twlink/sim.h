// The simulated device library: attached devices and their state, the
// objects handed to the service, the call log and the service's callbacks.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "devices/twlink.h"

namespace twsim {

namespace dev = vt::devices;
using json = nlohmann::json;

// A request or scenario the simulator cannot accept; the text goes back to
// whoever sent it.
struct Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// An integer of type T from a JSON number or a numeric text ("0x3A7C").
template <class T>
T Int(const json& v, const std::string& what) {
    long long n = 0;
    if (v.is_number_integer()) {
        n = v.get<long long>();
    } else if (v.is_string()) {
        const std::string& s = v.get_ref<const std::string&>();
        char* end = nullptr;
        n = std::strtoll(s.c_str(), &end, 0);
        if (s.empty() || *end != '\0') {
            throw Error(what + ": not a number: " + s);
        }
    } else {
        throw Error(what + ": expected an integer");
    }
    if (n < static_cast<long long>(std::numeric_limits<T>::min()) ||
        n > static_cast<long long>(std::numeric_limits<T>::max())) {
        throw Error(what + ": out of range");
    }
    return static_cast<T>(n);
}

// Compact JSON text; bytes that are not UTF-8 (paths and texts come from the
// service unchecked) are replaced instead of throwing.
std::string Dump(const json& j);

// Writes "twsim: <text>" to standard error.
void Say(const std::string& text);

std::array<uint8_t, dev::kMouseSettingsSize> DefaultMouseSettings();

struct DeviceState {
    uint8_t effectMode = 0;
    uint8_t displayMode = 0;
    bool saverEnabled = false;
    uint8_t panelMode = 0;
    dev::PanelCycle panelCycle{0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0};
    uint32_t pingTarget = 0;
    int32_t profile = 0;
    uint32_t firmwareVersion = 0x0100;
    std::array<uint8_t, dev::kMouseSettingsSize> settings = DefaultMouseSettings();
    std::array<uint8_t, dev::kMouseInfoSize> info{};
    int32_t apm = 0;
    std::map<std::string, std::string> hostReplies;  // CS900: function -> reply
    int32_t failFactory = 0;                         // factory calls still to fail
    std::string faultOn;     // operation that crashes; set only through the control endpoint
    std::string overflowOn;  // operation that overflows its stack; the same
};

struct Device {
    std::string model;
    uint16_t vendorId = dev::kMakerVendorId;
    uint16_t productId = 0;
    std::string path;
    std::string factory;  // the export that opens it; empty for none
    bool attached = true;
    DeviceState state;
};

// Merges the fields of a JSON object into `state`; throws Error on an
// unknown field or a value out of range.
void ApplyState(const json& fields, DeviceState& state, bool allowFault);
json StateToJson(const DeviceState& state);
json DeviceToJson(const Device& device);

void ApplySystemInfo(const json& fields, dev::SystemInfoRecord& record);
json SystemInfoToJson(const dev::SystemInfoRecord& record);
dev::SystemInfoRecord DefaultSystemInfo();

// A device from a scenario entry: the model's ids and a default path unless
// the entry gives them. `taken` tells whether a path is already in use.
Device MakeDevice(const json& entry, bool allowFault,
                  const std::function<bool(const std::string&)>& taken);

struct Scenario {
    std::vector<std::shared_ptr<Device>> devices;
    dev::SystemInfoRecord systemInfo = DefaultSystemInfo();
    uint32_t systemValue = 0;
    uint32_t systemInfoIntervalMs = 0;
    std::string frameDir;
};
Scenario ParseScenario(const json& scenario, bool allowFault);

inline constexpr size_t kMaxDevices = 256;
inline constexpr size_t kMaxLogEntries = 10000;
inline constexpr size_t kMaxLine = 64 * 1024;

// What every object handed to the service carries besides its interface.
struct SimObject {
    explicit SimObject(std::shared_ptr<Device> d) : device(std::move(d)) {}
    virtual ~SimObject() = default;
    std::shared_ptr<Device> device;  // null for the system info source
    dev::KeyboardNotifyCallback keyboardCallback = nullptr;
    dev::HeadsetKeyCallback headsetCallback = nullptr;
    dev::EffectModeCallback effectModeCallback = nullptr;
};

class Simulator {
  public:
    // The one simulator of the process, started on first use: scenario read,
    // notifier thread and control endpoint running.
    static Simulator& Get();

    // Guards every member below. Never held while a service callback runs:
    // callbacks may call straight back into the exports.
    std::mutex mu;
    std::vector<std::shared_ptr<Device>> devices;     // attached, in order
    std::vector<std::unique_ptr<SimObject>> objects;  // handed out; live for the process
    SimObject* systemInfoSource = nullptr;
    dev::DevNotifyCallback devNotifyCallback = nullptr;
    // Every callback registered, in order: each model with a display
    // registers its own, and each gets every reading.
    std::vector<dev::SystemInfoCallback> systemInfoCallbacks;
    dev::SystemInfoRecord systemInfo = DefaultSystemInfo();
    uint32_t systemValue = 0;
    std::string frameDir;
    uint64_t frameCount = 0;
    dev::OledFrame lastFrame{};

    // Appends to the call log, unless it is switched off; `extra` fields
    // are merged into the entry.
    void Record(const char* call, const Device* device, json args, json extra = json::object());
    json LogSince(uint64_t seq) const;
    void ClearLog() { log_.clear(); }
    // Off: nothing is recorded (a benchmark's soak measures the service's
    // memory, not the log's); the entries kept so far stay.
    void KeepLog(bool on) { keepLog_ = on; }
    std::shared_ptr<Device> FindPath(std::string_view path) const;
    // Keeps an uploaded frame; returns the file its picture goes to, or "".
    std::string StoreFrame(const dev::OledFrame& frame);
    // Replaces devices, readings and frames (mu held). Callbacks and objects
    // already handed out stay; the old devices read as detached.
    void Install(Scenario scenario);

    // Reads TWSIM_SCENARIO, or twlink_scenario.json beside the library, and
    // installs it. A missing file means no devices; a bad one is reported
    // (returned and on stderr) and also leaves no devices.
    std::string LoadScenarioFile();

    // Runs `job` on the library's notifier thread and waits until it has
    // returned (false after 10 s: the service's callback is stuck).
    bool RunOnNotifier(std::function<void()> job);
    void SetSystemInfoInterval(uint32_t milliseconds);
    // Calls every registered system info callback with the readings.
    bool FireSystemInfo();

    // One control request line in, one reply line out (without newline).
    std::string HandleLine(std::string_view line);
    // Serves one control connection until the peer closes it or sends a
    // line longer than kMaxLine.
    void Serve(const std::function<long(char*, size_t)>& read,
               const std::function<bool(const std::string&)>& write);

  private:
    Simulator() = default;
    void Start();
    void NotifierLoop();

    std::deque<json> log_;
    uint64_t seq_ = 0;
    bool keepLog_ = true;

    std::mutex queueMu_;
    std::condition_variable queueCv_;
    std::deque<std::function<void()>> queue_;
    uint32_t intervalMs_ = 0;
    bool intervalChanged_ = false;
    std::thread::id notifierId_;
};

}  // namespace twsim
