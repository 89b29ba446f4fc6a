// A whole fake operating system for one test: build one per test.
#pragma once

#include <gtest/gtest.h>

#include "common/outside_calls.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_console.h"
#include "fakes/fake_crash_hook.h"
#include "fakes/fake_event_log.h"
#include "fakes/fake_folders.h"
#include "fakes/fake_icmp.h"
#include "fakes/fake_pipes.h"
#include "fakes/fake_processes.h"
#include "fakes/fake_scm.h"
#include "fakes/fake_screen_saver.h"
#include "fakes/fake_sensors.h"
#include "fakes/fake_service_host.h"
#include "fakes/fake_threads.h"
#include "fakes/fake_twlink.h"
#include "platform/platform.h"

namespace vt::fakes {

struct FakePlatform {
    FakePlatform() {
        twlink.MakeCurrent();
        // Every operation the service calls on a device is watched for a
        // hang; one that is not fails the test that reaches it.
        twlink.onCall = [](const std::string& call) {
            if (!vt::OutsideCall::OnThisThread()) {
                ADD_FAILURE() << "a device call outside a watched call: " << call;
            }
        };
        ResetSensors();
        InstallSensorLibraries(libraries, false);
    }
    // First, so it goes last: whatever the other fakes hold may still call
    // into the device library while they are destroyed.
    twsim::Core twlink;
    FakeClock clock;
    FakeEventLog eventLog;
    FakeServiceHost serviceHost;
    FakeProcesses processes;
    FakeConsole console;
    FakeScm scm;
    FakeLibraries libraries;
    FakePipes pipes;
    FakeFolders folders;
    FakeScreenSaver screenSaver;
    FakeIcmp icmp{clock};
    FakeCrashHook crashHook;
    bool withScm = true;
    // Last, so it is destroyed first: the threads it started are joined
    // while every other fake they may use still exists.
    FakeThreads threads{clock};

    platform::Platform get() {
        return platform::Platform{.clock = clock,
                                  .eventLog = eventLog,
                                  .serviceHost = serviceHost,
                                  .threads = threads,
                                  .processes = processes,
                                  .console = console,
                                  .libraries = libraries,
                                  .pipes = pipes,
                                  .folders = folders,
                                  .screenSaver = screenSaver,
                                  .icmp = icmp,
                                  .crashHook = crashHook,
                                  .scm = withScm ? &scm : nullptr};
    }
};

}  // namespace vt::fakes
