// The hardware readings, taken on a thread of their own and handed to the
// pipe thread.
//
// The sensor SDK may probe hardware for seconds at its start, or hang on a
// driver; the temperature library may do the same at any reading. None of
// that may hold up the pipe, which serves every client on one thread. So the
// telemetry thread alone calls the sensor monitor (its start, its readings,
// its release) and publishes what it read; the pipe thread asks for the
// latest readings and waits for fresh ones only a short, bounded time.
//
// Threads: Run (and its parts Start and ServePass) on the telemetry thread
// only; Latest on any thread (the pipe's). The readings record is copied
// under a lock held for the copy alone: nothing is called while it is held.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/clock.h"
#include "platform/threads.h"
#include "telemetry/sensor_monitor.h"

namespace vt::telemetry {

// One set of readings, as the monitor gave it.
struct Readings {
    // False until the first readings were taken, and for good when the
    // temperature library could not be had: every answer is zeros then.
    bool available = false;
    // QueryTemperatures' result: false when a library call raised a fault.
    bool temperaturesRead = true;
    int32_t cpuCount = 0;
    int32_t gpuCount = 0;
    uint32_t cpuValues[kCpuTemperatureCount] = {};
    uint32_t gpuValues[kGpuTemperatureCount] = {};
    // Fields of a device that was not found stay 0.
    SensorSnapshot snapshot{};
};

class ReadingsFeed {
  public:
    // Readings at most this old are answered as they are.
    static constexpr uint64_t kFreshMs = 1000;
    // How long a request waits for fresh readings before it answers with
    // the last ones.
    static constexpr uint32_t kFreshWaitMs = 250;

    ReadingsFeed(platform::Threads& threads, platform::Clock& clock);
    ReadingsFeed(const ReadingsFeed&) = delete;
    ReadingsFeed& operator=(const ReadingsFeed&) = delete;

    // False when its events could not be made (LastError of the threads).
    bool valid() const { return requested_ && taken_; }

    // The telemetry thread: starts the monitor, takes the first readings,
    // then takes fresh ones whenever asked, until `stop` is set.
    void Run(SensorMonitor& sensors, platform::Event& stop);
    // The SDK, then the temperature library only when the SDK started
    // (without it no reading is ever taken), then the first readings.
    void Start(SensorMonitor& sensors);
    // Waits for a request or the stop; takes fresh readings on a request.
    // False once `stop` is set.
    bool ServePass(SensorMonitor& sensors, platform::Event& stop);
    // One set of readings from the started monitor, published at once.
    void Take(SensorMonitor& sensors);

    // The latest readings; asks for fresh ones and waits at most
    // kFreshWaitMs when they are older than kFreshMs (or none were taken
    // yet while the monitor still starts).
    Readings Latest();

  private:
    enum class Phase { Starting, Unavailable, Serving };

    platform::Threads& threads_;
    platform::Clock& clock_;
    std::unique_ptr<platform::Event> requested_;  // auto-reset: one pass per request
    std::unique_ptr<platform::Event> taken_;      // auto-reset: a pass ended
    std::mutex mutex_;
    // Under mutex_.
    Phase phase_ = Phase::Starting;
    Readings latest_;
    uint64_t takenAt_ = 0;
    uint64_t passes_ = 0;
};

}  // namespace vt::telemetry
