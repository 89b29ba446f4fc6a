// Paints a job file's screens without a mouse: one cycle of the OLED job
// run on a clock that does not wait, against the simulated device library
// with an RX410 attached. Used by the oledrender tool and by the job's tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core.h"
#include "devices/twlink.h"
#include "platform/library.h"

namespace vt::oledrender {

using twsim::Pixels;

// The mouse a preview shows unless told otherwise.
twsim::DeviceState PreviewMouseState();

// Applies the device state members in `in` ("profile", "settings" (29
// numbers), "info" (8 numbers), "apm", "logoFlag", ...) to `state`; missing
// members keep their values. False with `error` set when a member is unknown
// or has the wrong shape.
bool ReadMouseState(const nlohmann::json& in, twsim::DeviceState& state, std::string& error);

// The simulated device library, made current, with one RX410 attached at
// "hid#rx410" that answers from `state` and keeps every frame it receives.
struct PreviewMouse {
    PreviewMouse();
    // The mouse's operations since the log entry `since`, without the model:
    // "GetProfile", "SetOled(3,241)", "SetOled(0,241)".
    std::vector<std::string> Calls(uint64_t since = 0) const;

    twsim::Core twlink;
    std::shared_ptr<twsim::Device> device =
        twlink.Attach({{"model", "RX410"}, {"path", "hid#rx410"}});
    twsim::DeviceState& state = device->state;
    std::vector<Pixels>& frames = twlink.frames;
};

// Serves the export `symbol` as `address` from whatever library is asked
// for; records the names asked for.
class SymbolLibraries final : public platform::Libraries {
  public:
    std::unique_ptr<platform::DynamicLibrary> LoadFromProgramFolder(
        const platform::LibraryName& name, uint32_t& error) override;
    std::unique_ptr<platform::DynamicLibrary> LoadFromSystemFolder(
        const platform::LibraryName& name, uint32_t& error) override;
    void FreeComponentString(void*) override {}
    std::wstring DisplayName(const platform::LibraryName& name) override { return name.windows; }

    std::string symbol;
    void* address = nullptr;
};

struct Rendering {
    std::vector<Pixels> frames;
    std::vector<std::wstring> events;  // event-log messages, in order
    bool painted = false;              // the job reached its painting state
};

// Writes `config` as the job file into `dataFolder`, then starts the job
// with the converter stand-in and runs it until one cycle of the mouse's
// profile has been painted (or a few passes have gone by without painting).
Rendering RenderOneCycle(const std::string& config, const twsim::DeviceState& mouse,
                         const std::string& dataFolder);

// Frames as text: 24 lines of 96 characters ('#' lit, '.' dark) each,
// frames separated by an empty line.
std::string FramesToText(const std::vector<Pixels>& frames);

}  // namespace vt::oledrender
