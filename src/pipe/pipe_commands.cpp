#include "pipe/pipe_commands.h"

#include <cstdio>

#include "common/service_event.h"

namespace vt::pipe {

namespace {
constexpr uint8_t kMusicPulseMode = 216;
}

// Tried in this order, each keyword as a prefix of the request.
const PipeCommands::Keyword PipeCommands::kKeywords[] = {
    {"enable", &PipeCommands::Enable},
    {"disable", &PipeCommands::Disable},
    {"hello", &PipeCommands::Hello},
    {"status", &PipeCommands::Status},
    {"heartbeat", &PipeCommands::Heartbeat},
    {"version", &PipeCommands::Version},
    {"rx420_control_on", &PipeCommands::RX420ControlOn},
    {"rx420_control_off", &PipeCommands::RX420ControlOff},
    {"fake_temp", &PipeCommands::FakeTemp},
    {"fake_step", &PipeCommands::FakeStep},
    {"temp", &PipeCommands::Temp},
    {"getc", &PipeCommands::GetCount},
    {"getsysinfo", &PipeCommands::GetSysInfo},
};

PipeCommands::PipeCommands(ServiceSwitches switches, devices::DeviceLayer& devices,
                           platform::Clock& clock, platform::EventLog& eventLog, JsonCommands* json)
    : switches_(switches), devices_(devices), clock_(clock), eventLog_(eventLog), json_(json) {}

std::string PipeCommands::Handle(std::string_view request) {
    std::string reply = kReplyFail;
    // Exceptions off: a syntax error gives the discarded value.
    const Json parsed = Json::parse(request.begin(), request.end(), nullptr, false);
    if (parsed.is_object() && json_ != nullptr) {
        try {
            json_->Dispatch(parsed, reply);
        } catch (...) {
            // A field missing or of the wrong type: an unrecognised request,
            // and the server serves on. Nothing a request does may end it.
            reply = kReplyFail;
        }
    }
    for (const Keyword& k : kKeywords) {
        if (request.substr(0, k.text.size()) == k.text) {
            (this->*k.handler)(reply);
            return reply;
        }
    }
    Log(L"TWservice PipeWorkerThread receiver error command");
    return reply;
}

void PipeCommands::Log(std::wstring_view text) {
    WriteServiceEvent(eventLog_, platform::EventType::Information, text);
}

void PipeCommands::Enable(std::string& reply) {
    Log(L"TWservice PipeWorkerThread enable");
    switches_.enabled = 1;
    switches_.disabled = 0;
    devices_.oledJobWait.Wake();
    reply = kReplyOk;
}

void PipeCommands::Disable(std::string& reply) {
    Log(L"TWservice PipeWorkerThread disable");
    switches_.enabled = 0;
    switches_.disabled = 1;
    switches_.lastHeartbeat = clock_.TickCount64();
    devices_.oledJobWait.Wake();
    reply = kReplyOk;
}

void PipeCommands::Hello(std::string& reply) {
    Log(L"TWservice PipeWorkerThread hello");
    reply = kReplyOk;
}

void PipeCommands::Status(std::string& reply) {
    Log(L"TWservice PipeWorkerThread get status");
    reply = switches_.enabled != 0 ? "on" : "off";
}

void PipeCommands::Heartbeat(std::string& reply) {
    Log(L"TWservice PipeWorkerThread get heartbeat");
    switches_.lastHeartbeat = clock_.TickCount64();
    reply = kReplyOk;
}

void PipeCommands::Version(std::string& reply) {
    Log(L"TWservice PipeWorkerThread get version");
    char text[32];
    std::snprintf(text, sizeof text, "%f", kVersion);
    reply = text;
}

// With no RX420 attached there is nothing to hand over: the request is
// still acknowledged.
void PipeCommands::RX420ControlOn(std::string& reply) {
    Log(L"TWservice RX420 control on");
    if (devices::RX420Device* mouse = devices_.slots.rx420.load()) {
        uint8_t mode = 0;
        mouse->GetEffectMode(&mode);
        if (mode == kMusicPulseMode) {
            Log(L"RX420 music pulse start");
            mouse->SetMusicPulse(1);
        }
    }
    reply = kReplyOk;
}

void PipeCommands::RX420ControlOff(std::string& reply) {
    Log(L"TWservice RX420 control off");
    if (devices::RX420Device* mouse = devices_.slots.rx420.load()) {
        uint8_t mode = 0;
        mouse->GetEffectMode(&mode);
        if (mode == kMusicPulseMode) {
            mouse->SetMusicPulse(0);
        }
        mouse->ControlOff();
    }
    reply = kReplyOk;
}

void PipeCommands::FakeTemp(std::string& reply) {
    fakeTemperature = fakeTemperature == 0 ? 1 : 0;
    Log(L"Get the fake_temp  = " + std::to_wstring(fakeTemperature));
    reply = kReplyOk;
}

void PipeCommands::FakeStep(std::string& reply) {
    fakeStep = fakeStep <= 4 ? fakeStep + 1 : 0;
    Log(L"Get the fake_temp_step  = " + std::to_wstring(fakeStep));
    reply = kReplyOk;
}

void PipeCommands::StartTemperatureSources() {
    if (sensors != nullptr && sensors->Init() == 0) {
        temperatureReady = sensors->LoadTemperatureLibrary();
    }
}

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

void PipeCommands::Temp(std::string& reply) {
    if (!temperatureReady) {
        reply = "0;0";
    } else {
        int32_t cpuCount = 0, gpuCount = 0;
        uint32_t cpuValues[telemetry::kCpuTemperatureCount];
        uint32_t gpuValues[telemetry::kGpuTemperatureCount];
        int64_t cpu = lastCpuTemperature;
        int64_t gpu = 0;
        if (!sensors->QueryTemperatures(&cpuCount, cpuValues, &gpuCount, gpuValues)) {
            Log(L"fail to get the cpu and gpu temp");
        } else {
            if (cpuCount != 0) {
                cpu = AverageOf(cpuValues, cpuCount, telemetry::kCpuTemperatureCount);
            }
            if (gpuCount != 0) {
                gpu = AverageOf(gpuValues, gpuCount, telemetry::kGpuTemperatureCount);
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
}

void PipeCommands::GetCount(std::string& reply) {
    if (!temperatureReady) {
        reply = "0;0";
        return;
    }
    int32_t cpuCount = 0, gpuCount = 0;
    uint32_t cpuValues[telemetry::kCpuTemperatureCount];
    uint32_t gpuValues[telemetry::kGpuTemperatureCount];
    if (!sensors->QueryTemperatures(&cpuCount, cpuValues, &gpuCount, gpuValues)) {
        Log(L"fail to get the cpu and gpu temp");
        gpuCount = 0;
    } else {
        lastCpuCount = cpuCount;
    }
    reply = std::to_string(lastCpuCount) + ";" + std::to_string(gpuCount) + ";";
}

void PipeCommands::GetSysInfo(std::string& reply) {
    if (!temperatureReady) {
        reply = "0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;";
        return;
    }
    sensors->ReadSensors(&snapshot);
    const telemetry::SensorSnapshot& s = snapshot;
    char text[512];
    std::snprintf(text, sizeof text, "%f;%d;%f;%d;%d;%f;%d;%f;%d;%d;%d;%d;%d;%d;%d;",
                  static_cast<double>(s.cpuClock), s.boardFan[0], static_cast<double>(s.cpuVoltage),
                  s.cpuTemperature, s.cpuUtilisation, static_cast<double>(s.gpuClock), s.gpuFan,
                  static_cast<double>(s.gpuVoltage), s.gpuTemperature, s.gpuUtilisation,
                  s.boardFan[1], s.boardFan[2], s.boardFan[3], s.boardFan[4], s.boardFan[5]);
    reply = text;
}

}  // namespace vt::pipe
