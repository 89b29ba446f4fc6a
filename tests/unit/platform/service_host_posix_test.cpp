// The daemon's dispatcher: SIGTERM becomes the stop control, held back while
// the service is still starting, and the dispatcher returns once the service
// reports stopped.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {
namespace {

PosixServiceHost* g_host = nullptr;
StatusHandle g_handle = nullptr;
// Written by the handler on the dispatcher thread, read by the test after
// the dispatcher returned (its join orders them).
std::vector<uint32_t> g_controls;
// Whether the service had reported running when the stop reached it.
std::atomic<bool> g_running{false};
std::atomic<bool> g_stopSawRunning{false};
bool g_signalWhileStarting = false;
bool g_failStart = false;

void Report(uint32_t state) {
    ServiceStatus s;
    s.currentState = state;
    g_host->SetStatus(g_handle, s);
}

void Handler(uint32_t control) {
    g_controls.push_back(control);
    g_stopSawRunning = g_running.load();
    if (control == kServiceControlStop) {
        Report(kServiceStopPending);
        Report(kServiceStopped);
    }
}

void Main(uint32_t, wchar_t**) {
    g_handle = g_host->RegisterControlHandler(L"VTService", Handler);
    Report(kServiceStartPending);
    if (g_signalWhileStarting) {
        kill(getpid(), SIGTERM);
    }
    if (g_failStart) {
        Report(kServiceStopped);
        return;
    }
    g_running = true;
    Report(kServiceRunning);
    if (!g_signalWhileStarting) {
        kill(getpid(), SIGTERM);
    }
}

// Each run ends with the dispatcher returning; a stop reaches the service
// once, never before it reported running.
TEST(ServiceHostPosix, SigtermBecomesOneStopOnceRunningAndTheDispatcherReturns) {
    BlockStopSignals();
    struct Case {
        const char* what;
        bool signalWhileStarting, failStart;
        ServiceMainFunction main;
        std::vector<uint32_t> controls;
    };
    const Case cases[] = {
        {"stop while running", false, false, Main, {kServiceControlStop}},
        {"stop while starting is held", true, false, Main, {kServiceControlStop}},
        {"failed start", false, true, Main, {}},
        {"main that never reports", false, false, [](uint32_t, wchar_t**) {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PosixServiceHost host;
        g_host = &host;
        g_controls.clear();
        g_running = false;
        g_stopSawRunning = false;
        g_signalWhileStarting = c.signalWhileStarting;
        g_failStart = c.failStart;
        EXPECT_TRUE(host.RunDispatcher(L"VTService", c.main));
        EXPECT_EQ(g_controls, c.controls);
        EXPECT_EQ(g_stopSawRunning.load(), !c.controls.empty());
    }
}

}  // namespace
}  // namespace vt::platform::posix
