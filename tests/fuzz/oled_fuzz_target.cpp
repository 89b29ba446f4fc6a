// Fuzzing the OLED job over its job file. One input is the whole file; the
// job starts, finds a mouse, loads the file and paints one cycle of the
// mouse's profile with the converter stand-in.
//
// Besides crashes, sanitizer reports and hangs, the harness stops when the
// mouse receives something it could not take: a pixel byte other than 0 or
// 1, a frame id other than 0xF1, an upload not followed by selecting it, or
// more uploads than the cycle has entries. A cycle whose waits would take
// more than a few thousand sleeps is cut off by the clock.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "converter.h"
#include "devices/device_layer.h"
#include "fakes/fake_console.h"
#include "fakes/fake_event_log.h"
#include "fakes/fake_folders.h"
#include "oled/job_thread.h"
#include "preview.h"

namespace vt::oled {
namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "oled fuzz: %s: %s\n", what, detail.c_str());
    std::abort();
}

struct OutOfTime {};

// Virtual time with a budget: a wait of years ends the input, not the run.
class BudgetClock final : public platform::Clock {
  public:
    uint32_t TickCount() override { return static_cast<uint32_t>(now_); }
    uint64_t TickCount64() override { return now_; }
    void Sleep(uint32_t milliseconds) override {
        now_ += milliseconds;
        if (++sleeps_ > 5000) {
            throw OutOfTime{};
        }
    }
    uint64_t LocalTimeMs() override { return now_; }

  private:
    uint64_t now_ = 0;
    int sleeps_ = 0;
};

extern "C" OledConverter* VT_CDECL StandInFactory() {
    return oledconvert::Converter();
}

// One scratch folder for the run, holding the job file and the bitmap.
struct Scratch {
    Scratch() {
        const auto unique = reinterpret_cast<uintptr_t>(this) ^ static_cast<uintptr_t>(std::rand());
        folder =
            (std::filesystem::temp_directory_path() / ("vt_oled_fuzz_" + std::to_string(unique)))
                .string();
        std::filesystem::create_directories(folder);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string folder;
};

void CheckMouse(const oledrender::PreviewMouse& mouse, const Json& config, int32_t profile) {
    size_t uploads = 0;
    for (size_t i = 0; i < mouse.calls.size(); ++i) {
        const std::string& call = mouse.calls[i];
        if (call.rfind("bad frame id", 0) == 0) {
            Fail("frame id", call);
        }
        if (call == "SetOled(3)") {
            ++uploads;
            if (i + 1 >= mouse.calls.size() || mouse.calls[i + 1] != "SetOled(0,241)") {
                Fail("an upload was not selected", std::to_string(i));
            }
        }
    }
    for (const auto& frame : mouse.frames) {
        for (uint8_t p : frame) {
            if (p > 1) {
                Fail("pixel byte", std::to_string(p));
            }
        }
    }
    if (uploads > ProfileView(config, profile).CycleCount()) {
        Fail("more uploads than entries", std::to_string(uploads));
    }
}

}  // namespace
}  // namespace vt::oled

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vt;
    using namespace vt::oled;
    static Scratch scratch;
    std::ofstream(scratch.folder + "/tw_service.cfg", std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    BudgetClock clock;
    fakes::FakeEventLog log;
    fakes::FakeConsole console;
    fakes::FakeFolders folders;
    folders.dataFolder = scratch.folder;
    folders.serviceFolder = scratch.folder + "/";
    oledrender::SymbolLibraries libraries;
    libraries.symbol = kOledDataConvertExport;
    libraries.address = reinterpret_cast<void*>(&StandInFactory);
    oledrender::PreviewMouse mouse;
    // Figures that need care: a stage index past the four, a zero interval,
    // the longest APM count.
    mouse.state.settings[0] = static_cast<uint8_t>(size % 7);
    mouse.state.settings[25] = static_cast<uint8_t>(size % 3);
    mouse.state.apm = -2147483647 - 1;
    mouse.state.profile = static_cast<int32_t>(size % 3);
    mouse.state.logoFlag = 1;
    devices::DeviceLayer layer(log, console, clock);
    layer.Attach(oledrender::PreviewLibrary(mouse));
    layer.rx410Present = 1;
    std::atomic<int32_t> enabled{1}, disabled{0};
    std::atomic<uint64_t> heartbeat{0};
    JobThread job({enabled, disabled, heartbeat}, layer, {clock, log, folders, libraries});
    Json config;
    UserFileReader reader(folders, log, kJobFileNameW);
    ReadJobFile(reader, folders.dataFolder + "/tw_service.cfg", config);
    try {
        job.Start();
        enabled = 1;  // paint whatever the file says about "enable"
        for (int pass = 0; pass < 4; ++pass) {
            const bool painting = job.state() == JobThread::kPaint;
            job.Pass();
            if (painting) {
                break;
            }
        }
    } catch (const OutOfTime&) {
    }
    CheckMouse(mouse, config, mouse.state.profile);
    return 0;
}
