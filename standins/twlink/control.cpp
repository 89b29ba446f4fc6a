// The control endpoint's requests: one JSON object per line in, one per line
// out. Callbacks into the service run on the notifier thread, and a request
// is answered only after they returned, so a test sees their effects.
#include <cstring>

#include "host.h"
#include "sim.h"

namespace twsim {

namespace {

using Handler = json (*)(Simulator&, const json&);

const json& Field(const json& req, const char* key) {
    if (!req.contains(key)) {
        throw Error(std::string("missing field: ") + key);
    }
    return req[key];
}

template <class T>
T Optional(const json& req, const char* key, T fallback) {
    return req.contains(key) ? Int<T>(req[key], key) : fallback;
}

// The attached device a request names by "path", or else the first one of
// its "model" (mu held).
std::shared_ptr<Device> Target(Simulator& sim, const json& req) {
    if (req.contains("path")) {
        if (auto d = sim.FindPath(req["path"].is_string() ? req["path"].get<std::string>() : "")) {
            return d;
        }
        throw Error("no device attached with path " + Dump(req["path"]));
    }
    const json& model = Field(req, "model");
    for (const auto& d : sim.devices) {
        if (model.is_string() && d->model == model.get_ref<const std::string&>()) {
            return d;
        }
    }
    throw Error("no attached device of model " + Dump(model));
}

// Delivers a job to the service's callback; false when there is none.
bool Deliver(Simulator& sim, bool registered, std::function<void()> job) {
    if (!registered) {
        return false;
    }
    if (!sim.RunOnNotifier(std::move(job))) {
        throw Error("the service's callback has not returned within 10 s");
    }
    return true;
}

json Notify(Simulator& sim, dev::DevNotifyCallback callback, const Device& d, uint32_t code) {
    dev::DevNotifyRecord record{};
    std::memcpy(record.path, d.path.data(), std::min(d.path.size(), sizeof record.path - 1));
    record.vendorId = d.vendorId;
    record.productId = d.productId;
    record.eventCode = code;
    const bool notified =
        Deliver(sim, callback != nullptr, [callback, record] { callback(record); });
    return {{"path", d.path}, {"notified", notified}};
}

json Attach(Simulator& sim, const json& req) {
    dev::DevNotifyCallback callback;
    const std::shared_ptr<Device> d = sim.Attach(Field(req, "device"), &callback);
    return Notify(sim, callback, *d, 1);
}

json Detach(Simulator& sim, const json& req) {
    std::string path;
    {
        std::lock_guard<std::mutex> lock(sim.mu);
        path = Target(sim, req)->path;
    }
    // Gone before the service hears of it, as with a pulled plug.
    dev::DevNotifyCallback callback;
    const std::shared_ptr<Device> d = sim.Detach(path, &callback);
    if (!d) {
        throw Error("no device at " + path);  // another client detached it meanwhile
    }
    return Notify(sim, callback, *d, 0);
}

json Set(Simulator& sim, const json& req) {
    std::lock_guard<std::mutex> lock(sim.mu);
    const auto d = Target(sim, req);
    DeviceState state = d->state;
    ApplyState(Field(req, "state"), state, true);
    d->state = std::move(state);
    return DeviceToJson(*d);
}

json FailFactory(Simulator& sim, const json& req) {
    std::lock_guard<std::mutex> lock(sim.mu);
    const auto d = Target(sim, req);
    d->state.failFactory = Int<int32_t>(Field(req, "count"), "count");
    return {{"path", d->path}};
}

json Fire(Simulator& sim, const json& req) {
    const json& what = Field(req, "what");
    const auto code = Optional<int32_t>(req, "code", 0);
    const auto extra = Optional<int32_t>(req, "extra", 0);
    if (what == "systemInfo") {
        std::unique_lock<std::mutex> lock(sim.mu);
        if (sim.systemInfoCallbacks.empty()) {
            throw Error("no system info callback registered");
        }
        lock.unlock();
        Deliver(sim, true, [&sim] { sim.FireSystemInfo(); });
        return json::object();
    }
    if (what != "keyboard" && what != "headset" && what != "rx420") {
        throw Error("fire what: keyboard, headset, rx420 or systemInfo");
    }
    std::function<void()> job;
    {
        std::lock_guard<std::mutex> lock(sim.mu);
        const auto d = Target(sim, req);
        // The newest object of the device that holds such a callback.
        for (auto o = sim.objects.rbegin(); o != sim.objects.rend() && !job; ++o) {
            if ((*o)->device != d) {
                continue;
            }
            if (what == "keyboard" && (*o)->keyboardCallback) {
                job = [cb = (*o)->keyboardCallback, code] {
                    int32_t value = code;
                    cb(&value);
                };
            } else if (what == "headset" && (*o)->headsetCallback) {
                job = [cb = (*o)->headsetCallback, code, extra] { cb(code, extra); };
            } else if (what == "rx420" && (*o)->effectModeCallback) {
                job = [cb = (*o)->effectModeCallback, code] { cb(code); };
            }
        }
        if (!job) {
            throw Error("no " + Dump(what) + " callback registered for " + d->path);
        }
    }
    Deliver(sim, true, std::move(job));
    return json::object();
}

json Log(Simulator& sim, const json& req) {
    const auto since = Optional<uint32_t>(req, "since", 0);
    std::lock_guard<std::mutex> lock(sim.mu);
    return {{"log", sim.LogSince(since)}};
}

json ClearLog(Simulator& sim, const json&) {
    std::lock_guard<std::mutex> lock(sim.mu);
    sim.ClearLog();
    return json::object();
}

json CallLog(Simulator& sim, const json& req) {
    const json& on = Field(req, "on");
    if (!on.is_boolean()) {
        throw Error("on: true or false");
    }
    std::lock_guard<std::mutex> lock(sim.mu);
    sim.KeepLog(on.get<bool>());
    return json::object();
}

json Frames(Simulator& sim, const json&) {
    std::lock_guard<std::mutex> lock(sim.mu);
    json reply = {{"count", sim.frameCount}};
    if (sim.frameCount > 0) {
        std::string pixels(dev::kOledPixels, '0');
        for (int i = 0; i < dev::kOledPixels; ++i) {
            pixels[i] = sim.lastFrame.pixels[i] ? '1' : '0';
        }
        reply["frameId"] = sim.lastFrame.frameId;
        reply["pixels"] = pixels;
    }
    return reply;
}

json Devices(Simulator& sim, const json&) {
    std::lock_guard<std::mutex> lock(sim.mu);
    json list = json::array();
    for (const auto& d : sim.devices) {
        list.push_back(DeviceToJson(*d));
    }
    return {{"devices", list},
            {"systemInfo", SystemInfoToJson(sim.systemInfo)},
            {"systemValue", sim.systemValue}};
}

json Load(Simulator& sim, const json& req) {
    Scenario scenario = ParseScenario(Field(req, "scenario"), true);
    const size_t count = scenario.devices.size();
    std::lock_guard<std::mutex> lock(sim.mu);
    sim.Install(std::move(scenario));
    return {{"devices", count}};
}

json Reset(Simulator& sim, const json&) {
    const std::string error = sim.LoadScenarioFile();
    if (!error.empty()) {
        throw Error(error);
    }
    std::lock_guard<std::mutex> lock(sim.mu);
    return {{"devices", sim.devices.size()}};
}

json SetSystem(Simulator& sim, const json& req) {
    std::lock_guard<std::mutex> lock(sim.mu);
    dev::SystemInfoRecord record = sim.systemInfo;
    if (req.contains("systemInfo")) {
        ApplySystemInfo(req["systemInfo"], record);
    }
    const auto value = Optional<uint32_t>(req, "systemValue", sim.systemValue);
    if (req.contains("systemInfoIntervalMs")) {
        sim.SetSystemInfoInterval(Int<uint32_t>(req["systemInfoIntervalMs"], "interval"));
    }
    sim.systemInfo = record;
    sim.systemValue = value;
    return {{"systemInfo", SystemInfoToJson(record)}, {"systemValue", value}};
}

json Ping(Simulator&, const json&) {
    return {{"pong", true}, {"pid", ProcessId()}};
}

// A plain array, not a map: control clients are served on detached threads
// that may still be looking a command up while the process exits, and an
// array has no destructor to run under them.
struct Command {
    std::string_view name;
    Handler handler;
};
constexpr Command kCommands[] = {
    {"attach", Attach},           {"detach", Detach},   {"set", Set},
    {"failFactory", FailFactory}, {"fire", Fire},       {"log", Log},
    {"clearLog", ClearLog},       {"callLog", CallLog}, {"frames", Frames},
    {"devices", Devices},         {"load", Load},       {"reset", Reset},
    {"setSystem", SetSystem},     {"ping", Ping},
};

Handler FindCommand(const json& cmd) {
    if (cmd.is_string()) {
        for (const Command& c : kCommands) {
            if (c.name == cmd.get_ref<const std::string&>()) {
                return c.handler;
            }
        }
    }
    return nullptr;
}

json Failure(const std::string& text) {
    return {{"ok", false}, {"error", text}};
}

}  // namespace

std::string Simulator::HandleLine(std::string_view line) {
    json reply;
    try {
        const json req = json::parse(line);
        if (!req.is_object()) {
            throw Error("a request is a JSON object");
        }
        const json& cmd = Field(req, "cmd");
        const Handler handler = FindCommand(cmd);
        if (handler == nullptr) {
            throw Error("unknown cmd " + Dump(cmd));
        }
        reply = handler(*this, req);
        reply["ok"] = true;
    } catch (const json::parse_error& e) {
        reply = Failure(std::string("bad JSON: ") + e.what());
    } catch (const std::exception& e) {
        reply = Failure(e.what());
    }
    return Dump(reply);
}

void Simulator::Serve(const std::function<long(char*, size_t)>& read,
                      const std::function<bool(const std::string&)>& write) {
    std::string pending;
    char chunk[4096];
    for (;;) {
        size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos && newline <= kMaxLine) {
            std::string_view line(pending.data(), newline);
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            if (!line.empty() && !write(HandleLine(line) + "\n")) {
                return;
            }
            pending.erase(0, newline + 1);
        }
        if (pending.size() > kMaxLine) {
            // Too long to be a request: answer once and hang up, so a
            // runaway client cannot grow the buffer.
            write(Dump(Failure("request line longer than 65536 bytes")) + "\n");
            return;
        }
        const long n = read(chunk, sizeof chunk);
        if (n <= 0) {
            return;
        }
        pending.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace twsim
