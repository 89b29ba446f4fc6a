// Processes the service looks for, starts and ends.
#pragma once

#include <cstdint>
#include <string>

namespace vt::platform {

// A process handle on Windows, a process id elsewhere.
using ProcessHandle = intptr_t;
inline constexpr ProcessHandle kNoProcess = -1;

// A program's file name on each system.
struct ProgramName {
    const char* windows;
    const char* posix;
};

class Processes {
  public:
    // Ends a process the service started. On Linux only the service's own
    // children are ended (a recycled process id must never be hit), and the
    // child is reaped.
    virtual bool Terminate(ProcessHandle process, uint32_t exitCode) = 0;
    // True when a running process's executable file name is `fileName`,
    // exactly as the system spells it (case-sensitive, whole name). False
    // when none is, or the processes cannot be listed.
    virtual bool ProgramRuns(const std::string& fileName) = 0;
    // The name as this system spells it.
    virtual std::string FileName(const ProgramName& program) = 0;
    // Starts the program at `path` (in the system's code page) in the
    // session of the user at the console. kNoProcess when nothing started.
    virtual ProcessHandle LaunchInUserSession(const std::string& path) = 0;
    // Lets go of a process the service started and no longer follows:
    // closes the handle on Windows, reaps the child on Linux once it ended.
    virtual void Release(ProcessHandle process) = 0;
    // Ends this process at once with `exitCode`, running no clean-up of the
    // program or of the libraries it loaded: a thread may still be inside
    // one of them (holding its locks, on Windows perhaps the loader lock),
    // and their detach code could wait for it for ever. Never returns,
    // except in tests.
    virtual void EndThisProcess(uint32_t exitCode) = 0;

  protected:
    ~Processes() = default;
};

}  // namespace vt::platform
