// The shipped device library around the core: the scenario file read at
// start, the notifier thread that calls the service back, the control
// endpoint and the frame pictures.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "core.h"

namespace twsim {

inline constexpr size_t kMaxLine = 64 * 1024;

class Simulator final : public Core {
  public:
    // The one simulator of the process, started on first use: scenario read,
    // made the current core, notifier thread and control endpoint running.
    static Simulator& Get();

    std::string frameDir;  // mu

    // The core's Install, plus the frame folder and the reading interval
    // (mu held).
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

  protected:
    // Writes the frame's picture into frameDir, outside the lock.
    void FrameStored(const dev::OledFrame& frame, uint64_t number,
                     std::unique_lock<std::mutex>& lock) override;

  private:
    Simulator() = default;
    void Start();
    void NotifierLoop();

    std::mutex queueMu_;
    std::condition_variable queueCv_;
    std::deque<std::function<void()>> queue_;
    uint32_t intervalMs_ = 0;
    bool intervalChanged_ = false;
    std::thread::id notifierId_;
};

}  // namespace twsim
