// The answers to the desktop application's temperature keywords ("temp",
// "getc", "getsysinfo", and the fake levels of "fake_temp" and "fake_step")
// in the text it reads, with what they remember between requests. Lives on
// the pipe's thread; the readings themselves come from the telemetry
// thread's feed, so no answer waits on an outside library for long.
#pragma once

#include <cstdint>
#include <string>

#include "platform/event_log.h"
#include "telemetry/readings_feed.h"

namespace vt::telemetry {

class TemperatureReplies {
  public:
    explicit TemperatureReplies(platform::EventLog& eventLog) : eventLog_(eventLog) {}

    // "CPU;GPU;": the averages of the readings in whole degrees (0 outside
    // 0 to 100), or one of the fake levels while they are on; "0;0"
    // without readings (no temperature library, or none taken yet).
    std::string Temp();
    // "CPUs;GPUs;": how many readings each side has.
    std::string Count();
    // Fifteen ';'-terminated fields of the sensor readings.
    std::string SysInfo();
    // "fake_temp" turns the fake levels on or off; "fake_step" moves to the
    // next of them, wrapping after the last.
    void ToggleFake();
    void NextFakeStep();

    // Where the readings come from; none, and every answer is zeros.
    ReadingsFeed* feed = nullptr;
    int32_t fakeTemperature = 0;
    int32_t fakeStep = 0;
    int32_t lastCpuTemperature = 0;
    int32_t lastCpuCount = 0;

  private:
    void Log(std::wstring_view text);
    Readings Latest();

    platform::EventLog& eventLog_;
};

}  // namespace vt::telemetry
