// The shipped library's start-up, scenario file, frame pictures and the
// notifier thread that calls the service back.
#include "sim.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <utility>

#include "host.h"
#include "png.h"

namespace twsim {

Simulator& Simulator::Get() {
    // Never destroyed: the library's threads outlive static destruction, and
    // the service holds our objects until the process ends.
    static Simulator* const sim = new Simulator;
    static std::once_flag once;
    std::call_once(once, [] { sim->Start(); });
    return *sim;
}

void Simulator::Start() {
    LoadScenarioFile();
    MakeCurrent();
    std::thread notifier([this] { NotifierLoop(); });
    notifierId_ = notifier.get_id();
    notifier.detach();
    StartControlEndpoint(*this);
}

void Simulator::FrameStored(const dev::OledFrame& frame, uint64_t number,
                            std::unique_lock<std::mutex>& lock) {
    if (frameDir.empty()) {
        return;
    }
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%04llu", static_cast<unsigned long long>(number));
    const std::string file = frameDir + name;
    lock.unlock();
    // The picture for a person to look at, then the text the tests compare:
    // once the text is there, both are whole.
    for (const auto& [ext, data] : {std::pair{".png", FramePng(frame.pixels)},
                                    std::pair{".txt", FrameText(frame.pixels)}}) {
        if (!WriteWholeFile(file + ext, data)) {
            Say("cannot write " + file + ext);
        }
    }
}

void Simulator::Install(Scenario s) {
    const std::string envDir = EnvVar("TWSIM_FRAME_DIR");
    frameDir = envDir.empty() ? s.frameDir : envDir;
    const uint32_t interval = s.systemInfoIntervalMs;
    Core::Install(std::move(s));
    SetSystemInfoInterval(interval);
}

std::string Simulator::LoadScenarioFile() {
    std::string path = EnvVar("TWSIM_SCENARIO");
    if (path.empty()) {
        path = LibraryFolder() + "twlink_scenario.json";
    }
    Scenario scenario;
    std::string error;
    if (auto text = ReadWholeFile(path, 4 << 20)) {
        try {
            scenario = ParseScenario(json::parse(*text), false);
        } catch (const std::exception& e) {
            error = "scenario " + path + ": " + e.what() + "; running with no devices";
            Say(error);
            scenario = Scenario{};
        }
    } else {
        Say("no scenario at " + path + ": no devices attached");
    }
    std::lock_guard<std::mutex> lock(mu);
    Install(std::move(scenario));
    return error;
}

bool Simulator::RunOnNotifier(std::function<void()> job) {
    if (std::this_thread::get_id() == notifierId_) {
        job();
        return true;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    {
        std::lock_guard<std::mutex> lock(queueMu_);
        queue_.push_back([job = std::move(job), done] {
            job();
            done->set_value();
        });
    }
    queueCv_.notify_one();
    return finished.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

void Simulator::SetSystemInfoInterval(uint32_t milliseconds) {
    {
        std::lock_guard<std::mutex> lock(queueMu_);
        intervalMs_ = milliseconds;
        intervalChanged_ = true;
    }
    queueCv_.notify_one();
}

bool Simulator::FireSystemInfo() {
    std::vector<dev::SystemInfoCallback> callbacks;
    dev::SystemInfoRecord record;
    {
        std::lock_guard<std::mutex> lock(mu);
        callbacks = systemInfoCallbacks;
        record = systemInfo;
    }
    for (dev::SystemInfoCallback callback : callbacks) {
        callback(record);
    }
    return !callbacks.empty();
}

void Simulator::NotifierLoop() {
    NameThisThread("twsim-notify");
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(queueMu_);
    Clock::time_point next = Clock::now();
    for (;;) {
        if (!queue_.empty()) {
            auto job = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            job();
            lock.lock();
            continue;
        }
        if (intervalMs_ == 0) {
            queueCv_.wait(lock);
            continue;
        }
        const auto interval = std::chrono::milliseconds(intervalMs_);
        if (intervalChanged_) {
            intervalChanged_ = false;
            next = Clock::now() + interval;
        }
        if (queueCv_.wait_until(lock, next) == std::cv_status::timeout) {
            next = std::max(next + interval, Clock::now());
            lock.unlock();
            FireSystemInfo();
            lock.lock();
        }
    }
}

std::optional<std::string> ReadWholeFile(const std::string& path, size_t limit) {
    std::FILE* f = OpenFile(path, false);
    if (!f) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    size_t n;
    while (text.size() <= limit && (n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(f);
    if (text.size() > limit) {
        return std::nullopt;
    }
    return text;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = OpenFile(path, true);
    if (!f) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

}  // namespace twsim
