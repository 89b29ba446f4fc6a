#include "pipe/pipe_commands.h"

#include <cstdio>

#include "common/outside_calls.h"
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

PipeCommands::PipeCommands(ServiceState& state, devices::DeviceLayer& devices,
                           platform::Clock& clock, platform::EventLog& eventLog, JsonCommands* json)
    : temperatures(eventLog),
      state_(state),
      devices_(devices),
      clock_(clock),
      eventLog_(eventLog),
      json_(json) {}

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
    state_.enabled = 1;
    state_.disabled = 0;
    devices_.oledJobWait.Wake();
    reply = kReplyOk;
}

void PipeCommands::Disable(std::string& reply) {
    Log(L"TWservice PipeWorkerThread disable");
    state_.enabled = 0;
    state_.disabled = 1;
    state_.lastHeartbeat = clock_.TickCount64();
    devices_.oledJobWait.Wake();
    reply = kReplyOk;
}

void PipeCommands::Hello(std::string& reply) {
    Log(L"TWservice PipeWorkerThread hello");
    reply = kReplyOk;
}

void PipeCommands::Status(std::string& reply) {
    Log(L"TWservice PipeWorkerThread get status");
    reply = state_.enabled != 0 ? "on" : "off";
}

void PipeCommands::Heartbeat(std::string& reply) {
    Log(L"TWservice PipeWorkerThread get heartbeat");
    state_.lastHeartbeat = clock_.TickCount64();
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
        OutsideCall call("RX420 GetEffectMode/SetMusicPulse");
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
        OutsideCall call("RX420 GetEffectMode/SetMusicPulse/ControlOff");
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
    temperatures.ToggleFake();
    reply = kReplyOk;
}

void PipeCommands::FakeStep(std::string& reply) {
    temperatures.NextFakeStep();
    reply = kReplyOk;
}

void PipeCommands::Temp(std::string& reply) {
    reply = temperatures.Temp();
}

void PipeCommands::GetCount(std::string& reply) {
    reply = temperatures.Count();
}

void PipeCommands::GetSysInfo(std::string& reply) {
    reply = temperatures.SysInfo();
}

}  // namespace vt::pipe
