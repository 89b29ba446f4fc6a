#include "telemetry/readings_feed.h"

namespace vt::telemetry {

ReadingsFeed::ReadingsFeed(platform::Threads& threads, platform::Clock& clock)
    : threads_(threads),
      clock_(clock),
      requested_(threads.CreateAutoResetEvent()),
      taken_(threads.CreateAutoResetEvent()) {}

void ReadingsFeed::Run(SensorMonitor& sensors, platform::Event& stop) {
    Start(sensors);
    while (ServePass(sensors, stop)) {
    }
}

void ReadingsFeed::Start(SensorMonitor& sensors) {
    if (sensors.Init() == 0 && sensors.LoadTemperatureLibrary()) {
        Take(sensors);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        phase_ = Phase::Unavailable;
    }
    taken_->Set();  // a request waiting for the start answers at once
}

bool ReadingsFeed::ServePass(SensorMonitor& sensors, platform::Event& stop) {
    // Nothing to do between requests: no wake-up while nobody asks. The
    // stop wins over a request that came with it.
    const uint32_t woke = threads_.WaitForEither(stop, *requested_, platform::kInfinite);
    if (woke == platform::kWaitObject0 + 1) {
        bool serving;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            serving = phase_ == Phase::Serving;
        }
        if (serving) {
            Take(sensors);
        }
        return true;
    }
    return false;  // the stop, or a wait that failed: nothing more to wait for
}

void ReadingsFeed::Take(SensorMonitor& sensors) {
    Readings fresh;
    fresh.temperaturesRead = sensors.QueryTemperatures(&fresh.cpuCount, fresh.cpuValues,
                                                       &fresh.gpuCount, fresh.gpuValues);
    sensors.ReadSensors(&fresh.snapshot);
    fresh.available = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = fresh;
        takenAt_ = clock_.TickCount64();
        ++passes_;
        phase_ = Phase::Serving;
    }
    taken_->Set();
}

Readings ReadingsFeed::Latest() {
    uint64_t passesBefore;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (phase_ == Phase::Unavailable ||
            (phase_ == Phase::Serving && clock_.TickCount64() - takenAt_ <= kFreshMs)) {
            return latest_;
        }
        passesBefore = passes_;
    }
    requested_->Set();
    const uint64_t deadline = clock_.TickCount64() + kFreshWaitMs;
    for (;;) {
        const uint64_t now = clock_.TickCount64();
        // A pass that ended after an earlier request gave up leaves the
        // event set: only a pass after this request counts.
        if (now >= deadline ||
            taken_->Wait(static_cast<uint32_t>(deadline - now)) != platform::kWaitObject0) {
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (passes_ != passesBefore || phase_ == Phase::Unavailable) {
            break;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return latest_;
}

}  // namespace vt::telemetry
