#include "preview.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "converter.h"
#include "devices/device_layer.h"
#include "oled/oled_job.h"

namespace vt::oledrender {

namespace {

using nlohmann::json;

PreviewMouse* g_mouse = nullptr;

extern "C" {
int32_t VT_CDECL PreviewDevInfo(devices::DevInfoRecord* buffer) {
    devices::DevInfoRecord record{};
    std::strcpy(record.path, "preview#rx410");
    record.vendorId = devices::kMakerVendorId;
    record.productId = 0x006B;
    buffer[0] = record;
    return 1;
}
devices::RX410Device* VT_CDECL PreviewRx410(const devices::DevInfoRecord*) {
    return g_mouse;
}
vt::oled::OledConverter* VT_CDECL PreviewConverter() {
    return oledconvert::Converter();
}
}

template <size_t N>
bool ReadBytes(const json& in, const char* key, std::array<uint8_t, N>& out, std::string& error) {
    const auto it = in.find(key);
    if (it == in.end()) {
        return true;
    }
    if (!it->is_array() || it->size() != N) {
        error = std::string("\"") + key + "\" must be an array of " + std::to_string(N) + " bytes";
        return false;
    }
    for (size_t i = 0; i < N; ++i) {
        const json& v = (*it)[i];
        if (!v.is_number_unsigned() || v.get<uint64_t>() > 255) {
            error = std::string("\"") + key + "\" must hold numbers 0..255";
            return false;
        }
        out[i] = static_cast<uint8_t>(v.get<uint64_t>());
    }
    return true;
}

bool ReadInt(const json& in, const char* key, int32_t& out, std::string& error) {
    const auto it = in.find(key);
    if (it == in.end()) {
        return true;
    }
    if (!it->is_number_integer()) {
        error = std::string("\"") + key + "\" must be an integer";
        return false;
    }
    out = it->get<int32_t>();
    return true;
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

bool ReadMouseState(const json& in, MouseState& state, std::string& error) {
    if (!in.is_object()) {
        error = "the mouse state must be an object";
        return false;
    }
    return ReadInt(in, "profile", state.profile, error) &&
           ReadBytes(in, "settings", state.settings, error) &&
           ReadBytes(in, "info", state.info, error) && ReadInt(in, "apm", state.apm, error) &&
           ReadInt(in, "logoFlag", state.logoFlag, error);
}

void PreviewMouse::GetProfile(int32_t* profile) {
    calls.push_back("GetProfile");
    *profile = state.profile;
}

void PreviewMouse::ReadSettings(int32_t selector, uint8_t settings[devices::kMouseSettingsSize]) {
    calls.push_back("ReadSettings(" + std::to_string(selector) + ")");
    std::memcpy(settings, state.settings.data(), state.settings.size());
}

void PreviewMouse::ApplyChanges() {
    calls.push_back("ApplyChanges");
}

void PreviewMouse::SetOled(int32_t* mode, uintptr_t data) {
    if (*mode == 3) {
        calls.push_back("SetOled(3)");
        const auto* frame = reinterpret_cast<const devices::OledFrame*>(data);
        Pixels pixels;
        std::memcpy(pixels.data(), frame->pixels, pixels.size());
        frames.push_back(pixels);
        if (frame->frameId != devices::kOledFrameId) {
            calls.push_back("bad frame id " + std::to_string(frame->frameId));
        }
        return;
    }
    calls.push_back("SetOled(" + std::to_string(*mode) + "," + std::to_string(data) + ")");
}

void PreviewMouse::QueryInfo(int32_t* selector, int32_t, void* out) {
    calls.push_back("QueryInfo(" + std::to_string(*selector) + ")");
    switch (*selector) {
        case 0:
            std::memcpy(out, &state.logoFlag, sizeof state.logoFlag);
            break;
        case 4:
            std::memcpy(out, state.info.data(), state.info.size());
            break;
        case 5:
            std::memcpy(out, &state.apm, sizeof state.apm);
            break;
    }
}

devices::TwLinkApi PreviewLibrary(PreviewMouse& mouse) {
    g_mouse = &mouse;
    devices::TwLinkApi api;
    api.devInfo = &PreviewDevInfo;
    api.rx410 = &PreviewRx410;
    return api;
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

Rendering RenderOneCycle(const std::string& config, const MouseState& state,
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
    layer.Attach(PreviewLibrary(mouse));
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
        for (int y = 0; y < devices::kOledHeight; ++y) {
            for (int x = 0; x < devices::kOledWidth; ++x) {
                out += frames[f][static_cast<size_t>(x * devices::kOledHeight + y)] ? '#' : '.';
            }
            out += '\n';
        }
    }
    return out;
}

}  // namespace vt::oledrender
