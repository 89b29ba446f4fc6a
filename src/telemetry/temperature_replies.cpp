#include "telemetry/temperature_replies.h"

#include <cstdio>

#include "common/service_event.h"

namespace vt::telemetry {

namespace {

// The sum of the first readings up to the count (at most `capacity`),
// stopping at the first 0, divided by the count the library reported.
int64_t AverageOf(const uint32_t* values, int32_t count, int32_t capacity) {
    int64_t sum = 0;
    for (int32_t i = 0; i < count && i < capacity && values[i] != 0; ++i) {
        sum += static_cast<int32_t>(values[i]);
    }
    return sum / count;
}

bool InRange(int64_t temperature) {
    return temperature >= 0 && temperature <= 100;
}

}  // namespace

void TemperatureReplies::Log(std::wstring_view text) {
    WriteServiceEvent(eventLog_, platform::EventType::Information, text);
}

Readings TemperatureReplies::Latest() {
    return feed != nullptr ? feed->Latest() : Readings{};
}

void TemperatureReplies::ToggleFake() {
    fakeTemperature = fakeTemperature == 0 ? 1 : 0;
    Log(L"Get the fake_temp  = " + std::to_wstring(fakeTemperature));
}

void TemperatureReplies::NextFakeStep() {
    fakeStep = fakeStep <= 4 ? fakeStep + 1 : 0;
    Log(L"Get the fake_temp_step  = " + std::to_wstring(fakeStep));
}

std::string TemperatureReplies::Temp() {
    std::string reply = "0;0";
    const Readings r = Latest();
    if (r.available) {
        int64_t cpu = lastCpuTemperature;
        int64_t gpu = 0;
        if (!r.temperaturesRead) {
            Log(L"fail to get the cpu and gpu temp");
        } else {
            if (r.cpuCount != 0) {
                cpu = AverageOf(r.cpuValues, r.cpuCount, kCpuTemperatureCount);
            }
            if (r.gpuCount != 0) {
                gpu = AverageOf(r.gpuValues, r.gpuCount, kGpuTemperatureCount);
            }
        }
        // An impossible CPU reading is not remembered either.
        if (!InRange(cpu)) {
            cpu = 0;
        }
        if (!InRange(gpu)) {
            gpu = 0;
        }
        lastCpuTemperature = static_cast<int32_t>(cpu);
        reply = std::to_string(cpu) + ";" + std::to_string(gpu) + ";";
    }
    if (fakeTemperature == 1) {
        // Every level is "CPU;GPU", so a client can split them at ';'.
        static constexpr const char* kLevels[] = {"100;100", "20;20", "50;50",
                                                  "70;70",   "90;90", "100;100"};
        reply = kLevels[fakeStep >= 0 && fakeStep <= 5 ? fakeStep : 0];
    }
    return reply;
}

std::string TemperatureReplies::Count() {
    const Readings r = Latest();
    if (!r.available) {
        return "0;0";
    }
    int32_t gpuCount = 0;
    if (!r.temperaturesRead) {
        Log(L"fail to get the cpu and gpu temp");
    } else {
        lastCpuCount = r.cpuCount;
        gpuCount = r.gpuCount;
    }
    return std::to_string(lastCpuCount) + ";" + std::to_string(gpuCount) + ";";
}

std::string TemperatureReplies::SysInfo() {
    const Readings r = Latest();
    if (!r.available) {
        return "0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;";
    }
    const SensorSnapshot& s = r.snapshot;
    char text[512];
    std::snprintf(text, sizeof text, "%f;%d;%f;%d;%d;%f;%d;%f;%d;%d;%d;%d;%d;%d;%d;",
                  static_cast<double>(s.cpuClock), s.boardFan[0], static_cast<double>(s.cpuVoltage),
                  s.cpuTemperature, s.cpuUtilisation, static_cast<double>(s.gpuClock), s.gpuFan,
                  static_cast<double>(s.gpuVoltage), s.gpuTemperature, s.gpuUtilisation,
                  s.boardFan[1], s.boardFan[2], s.boardFan[3], s.boardFan[4], s.boardFan[5]);
    return text;
}

}  // namespace vt::telemetry
