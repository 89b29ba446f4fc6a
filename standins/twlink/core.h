// The simulated device library, in process: attached devices and their
// state, the objects handed to the service, the call log, the service's
// callbacks and the fault switches. The shipped library (sim.h) wraps it in
// the exports, the control endpoint and the notifier thread; unit tests and
// the oledrender tool use it directly.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
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
    std::optional<bool> saverEnabled = false;  // none: the LQ120 leaves the record as it is
    uint8_t panelMode = 0;
    dev::PanelCycle panelCycle{0, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0};
    uint32_t pingTarget = 0;
    int32_t profile = 0;
    uint32_t firmwareVersion = 0x0100;
    std::array<uint8_t, dev::kMouseSettingsSize> settings = DefaultMouseSettings();
    std::array<uint8_t, dev::kMouseInfoSize> info{};
    int32_t apm = 0;
    int32_t logoFlag = 1;  // what the mouse answers to QueryInfo selector 0
    std::map<std::string, std::string> hostReplies;  // CS900: function -> reply
    int32_t failFactory = 0;                         // factory calls still to fail
    std::string faultOn;     // operation that crashes; set only through the control endpoint
    std::string overflowOn;  // operation that overflows its stack; the same
    // Operation that does not return until the field is cleared (a USB
    // transfer stuck in a driver); the same.
    std::string blockOn;
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

// What every object handed to the service carries besides its interface.
struct SimObject {
    explicit SimObject(std::shared_ptr<Device> d) : device(std::move(d)) {}
    virtual ~SimObject() = default;
    std::shared_ptr<Device> device;  // null for the system info source
    dev::KeyboardNotifyCallback keyboardCallback = nullptr;
    dev::HeadsetKeyCallback headsetCallback = nullptr;
    dev::EffectModeCallback effectModeCallback = nullptr;
};

using Pixels = std::array<uint8_t, dev::kOledPixels>;

// One simulated device library. The exports carry no context, so they answer
// for the one current core (Current); a unit test builds its own and makes it
// current, the shipped library makes its simulator current on first use.
class Core {
  public:
    Core() = default;
    virtual ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // The core the exports answer for; a call with none current aborts,
    // since whatever reached the library then runs outside any test's world.
    // A core that goes makes the one current before it current again, so
    // cores nested in a test's scopes hand over in order.
    static Core& Current();
    void MakeCurrent();

    // Guards every member below. Never held while a service callback runs:
    // callbacks may call straight back into the exports.
    std::mutex mu;
    std::vector<std::shared_ptr<Device>> devices;     // attached, in order
    std::vector<std::unique_ptr<SimObject>> objects;  // handed out; live as long as the core
    SimObject* systemInfoSource = nullptr;
    dev::DevNotifyCallback devNotifyCallback = nullptr;
    // Every callback registered, in order: each model with a display
    // registers its own, and each gets every reading.
    std::vector<dev::SystemInfoCallback> systemInfoCallbacks;
    dev::SystemInfoRecord systemInfo = DefaultSystemInfo();
    uint32_t systemValue = 0;
    uint64_t frameCount = 0;
    dev::OledFrame lastFrame{};
    // Every frame's pixels when on. Off in the shipped library: a soak
    // uploads frames for hours and only the last one is ever asked for.
    bool keepFrames = false;
    std::vector<Pixels> frames;

    // Fault switches for tests in process. The control endpoint has its own
    // (failFactory, faultOn, overflowOn), which fail the way a faulty library
    // does; these need a caller that can catch or run code.
    //
    // A device operation whose log line starts with this ("SetCycleMode",
    // "LQ120.SetCycleMode(1)" both name it) throws once it is logged. Both
    // switches need the log on.
    std::string throwOn;
    // Runs inside every device operation once it is logged, with mu
    // released: what another thread does while the call is under way.
    std::function<void(const std::string& call)> onCall;
    // devInfo answers this count instead of the number of records it filled.
    std::optional<int32_t> devInfoCount;
    // sysInfo answers null: a library without a system info source.
    bool noSystemInfo = false;

