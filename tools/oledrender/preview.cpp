#include "preview.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string_view>

#include "converter.h"
#include "devices/device_layer.h"
#include "oled/oled_job.h"

namespace vt::oledrender {

namespace {

using nlohmann::json;

extern "C" vt::oled::OledConverter* VT_CDECL PreviewConverter() {
    return oledconvert::Converter();
}

class NoWaitClock final : public platform::Clock {
  public:
    uint32_t TickCount() override { return static_cast<uint32_t>(now_); }
    uint64_t TickCount64() override { return now_; }
    void Sleep(uint32_t milliseconds) override { now_ += milliseconds; }
    uint64_t LocalTimeMs() override { return now_; }

  private:
    uint64_t now_ = 0;
};

class CollectingLog final : public platform::EventLog {
  public:
    void Write(const platform::EventRecord& record) override {
        messages.push_back(record.strings.size() > 1 ? record.strings[1] : L"");
    }
    std::vector<std::wstring> messages;
};

class SilentConsole final : public platform::Console {
  public:
    void Print(std::wstring_view) override {}
};

class FixedFolders final : public platform::Folders {
  public:
    explicit FixedFolders(std::string folder) : folder_(std::move(folder)) {}
    std::string DataFolder() override { return folder_; }
    bool SharedDataFolder(std::string& folder) override {
        folder = folder_;
        return true;
    }
    std::string ProgramFolder() override { return folder_; }
    char Separator() override { return '/'; }
    // The tool's own scratch folder: no other user's files to guard against.
    platform::UserFile ReadUserFile(const std::string& path, size_t limit,
                                    std::string& content) override {
        std::ifstream in(path, std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.is_open() || text.size() > limit) {
            return in.is_open() ? platform::UserFile::TooLarge : platform::UserFile::Missing;
        }
        content = std::move(text);
        return platform::UserFile::Read;
    }
    bool PrepareServiceFolder(const std::string&, uint32_t&) override { return true; }
    std::string ServiceFolder() override { return folder_ + "/"; }

  private:
    std::string folder_;
};

class SymbolLibrary final : public platform::DynamicLibrary {
  public:
    SymbolLibrary(std::string name, void* address) : name_(std::move(name)), address_(address) {}
    void* Symbol(const char* name) override { return name_ == name ? address_ : nullptr; }
    void Unload() override {}

  private:
    std::string name_;
    void* address_;
};

}  // namespace

twsim::DeviceState PreviewMouseState() {
    twsim::DeviceState state;
    state.profile = 1;
    state.settings = {2,    0x90, 0x01, 0x90, 0x01, 0xB0, 0x04, 0xB0, 0x04, 0xA0,
                      0x0F, 0xA0, 0x0F, 0xE0, 0x2E, 0xE0, 0x2E, 0,    0,    0,
                      0,    0,    1,    0x0A, 0x10, 1,    6,    6,    3};
    state.info = {37, 0, 58, 40, 21, 0, 0, 0};
    state.apm = 312;
    state.logoFlag = 0;
    return state;
}

bool ReadMouseState(const json& in, twsim::DeviceState& state, std::string& error) {
    try {
        twsim::ApplyState(in, state, false);
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

PreviewMouse::PreviewMouse() {
    twlink.MakeCurrent();
    twlink.keepFrames = true;
    state = PreviewMouseState();
}

std::vector<std::string> PreviewMouse::Calls(uint64_t since) const {
    constexpr std::string_view prefix = "RX410.";
    std::vector<std::string> out;
    for (const std::string& line : twlink.LinesSince(since)) {
        if (line.starts_with(prefix)) {
            out.push_back(line.substr(prefix.size()));
        }
    }
    return out;
}

std::unique_ptr<platform::DynamicLibrary> SymbolLibraries::LoadFromProgramFolder(
    const platform::LibraryName&, uint32_t&) {
    return std::make_unique<SymbolLibrary>(symbol, address);
}

// Only the converter is served, and only from the program folder.
std::unique_ptr<platform::DynamicLibrary> SymbolLibraries::LoadFromSystemFolder(
    const platform::LibraryName&, uint32_t& error) {
    error = platform::kErrorModNotFound;
    return nullptr;
}

Rendering RenderOneCycle(const std::string& config, const twsim::DeviceState& state,
                         const std::string& dataFolder) {
    std::ofstream(dataFolder + "/" + oled::kJobFileName, std::ios::binary) << config;

    NoWaitClock clock;
    CollectingLog log;
    SilentConsole console;
    FixedFolders folders(dataFolder);
    SymbolLibraries libraries;
    libraries.symbol = oled::kOledDataConvertExport;
    libraries.address = reinterpret_cast<void*>(&PreviewConverter);
    PreviewMouse mouse;
    mouse.state = state;
    devices::DeviceLayer layer(log, console, clock);
    layer.Attach(twsim::Api());
    layer.rx410Present = 1;

    ServiceState service;
    oled::OledJob job(service, layer, {clock, log, folders, libraries});
    job.Start();
    Rendering out;
    // Finding the mouse and loading the file take a pass each; a file that
    // stops the job never gets to paint.
    for (int pass = 0; pass < 8 && !out.painted; ++pass) {
        out.painted = job.state() == oled::OledJob::kPaint && service.enabled != 0;
        job.Pass();
    }
    out.frames = mouse.frames;
    out.events = log.messages;
    return out;
}

std::string FramesToText(const std::vector<Pixels>& frames) {
    std::string out;
    for (size_t f = 0; f < frames.size(); ++f) {
        if (f > 0) {
            out += '\n';
        }
        out += twsim::FrameText(frames[f].data());
    }
    return out;
}

}  // namespace vt::oledrender
