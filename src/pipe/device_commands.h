// The pipe's JSON device commands: {"mod":..., "func":..., "param":...}
// picks one attached device by model and asks it to do one thing. "mod"
// and "func" match whole and case-sensitively. A model that is not attached
// is skipped and the reply is still "TW_OK" (the desktop application does
// not track attachment), except for the case panel, whose reply is the
// panel's own text. A request with a field missing or of the wrong type
// calls nothing and leaves the reply "TW_FAIL".
#pragma once

#include "devices/device_layer.h"
#include "pipe/pipe_commands.h"

namespace vt::pipe {

class DeviceCommands final : public JsonCommands {
  public:
    explicit DeviceCommands(devices::DeviceLayer& devices) : devices_(devices) {}
    void Dispatch(const Json& request, std::string& reply) override;

    // The longest reply the case panel may write (the pipe's reply limit).
    static constexpr size_t kHostReplySize = 128;

  private:
    void Keyboard(void (*call)(devices::DeviceSlots&, devices::StatusEffectRequest*),
                  const Json& request, std::string& reply);
    void Cooler(const std::string& func, const Json& request, std::string& reply);
    void CasePanel(const Json& request, std::string& reply);

    devices::DeviceLayer& devices_;
};

}  // namespace vt::pipe
