// What one request does: the JSON stage, then the text table, as a plain
// function of the request text and the pipe thread's state. No transport
// here, so it can be tested and fuzzed without a pipe.
//
// Runs on the pipe thread only; the state below belongs to that thread. The
// service switches are shared with the OLED job (atomics, no lock).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/service_state.h"
#include "devices/device_layer.h"
#include "pipe/json_read.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "telemetry/temperature_replies.h"
#include "vt_version.h"

namespace vt::pipe {

inline constexpr char kReplyOk[] = "TW_OK";
inline constexpr char kReplyFail[] = "TW_FAIL";

// The JSON device commands: given a request object, may set the reply. May
// throw on a malformed request; the caller then answers "TW_FAIL".
class JsonCommands {
  public:
    virtual void Dispatch(const Json& request, std::string& reply) = 0;

  protected:
    ~JsonCommands() = default;
};

class PipeCommands {
  public:
    PipeCommands(ServiceState& state, devices::DeviceLayer& devices, platform::Clock& clock,
                 platform::EventLog& eventLog, JsonCommands* json);

    // `request` is the request text: the bytes read, up to the first zero.
    std::string Handle(std::string_view request);

    // The temperature keywords' answers and what they remember between
    // requests and clients.
    telemetry::TemperatureReplies temperatures;

    // The product version from the build (0.4 answers "0.400000").
    static constexpr double kVersion = VT_VERSION_NUMBER;

  private:
    struct Keyword {
        std::string_view text;
        void (PipeCommands::*handler)(std::string& reply);
    };
    static const Keyword kKeywords[];

    void Enable(std::string& reply);
    void Disable(std::string& reply);
    void Hello(std::string& reply);
    void Status(std::string& reply);
    void Heartbeat(std::string& reply);
    void Version(std::string& reply);
    void RX420ControlOn(std::string& reply);
    void RX420ControlOff(std::string& reply);
    void FakeTemp(std::string& reply);
    void FakeStep(std::string& reply);
    void Temp(std::string& reply);
    void GetCount(std::string& reply);
    void GetSysInfo(std::string& reply);

    void Log(std::wstring_view text);

    ServiceState& state_;  // what the control keywords switch
    devices::DeviceLayer& devices_;
    platform::Clock& clock_;
    platform::EventLog& eventLog_;
    JsonCommands* json_;
};

}  // namespace vt::pipe
