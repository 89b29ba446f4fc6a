#include "common/outside_calls.h"
#include "oled/oled_job.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/service_event.h"
#include "common/text.h"
#include "oled/builtin_pictures.h"

namespace vt::oled {

namespace {

using platform::EventType;

// How far `item` stands past `first` in its group of items.
int Offset(Item item, Item first) {
    return static_cast<int>(item) - static_cast<int>(first);
}

constexpr uint16_t kRX410ProductId = 0x006B;
constexpr char kBitmapFileName[] = "oled.bmp";
constexpr int32_t kUploadFrame = 3;
constexpr int32_t kSelectScreen = 0;
constexpr uintptr_t kShowLogo = 0;
constexpr int32_t kQueryLogoFlag = 0;
constexpr int32_t kQueryInfoBlock = 4;
constexpr int32_t kQueryApm = 5;
constexpr int32_t kSettingsSelector = 1;
constexpr int kDpiStages = 4;
constexpr int kLiftOffByte = 22;
constexpr int kReportIntervalByte = 25;

// The settings block as the mouse reports it before the first read.
MouseSettings InitialSettings() {
    MouseSettings s{};
    s[0] = 1;
    const uint16_t stages[kDpiStages] = {400, 1200, 4000, 12000};
    for (int i = 0; i < kDpiStages; ++i) {
        for (int axis = 0; axis < 2; ++axis) {
            s[1 + 4 * i + 2 * axis] = static_cast<uint8_t>(stages[i] & 0xFF);
            s[2 + 4 * i + 2 * axis] = static_cast<uint8_t>(stages[i] >> 8);
        }
    }
    const uint8_t tail[8] = {0x00, 0x00, 0x0A, 0x10, 0x01, 0x06, 0x06, 0x03};
    std::memcpy(&s[21], tail, sizeof tail);
    return s;
}

// The converter writes the scratch bitmap wherever it is told, following
// any link there: so only into the service's own folder, never into the
// shared data folder. Without that folder there is no path and text screens
// go out blank.
std::string ScratchBitmapPath(platform::Folders& folders) {
    const std::string folder = folders.ServiceFolder();
    return folder.empty() ? std::string() : folder + kBitmapFileName;
}

// The mouse's reads, each watched as a call into the device library.
void ReadMouseSettings(devices::RX410Device* mouse, uint8_t* settings) {
    OutsideCall call("RX410 ReadSettings");
    mouse->ReadSettings(kSettingsSelector, settings);
}

void QueryMouse(devices::RX410Device* mouse, int32_t selector, void* out) {
    OutsideCall call("RX410 QueryInfo");
    mouse->QueryInfo(&selector, 0, out);
}

}  // namespace

OledJob::OledJob(ServiceState& service, devices::DeviceLayer& devices, JobPlatform platform)
    : service_(service),
      devices_(devices),
      platform_(platform),
      folderJobFile_(platform.folders, platform.eventLog, JobFilePath(platform.folders)),
      jobFile_(platform.jobFile ? *platform.jobFile : folderJobFile_),
      bitmapPath_(ScratchBitmapPath(platform.folders)),
      settings_(InitialSettings()) {}

OledJob::~OledJob() = default;

void OledJob::Log(EventType type, const wchar_t* message) {
    WriteServiceEvent(platform_.eventLog, type, message);
}

void OledJob::Run(const std::atomic<bool>& stopping) {
    stopping_ = &stopping;
    Start();
    while (!stopping) {
        Pass();
    }
}

void OledJob::LoadConverter() {
    uint32_t error = 0;
    converterLibrary_ = platform_.libraries.LoadFromProgramFolder(kOledConvertLibrary, error);
    const std::wstring name = platform_.libraries.DisplayName(kOledConvertLibrary);
    if (!converterLibrary_) {
        // Text screens then go out blank; pictures still show.
        WriteServiceEvent(platform_.eventLog, EventType::Error,
                          FailedWithError(L"Load " + name, error));
        return;
    }
    auto factory =
        reinterpret_cast<OledDataConvertFn>(converterLibrary_->Symbol(kOledDataConvertExport));
    converter_ = factory ? Guarded("oledDataConvert", factory) : nullptr;
    if (!factory) {
        WriteServiceEvent(platform_.eventLog, EventType::Error,
                          name + L" lacks the export oledDataConvert");
    }
    if (converter_) {
        OutsideCall call("InitConverter");
        converter_->InitConverter(0);
    }
}

void OledJob::Start() {
    LoadConverter();
    Log(EventType::Information, L"TWservice JobThread");
    service_.disabled = 0;
    service_.lastHeartbeat = 0;
    LoadJobEnable();
    state_ = kFindMouse;
}

void OledJob::LoadJobEnable() {
    service_.enabled = JobEnabledAtStart(jobFile_) ? 1 : 0;
    Log(EventType::Information, service_.enabled ? L"Enable job" : L"Disable job");
}

void OledJob::Pass() {
    devices_.oledJobWait.Rearm();
    if (service_.enabled == 0) {
        // Until the pipe's "enable" (or the stop).
        devices_.oledJobWait.WaitForWake(kDisabledPollMs);
        state_ = kFindMouse;
        return;
    }
    switch (state_) {
        case kFindMouse:
            FindMouse();
            break;
        case kLoadFile:
            LoadFile();
            break;
        default:
            Paint();
            break;
    }
}

void OledJob::FindMouse() {
    if (devices_.rx410Present == 0) {
        // Until the mouse arrives, or the job is switched.
        devices_.oledJobWait.WaitForWake(kAbsentPollMs);
        return;
    }
    const devices::TwLinkApi& api = devices_.api();
    const int32_t count = api.devInfo ? api.devInfo(list_.data()) : 0;
    if (count <= 0) {
        Hold(kEmptyListMs);
        return;
    }
    const auto end = list_.begin() + std::min<int32_t>(count, devices::kDevInfoCapacity);
    const auto found = std::find_if(list_.begin(), end, [](const devices::DevInfoRecord& r) {
        return r.vendorId == devices::kMakerVendorId && r.productId == kRX410ProductId;
    });
    if (found == end) {
        return;
    }
    Log(EventType::Information, L"Found RX410");
    record_ = *found;
    mouse_ = api.rx410 ? Guarded("rx410", api.rx410, &record_) : nullptr;
    if (!mouse_) {
        // The library could not open it (it may be leaving right now): look
        // again after the usual pause instead of calling through null.
        Hold(kAbsentPollMs);
        return;
    }
    OutsideCall call("RX410 GetProfile/QueryInfo/SetOled");
    mouse_->GetProfile(&activeProfile_);
    if (activeProfile_ == 0) {
        int32_t flag = 0;
        int32_t selector = kQueryLogoFlag;
        mouse_->QueryInfo(&selector, 0, &flag);
        if (flag != 0) {
            Log(EventType::Information, L"Set profile 0 OLED to TW logo");
            int32_t mode = kSelectScreen;
            mouse_->SetOled(&mode, kShowLogo);
            mouse_->ApplyChanges();
        }
    }
    state_ = kLoadFile;
}

void OledJob::LoadFile() {
    switch (jobFile_.Read(config_)) {
        case JobFileRead::CannotOpen:
            Log(EventType::Error, L"Can not open tw_service.cfg");
            // Only a third failure in a row of counting resets the counter;
            // a successful load in between does not.
            if (++openFailures_ < kOpenAttempts) {
                Hold(kFileRetryMs);
                return;
            }
            openFailures_ = 0;
            service_.enabled = 0;
            state_ = kFindMouse;
            return;
        case JobFileRead::FormatError:
            Log(EventType::Error, L"tw_service.cfg file format error");
            Hold(kFileRetryMs);
            service_.enabled = 0;
            state_ = kFindMouse;
            return;
        case JobFileRead::Loaded:
            state_ = kPaint;
            return;
    }
}

void OledJob::HandleProfileChange() {
    Log(EventType::Warning, L"Change profile notify");
    OutsideCall call("RX410 QueryInfo/SetOled/GetProfile");
    int32_t flag = 0;
    int32_t selector = kQueryLogoFlag;
    mouse_->QueryInfo(&selector, 0, &flag);
    if (flag != 0) {
        int32_t mode = kSelectScreen;
        mouse_->SetOled(&mode, kShowLogo);
        mouse_->ApplyChanges();
    }
    mouse_->GetProfile(&activeProfile_);
    profileChanged = 0;
    state_ = kLoadFile;
}

void OledJob::Paint() {
    if (devices_.rx410Present == 0) {
        Log(EventType::Warning, L"Stop painting");
        state_ = kFindMouse;
        return;
    }
    if (profileChanged != 0) {
        HandleProfileChange();
        return;
    }
    if (!ConfigEnabled(config_)) {
        service_.enabled = 0;
        state_ = kFindMouse;
        return;
    }
    if (ProfileView(config_, activeProfile_).CycleCount() == 0) {
        // The library may change the active profile behind the job's back,
        // telling nobody: only a poll can see that.
        Hold(kEmptyCyclePollMs);
        return;
    }
    RunCycle();
}

bool OledJob::CycleGoesOn() const {
    return service_.enabled != 0 && devices_.rx410Present != 0 && profileChanged == 0 &&
           !(stopping_ && *stopping_);
}

void OledJob::RunCycle() {
    for (size_t i = 0;; ++i) {
        // Looked up again before every screen: the profile may have moved.
        const ProfileView profile(config_, activeProfile_);
        if (i >= profile.CycleCount() || !CycleGoesOn()) {
            return;
        }
        Show(profile, profile.ItemAt(i));
        Wait(profile.Duration());
    }
}

void OledJob::Wait(std::optional<int32_t> seconds) {
    if (!seconds || *seconds <= 0) {
        return;
    }
    // Only a profile change or the stop cuts a screen short; the switch and
    // the mouse's presence are looked at once it has run out.
    devices_.oledJobWait.WaitPeriod(uint64_t(*seconds) * 1000, kWaitStepMs, [this] {
        return profileChanged != 0 || (stopping_ && *stopping_);
    });
}

void OledJob::Hold(uint32_t milliseconds) {
    devices_.oledJobWait.WaitPeriod(milliseconds, milliseconds, nullptr);
}

void OledJob::RaiseProfileChanged() {
    profileChanged = 1;
    devices_.oledJobWait.Wake();
}

void OledJob::Show(const ProfileView& profile, Item item) {
    char text[32] = {};
    switch (item) {
        case Item::Profile:
            std::snprintf(text, sizeof text, "PROFILE%d", static_cast<int>(activeProfile_));
            break;
        case Item::Dpi: {
            ReadMouseSettings(mouse_, settings_.data());
            // Only four stages exist; an index beyond them shows 0 rather
            // than whatever bytes follow the stages.
            const int stage = settings_[0];
            const unsigned dpi =
                stage < kDpiStages ? settings_[1 + 4 * stage] | (settings_[2 + 4 * stage] << 8) : 0;
            std::snprintf(text, sizeof text, "DPI %u", dpi);
            break;
        }
        case Item::LiftOff:
            ReadMouseSettings(mouse_, settings_.data());
            std::snprintf(text, sizeof text, "%s",
                          settings_[kLiftOffByte] ? "LOD HIGH" : "LOD LOW");
            break;
        case Item::Volume:
        case Item::Cpu:
        case Item::Gpu:
        case Item::Ram: {
            QueryMouse(mouse_, kQueryInfoBlock, info_.data());
            static const char* const kFormats[] = {"VOL %u%%", "CPU %u%%", "GPU %u%%", "RAM %u%%"};
            static const int kBytes[] = {3, 0, 4, 2};
            std::snprintf(text, sizeof text, kFormats[Offset(item, Item::Volume)],
                          unsigned{info_[kBytes[Offset(item, Item::Volume)]]});
            break;
        }
        case Item::Rate: {
            ReadMouseSettings(mouse_, settings_.data());
            // An interval of 0 would divide by zero: it reads as rate 0.
            const unsigned interval = settings_[kReportIntervalByte];
            std::snprintf(text, sizeof text, "RATE %uHz", interval ? 1000 / interval : 0);
            break;
        }
        case Item::Apm: {
            QueryMouse(mouse_, kQueryApm, &apm_);
            std::snprintf(text, sizeof text, "APM %d", static_cast<int>(apm_));
            break;
        }
        case Item::Custom:
            ShowCustom(profile);
            return;
        case Item::Picture0:
        case Item::Picture1:
        case Item::Picture2:
            ShowPicture(BuiltInPicture(Offset(item, Item::Picture0)));
            return;
        default:
            return;  // 9 and unknown numbers leave the screen as it is
    }
    // The screen text is at most 11 characters; longer figures are cut.
    std::snprintf(text_, sizeof text_, "%.*s", kTextChars, text);
    ShowText();
}

void OledJob::ShowText() {
    textFrame_.frameId = devices::kOledFrameId;
    std::memset(textFrame_.pixels, 0, sizeof textFrame_.pixels);
    if (converter_ && !bitmapPath_.empty()) {
        {
            OutsideCall call("TextToBitmap");
            converter_->TextToBitmap(text_, bitmapPath_.c_str(), 1);
        }
        OutsideCall call("BitmapToFrame");
        converter_->BitmapToFrame(bitmapPath_.c_str(), textFrame_.pixels);
    }
    Upload(textFrame_);
}

void OledJob::ShowPicture(const uint8_t* pixels) {
    pictureFrame_.frameId = devices::kOledFrameId;
    std::memcpy(pictureFrame_.pixels, pixels, sizeof pictureFrame_.pixels);
    Upload(pictureFrame_);
}

void OledJob::ShowCustom(const ProfileView& profile) {
    pictureFrame_.frameId = devices::kOledFrameId;
    for (int x = 0; x < devices::kOledWidth; ++x) {
        for (int y = 0; y < devices::kOledHeight; ++y) {
            pictureFrame_.pixels[x * devices::kOledHeight + y] = profile.CustomPixel(x, y);
        }
    }
    Upload(pictureFrame_);
}

void OledJob::Upload(devices::OledFrame& frame) {
    OutsideCall call("RX410 SetOled");
    int32_t mode = kUploadFrame;
    mouse_->SetOled(&mode, reinterpret_cast<uintptr_t>(&frame));
    mode = kSelectScreen;
    mouse_->SetOled(&mode, devices::kOledFrameId);
}

}  // namespace vt::oled
