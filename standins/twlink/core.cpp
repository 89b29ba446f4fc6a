// The core's bookkeeping: which core is current, the call log, devices and
// frames.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "core.h"

namespace twsim {

namespace {

std::atomic<Core*> g_current{nullptr};

void AppendArg(std::string& out, const json& v) {
    if (v.is_array()) {
        for (size_t i = 0; i < v.size(); ++i) {
            if (i > 0) {
                out += ',';
            }
            AppendArg(out, v[i]);
        }
    } else if (v.is_string()) {
        out += v.get_ref<const std::string&>();
    } else {
        out += Dump(v);
    }
}

}  // namespace

Core::~Core() {
    Core* self = this;
    g_current.compare_exchange_strong(self, previous_);
}

Core& Core::Current() {
    Core* core = g_current.load();
    if (core == nullptr) {
        Say("an export was called with no simulated library in place");
        std::abort();
    }
    return *core;
}

void Core::MakeCurrent() {
    Core* previous = g_current.exchange(this);
    if (previous != this) {
        previous_ = previous;
    }
}

void Core::Record(const char* call, const Device* device, json args, json extra) {
    if (!keepLog_) {
        return;
    }
    json entry = {{"seq", ++seq_},
                  {"call", call},
                  {"model", device ? device->model : ""},
                  {"path", device ? device->path : ""},
                  {"args", std::move(args)}};
    if (device && !device->attached) {
        entry["detached"] = true;
    }
    entry.update(extra);
    log_.push_back(std::move(entry));
    if (log_.size() > kMaxLogEntries) {
        log_.pop_front();
    }
}

json Core::LogSince(uint64_t seq) const {
    json out = json::array();
    for (const json& entry : log_) {
        if (entry["seq"].get<uint64_t>() > seq) {
            out.push_back(entry);
        }
    }
    return out;
}

std::string Core::LastCallText() const {
    return log_.empty() ? std::string() : CallText(log_.back());
}

std::shared_ptr<Device> Core::FindPath(std::string_view path) const {
    for (const auto& d : devices) {
        if (d->path == path) {
            return d;
        }
    }
    return nullptr;
}

std::shared_ptr<Device> Core::Attach(const json& entry, dev::DevNotifyCallback* callback) {
    std::lock_guard<std::mutex> lock(mu);
    if (devices.size() >= kMaxDevices) {
        throw Error("too many devices attached");
    }
    auto taken = [&](const std::string& path) { return FindPath(path) != nullptr; };
    auto d = std::make_shared<Device>(MakeDevice(entry, true, taken));
    if (taken(d->path)) {
        throw Error("a device with path " + d->path + " is already attached");
    }
    devices.push_back(d);
    if (callback) {
        *callback = devNotifyCallback;
    }
    return d;
}

void Core::StoreFrame(const dev::OledFrame& frame, std::unique_lock<std::mutex>& lock) {
    lastFrame = frame;
    ++frameCount;
    if (keepFrames) {
        Pixels& pixels = frames.emplace_back();
        std::memcpy(pixels.data(), frame.pixels, pixels.size());
    }
    FrameStored(frame, frameCount, lock);
}

void Core::FrameStored(const dev::OledFrame&, uint64_t, std::unique_lock<std::mutex>&) {}

void Core::Install(Scenario s) {
    for (const auto& d : devices) {
        d->attached = false;
    }
    devices = std::move(s.devices);
    systemInfo = s.systemInfo;
    systemValue = s.systemValue;
    frameCount = 0;
    lastFrame = {};
    frames.clear();
    log_.clear();
}

std::string CallText(const json& entry) {
    std::string text;
    const std::string& model = entry["model"].get_ref<const std::string&>();
    if (!model.empty() && !entry.contains("result")) {
        text = model + ".";
    }
    text += entry["call"].get_ref<const std::string&>();
    const json& args = entry["args"];
    if (!args.empty()) {
        text += '(';
        AppendArg(text, args);
        text += ')';
    }
    return text;
}

}  // namespace twsim
