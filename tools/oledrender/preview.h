// Paints a job file's screens without a mouse: a recording RX410 that
// answers from a given state, a device library that lists it as attached,
// and one cycle of the OLED job run on a clock that does not wait. Used by
// the oledrender tool and by the job's tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devices/twlink.h"
#include "platform/library.h"

namespace vt::oledrender {

using Pixels = std::array<uint8_t, devices::kOledPixels>;

// What the mouse answers.
struct MouseState {
    int32_t profile = 1;
    std::array<uint8_t, devices::kMouseSettingsSize> settings = {
        2,    0x90, 0x01, 0x90, 0x01, 0xB0, 0x04, 0xB0, 0x04, 0xA0, 0x0F, 0xA0, 0x0F, 0xE0, 0x2E,
        0xE0, 0x2E, 0,    0,    0,    0,    0,    1,    0x0A, 0x10, 1,    6,    6,    3};
    std::array<uint8_t, devices::kMouseInfoSize> info = {37, 0, 58, 40, 21, 0, 0, 0};
    int32_t apm = 312;
    int32_t logoFlag = 0;  // QueryInfo selector 0
};

// Reads the members "profile", "settings" (29 numbers), "info" (8
// numbers), "apm" and "logoFlag"; missing members keep their defaults.
// False with `error` set when a member has the wrong shape.
bool ReadMouseState(const nlohmann::json& in, MouseState& state, std::string& error);

class PreviewMouse final : public devices::RX410Device {
  public:
    void GetProfile(int32_t* profile) override;
    void ReadSettings(int32_t selector, uint8_t settings[devices::kMouseSettingsSize]) override;
    void ApplyChanges() override;
    void SetOled(int32_t* mode, uintptr_t data) override;
    void QueryInfo(int32_t* selector, int32_t zero, void* out) override;

    MouseState state;
    // Every operation in order, e.g. "SetOled(3)", "SetOled(0,241)".
    std::vector<std::string> calls;
    std::vector<Pixels> frames;  // every frame uploaded (mode 3)
};

// A device library whose devInfo lists one RX410 and whose rx410 factory
// returns `mouse`; only one such library exists at a time.
devices::TwLinkApi PreviewLibrary(PreviewMouse& mouse);

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
Rendering RenderOneCycle(const std::string& config, const MouseState& mouse,
                         const std::string& dataFolder);

// Frames as text: 24 lines of 96 characters ('#' lit, '.' dark) each,
// frames separated by an empty line.
std::string FramesToText(const std::vector<Pixels>& frames);

}  // namespace vt::oledrender