    // Appends to the call log, unless it is switched off; `extra` fields
    // are merged into the entry.
    void Record(const char* call, const Device* device, json args, json extra = json::object());
    json LogSince(uint64_t seq) const;
    // The calls after `seq` as CallText has them.
    std::vector<std::string> LinesSince(uint64_t seq) const;
    // The newest entry as CallText has it; "" with none.
    std::string LastCallText() const;
    // The sequence number of the newest entry: a mark for LogSince.
    uint64_t LastSeq() const { return seq_; }
    void ClearLog() {
        log_.clear();
        lines_.clear();
    }
    // Off: nothing is recorded (a benchmark's soak measures the service's
    // memory, not the log's); the entries kept so far stay.
    void KeepLog(bool on) { keepLog_ = on; }
    // On: each call is kept as its text only, not as a JSON entry, so
    // LogSince sees none of them; LinesSince, LastCallText and the fault
    // switches work as before. An entry costs a dozen allocations, a line
    // one at most: for a caller that makes many calls and reads them back
    // as text (the OLED job fuzzer). Clear the log before switching.
    void KeepLinesOnly(bool on) { linesOnly_ = on; }
    std::shared_ptr<Device> FindPath(std::string_view path) const;
    // Attaches a device made from a scenario entry at the end of the list
    // (mu not held) and returns it, with the hot-plug callback to tell the
    // service through `callback` when asked. Nobody is called here: who
    // delivers the news, and on which thread, is the caller's choice.
    std::shared_ptr<Device> Attach(const json& entry, dev::DevNotifyCallback* callback = nullptr);
    // Takes the device at `path` off the list (mu not held), so it reads as
    // detached, and returns it; null when none is attached there. The
    // hot-plug callback goes to `callback` as with Attach, and again nobody
    // is called here.
    std::shared_ptr<Device> Detach(std::string_view path,
                                   dev::DevNotifyCallback* callback = nullptr);
    // Keeps an uploaded frame (mu held through `lock`).
    void StoreFrame(const dev::OledFrame& frame, std::unique_lock<std::mutex>& lock);
    // Replaces devices, readings and frames (mu held). Callbacks and objects
    // already handed out stay; the old devices read as detached.
    void Install(Scenario scenario);

  protected:
    // A frame was stored as number `number`; mu is held through `lock`,
    // which an override may release for slow work. Nothing by default.
    virtual void FrameStored(const dev::OledFrame& frame, uint64_t number,
                             std::unique_lock<std::mutex>& lock);

  private:
    Core* previous_ = nullptr;
    std::deque<json> log_;
    std::deque<std::string> lines_;  // instead of log_ when linesOnly_
    uint64_t seq_ = 0;
    bool keepLog_ = true;
    bool linesOnly_ = false;
};

// A call log entry as one line: "<MODEL>.<call>(<args>)" for a device's
// operation, "<call>(<args>)" for an export, the arguments' arrays flattened
// and no parentheses without arguments: "RX410.SetOled(0,241)",
// "rx410(hid#rx410)", "devInfo".
std::string CallText(const json& entry);

// A screen frame (96x24, column by column, 0 or 1 per pixel) as text: 24
// lines of 96 characters, '#' lit and '.' dark, each ending in a newline.
// What the tests compare; the golden frames are written this way.
std::string FrameText(const uint8_t* pixels);

// Every export of the contract, in its order.
#define TWSIM_EXPORT_NAMES(X)                                                                      \
    X(twlink_background)                                                                           \
    X(twlink_init)                                                                                 \
    X(devInfo)                                                                                     \
    X(registerDevNotify) X(sysInfo) X(kb505) X(kb507) X(kb709) X(kb303) X(kb401) X(kb403) X(kb406) \
        X(hv150) X(hv210) X(hv230) X(lq120) X(cs900) X(rx420) X(rx410)

// The contract's exports answering for Core::Current(), as the service
// resolves them; and the same by export name, as a loaded library serves
// them.
dev::TwLinkApi Api();
std::map<std::string, void*> Symbols();

}  // namespace twsim
