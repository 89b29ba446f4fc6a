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
    } else if (v.is_number_integer()) {
        // As Dump writes them, without its serializer's buffer: most
        // arguments are numbers.
        out += v.is_number_unsigned() ? std::to_string(v.get<uint64_t>())
                                      : std::to_string(v.get<int64_t>());
    } else {
        out += Dump(v);
    }
}

// A call as one line; `model` empty for an export's.
std::string Line(std::string_view model, std::string_view call, const json& args) {
    std::string text;
    if (!model.empty()) {
        text.append(model).append(".");
    }
    text += call;
    if (!args.empty()) {
        text += '(';
        AppendArg(text, args);
        text += ')';
    }
    return text;
}

template <class T>
void Append(std::deque<T>& log, T item) {
    log.push_back(std::move(item));
    if (log.size() > kMaxLogEntries) {
        log.pop_front();
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
    if (linesOnly_) {
        ++seq_;
        // A factory's line names the export only, as CallText has it.
        const bool operation = device && !extra.contains("result");
        Append(lines_, Line(operation ? device->model : "", call, args));
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
    Append(log_, std::move(entry));
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

std::vector<std::string> Core::LinesSince(uint64_t seq) const {
    std::vector<std::string> out;
    if (linesOnly_) {
        // Every call since the log was last cleared made one line, the
        // newest numbered seq_.
        const uint64_t first = seq_ - lines_.size() + 1;
        for (size_t i = seq >= first ? seq - first + 1 : 0; i < lines_.size(); ++i) {
            out.push_back(lines_[i]);
        }
        return out;
    }
    for (const json& entry : log_) {
        if (entry["seq"].get<uint64_t>() > seq) {
            out.push_back(CallText(entry));
        }
    }
    return out;
}

std::string Core::LastCallText() const {
    if (linesOnly_) {
        return lines_.empty() ? std::string() : lines_.back();
    }
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

std::shared_ptr<Device> Core::Detach(std::string_view path, dev::DevNotifyCallback* callback) {
    std::lock_guard<std::mutex> lock(mu);
    auto d = FindPath(path);
    if (d) {
        std::erase(devices, d);
        d->attached = false;
    }
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
    ClearLog();
}

std::string FrameText(const uint8_t* pixels) {
    std::string out;
    out.reserve((dev::kOledWidth + 1) * dev::kOledHeight);
    for (int y = 0; y < dev::kOledHeight; ++y) {
        for (int x = 0; x < dev::kOledWidth; ++x) {
            out += pixels[x * dev::kOledHeight + y] ? '#' : '.';
        }
        out += '\n';
    }
    return out;
}

std::string CallText(const json& entry) {
    const std::string& model = entry["model"].get_ref<const std::string&>();
    return Line(entry.contains("result") ? "" : model, entry["call"].get_ref<const std::string&>(),
                entry["args"]);
}

}  // namespace twsim
