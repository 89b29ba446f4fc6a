// The OLED job: paints the RX410 mouse's 96 x 24 screen from the job file,
// one screen after another for the mouse's active profile, for the life of
// the service.
//
// States: 0 looks for the mouse, 1 loads the job file, 2 paints. Each Pass
// is one turn of the job's loop; Run repeats it until the service stops.
// Tests drive Start and Pass themselves on a virtual clock.
//
// Threads: the job runs on its own work-item thread and alone uses the
// mouse's device object and the converter. `enabled` is also written by the
// pipe thread and `rx410Present` by the library's hot-plug callback; both
// are looked at at the start of every pass and before every screen, so a
// change during a screen's wait takes effect when that wait has run out.
// While the job is switched off or the mouse is absent it waits for them
// (the layer's oledJobWait, which their writers wake) instead of polling;
// retries and screens keep their periods, which only the stop (and, for a
// screen, a profile change) cuts short.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/service_state.h"
#include "devices/device_layer.h"
#include "devices/twlink.h"
#include "oled/job_file.h"
#include "oled/oled_converter.h"
#include "platform/clock.h"
#include "platform/event_log.h"
#include "platform/folders.h"
#include "platform/library.h"

namespace vt::oled {

// The mouse's settings block as ReadSettings fills it.
using MouseSettings = std::array<uint8_t, devices::kMouseSettingsSize>;

struct JobPlatform {
    platform::Clock& clock;
    platform::EventLog& eventLog;
    platform::Folders& folders;
    platform::Libraries& libraries;
    // Null: tw_service.cfg in the data folder.
    JobFileSource* jobFile = nullptr;
};

class OledJob {
  public:
    enum State : int { kFindMouse = 0, kLoadFile = 1, kPaint = 2 };

    static constexpr uint32_t kDisabledPollMs = 500;
    static constexpr uint32_t kAbsentPollMs = 500;
    static constexpr uint32_t kEmptyListMs = 3000;
    static constexpr uint32_t kFileRetryMs = 1000;
    static constexpr uint32_t kEmptyCyclePollMs = 100;
    static constexpr uint32_t kWaitStepMs = 100;
    static constexpr int kOpenAttempts = 3;
    static constexpr int kTextChars = 11;  // the text buffer holds 12 bytes

    OledJob(ServiceState& service, devices::DeviceLayer& devices, JobPlatform platform);
    ~OledJob();
    OledJob(const OledJob&) = delete;
    OledJob& operator=(const OledJob&) = delete;

    // Start, then passes until `stopping` is raised.
    void Run(const std::atomic<bool>& stopping);
    // Obtains the converter, writes the start-up events, clears `disabled`
    // and `lastHeartbeat` and sets `enabled` from the job file.
    void Start();
    // One turn of the loop; in state 2 one whole cycle of screens.
    void Pass();

    int state() const { return state_; }
    int32_t activeProfile() const { return activeProfile_; }

    // Raised when the mouse's profile should be read again; read and
    // cleared by the job only. Nothing in the service raises it yet.
    std::atomic<int32_t> profileChanged{0};
    // Raises it and wakes the job, cutting the current screen short.
    void RaiseProfileChanged();

  private:
    // Sets `enabled` from the job file's "enable" and says which it is.
    void LoadJobEnable();
    void FindMouse();
    void LoadFile();
    void Paint();
    void HandleProfileChange();
    // Runs the screens of the active profile once; returns early when the
    // job is disabled, the mouse is gone or the profile changed.
    void RunCycle();
    void Show(const ProfileView& profile, Item item);
    void ShowText();
    void ShowPicture(const uint8_t* pixels);
    void ShowCustom(const ProfileView& profile);
    void Upload(devices::OledFrame& frame);
    void Wait(std::optional<int32_t> seconds);
    // A retry's or a poll's pause: only the stop cuts it short.
    void Hold(uint32_t milliseconds);
    void LoadConverter();
    bool CycleGoesOn() const;
    void Log(platform::EventType type, const wchar_t* message);

    ServiceState& service_;
    devices::DeviceLayer& devices_;
    JobPlatform platform_;
    const std::atomic<bool>* stopping_ = nullptr;

    JobFileAt folderJobFile_;
    JobFileSource& jobFile_;
    // In the service's own folder; empty when there is none.
    const std::string bitmapPath_;
    std::unique_ptr<platform::DynamicLibrary> converterLibrary_;
    OledConverter* converter_ = nullptr;
    devices::RX410Device* mouse_ = nullptr;

    int state_ = kFindMouse;
    int openFailures_ = 0;
    Json config_;
    int32_t activeProfile_ = 0;  // the library writes it through GetProfile

    std::array<devices::DevInfoRecord, devices::kDevInfoCapacity> list_{};
    devices::DevInfoRecord record_{};
    MouseSettings settings_;
    std::array<uint8_t, devices::kMouseInfoSize> info_{};
    int32_t apm_ = 0;
    char text_[kTextChars + 1] = {};
    devices::OledFrame textFrame_{};
    devices::OledFrame pictureFrame_{};
};

}  // namespace vt::oled
