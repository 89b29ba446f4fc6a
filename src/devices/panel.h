// The CS900 case's front panel. The panel's own mode says which value it
// shows; for its three data modes the service supplies the value every two
// seconds from PanelThread: an integer from localdevice.ini (mode 19), the
// round trip of an ICMP echo (mode 14), or the library's system value
// (mode 7). Mode 20 cycles through up to five modes and then gets every value
// one of them needs.
//
// Threads: SetUp runs on the thread that creates the CS900 (the service
// start thread or the library's notification thread); PanelThread on a
// thread of its own, one at a time; the system-information callback on the
// library's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/user_file.h"
#include "devices/latency_probe.h"
#include "platform/folders.h"
#include "platform/icmp.h"
#include "platform/threads.h"

namespace vt::devices {

class DeviceLayer;

inline constexpr uint8_t kPanelModeSystemValue = 7;
inline constexpr uint8_t kPanelModeLatency = 14;
inline constexpr uint8_t kPanelModeCustomValue = 19;
inline constexpr uint8_t kPanelModeCycle = 20;
inline constexpr uint32_t kPanelPeriodMs = 2000;

// What the panel needs from the system besides the layer's own seams.
struct PanelSystem {
    platform::Threads& threads;
    platform::Folders& folders;
    platform::Icmp& icmp;
};

class CS900Panel {
  public:
    CS900Panel(DeviceLayer& layer, const PanelSystem& system);
    // Stops the panel thread and waits (a few seconds at most) until it has
    // left, so it never runs on a panel that is gone.
    ~CS900Panel();
    CS900Panel(const CS900Panel&) = delete;
    CS900Panel& operator=(const CS900Panel&) = delete;

    // The set-up step of every CS900 object created: the settings path, the
    // system-information feed (obtained once), and a PanelThread unless one
    // is running already and will serve the new object.
    void SetUp();
    // localdevice.ini in the shared data folder; printed as "app path : ".
    // Left as it was when the system cannot name the folder.
    void BuildLocalDeviceIniPath();
    std::string localDeviceIniPath() const;

    // Nonzero while a PanelThread runs.
    std::atomic<uint8_t> panelThreadRunning{0};
    // Raised when the service stops: the thread ends after its pass.
    std::atomic<bool> stopping{false};

  private:
    friend class PanelThread;
    static void ThreadMain(void* context);

    DeviceLayer& layer_;
    PanelSystem system_;
    std::atomic<SystemInfoSource*> systemInfo_{nullptr};
    // Threads started and not yet returned; the last thing a thread does.
    std::atomic<int> threadsInside_{0};
    PingState ping_;
    // localdevice.ini, read by the panel thread only.
    UserFileReader iniFile_;
    // Written by a creation while the panel thread reads it.
    mutable std::mutex pathMutex_;
    std::string localDeviceIniPath_;
};

class PanelThread {
  public:
    explicit PanelThread(CS900Panel& panel) : panel_(panel) {}
    // Passes until the CS900 is gone, a pass faults or the service stops;
    // then panelThreadRunning is cleared so the next creation starts a new
    // thread.
    void Run();
    // One pass: the values the panel's mode needs, sent in one
    // SendPanelData when any is needed, then the period, which the
    // service's stop ends. False, at once, when the CS900 slot is empty.
    bool Pass();

  private:
    CS900Panel& panel_;
};

}  // namespace vt::devices
