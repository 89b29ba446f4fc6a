// The crash hook of the Windows service: an unhandled-exception filter that
// hands the exception to a writer thread started at install, which writes a
// minidump named after the local time; the filter waits for it a bounded
// time, then ends the process without the system's error dialog.
//
// The filter runs on the thread that failed, which may have about a page of
// stack left (a stack overflow), hold the heap's or the loader's lock, or
// have crashed in the C runtime: it allocates nothing, takes no lock, calls
// nothing that may load a library, and does not write the dump itself
// (MiniDumpWriteDump is not meant to run on the faulting thread). Whatever
// the writer does, the process ends within the bound with the exception
// code as exit code, so the service manager's recovery takes over.
#include <windows.h>
// After windows.h:
#include <dbghelp.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/crash_handoff.h"
#include "platform/win32/files_win.h"
#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

class WinCrashHook final : public CrashHook {
  public:
    void Install(const std::string& folder) override;
    void Hung(const char* call, const char* thread) override;
};

namespace {

// What the failed thread hands over.
struct WinCrash {
    EXCEPTION_POINTERS* exception = nullptr;
    DWORD threadId = 0;
    UINT exitCode = 1;  // when there is no exception code (a hang)
};

using Handoff = CrashHandoff<WinCrash>;

// Everything the filter and the writer use, made by Install; never freed.
struct Hook {
    Hook(HANDLE crashedEvent, HANDLE writtenEvent, std::wstring dumpFolder,
         Handoff::WriteFunction write, Handoff::EndFunction end)
        : crashed(crashedEvent),
          written(writtenEvent),
          handoff(crashed, written, write, end),
          folder(std::move(dumpFolder)) {}
    WinEvent crashed;
    WinEvent written;
    Handoff handoff;
    const std::wstring folder;  // wide already: nothing converted at the crash
};
std::atomic<Hook*> g_hook{nullptr};
std::atomic<bool> g_installed{false};

// On the writer thread. It may allocate and take locks: the worst a lock
// the crash left held can do here is cost the dump.
void WriteDump(const WinCrash& crash) {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    const CrashTime when{local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute};
    char name[64];
    if (FormatCrashFileName(when, ".dmp", name, sizeof name) == 0) {
        return;
    }
    std::wstring path = g_hook.load()->folder;
    path.append(name, name + strlen(name));  // digits and ".dmp"
    HANDLE file = CreateDumpFileWith(SystemFileApi(), path);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    MINIDUMP_EXCEPTION_INFORMATION info;
    info.ThreadId = crash.threadId;
    info.ExceptionPointers = crash.exception;
    // The pointers are this process's own: TRUE would have the writer read
    // them as addresses in another process.
    info.ClientPointers = FALSE;
    // A hang has no exception: the dump holds every thread's stack all the same.
    ::MiniDumpWriteDump(::GetCurrentProcess(), ::GetCurrentProcessId(), file, MiniDumpNormal,
                        crash.exception != nullptr ? &info : nullptr, nullptr, nullptr);
    ::CloseHandle(file);
}

// No DLL is told and no exit handler runs (either could wait for a lock the
// crash left held); the exception code is never 0, but the exit code must
// say failure whatever it is.
void EndProcess(const WinCrash& crash) {
    UINT code = crash.exitCode;
    if (crash.exception != nullptr && crash.exception->ExceptionRecord != nullptr &&
        crash.exception->ExceptionRecord->ExceptionCode != 0) {
        code = crash.exception->ExceptionRecord->ExceptionCode;
    }
    ::TerminateProcess(::GetCurrentProcess(), code);
}

DWORD WINAPI ServeCrashes(LPVOID hook) {
    static_cast<Hook*>(hook)->handoff.Serve();
    return 0;
}

}  // namespace

LONG WINAPI WriteCrashDump(EXCEPTION_POINTERS* exception) {
    const WinCrash crash{exception, ::GetCurrentThreadId()};
    if (Hook* hook = g_hook.load()) {
        hook->handoff.Crashed(crash);
    }
    EndProcess(crash);
    return EXCEPTION_EXECUTE_HANDLER;  // the process is gone before this
}

// The call and the thread are in the event log's entry already. The dump
// goes through the writer thread and its bound like a crash's: writing it
// suspends every thread, the hung one included, and may itself wait on a
// lock that one holds; the process ends within the bound all the same.
void WinCrashHook::Hung(const char*, const char*) {
    const WinCrash hang{nullptr, ::GetCurrentThreadId(), ERROR_TIMEOUT};
    if (Hook* hook = g_hook.load()) {
        hook->handoff.Crashed(hang);
    }
    EndProcess(hang);
}

// An empty folder (the service folder could not be prepared) means no
// dumps; the filter still ends the process at once.
void WinCrashHook::Install(const std::string& folder) {
    if (g_installed.exchange(true)) {
        return;  // installed once
    }
    if (!folder.empty()) {
        HANDLE crashed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE written = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (crashed != nullptr && written != nullptr) {
            auto* hook = new Hook(crashed, written, FromAnsi(folder), WriteDump, EndProcess);
            g_hook = hook;
            HANDLE thread = ::CreateThread(nullptr, 0, ServeCrashes, hook, 0, nullptr);
            if (thread != nullptr) {
                ::CloseHandle(thread);  // it waits for the crash until the process ends
            } else {
                g_hook = nullptr;  // no writer: no dumps, and no wait either
                delete hook;
            }
        } else {
            for (HANDLE event : {crashed, written}) {
                if (event != nullptr) {
                    ::CloseHandle(event);
                }
            }
        }
    }
    // Where the system's minidump writer lives in a library of its own, it
    // is loaded now rather than by the writer after the crash (the crashed
    // thread may hold the loader's lock). Missing elsewhere; nothing lost.
    ::LoadLibraryExW(L"dbgcore.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ::SetUnhandledExceptionFilter(WriteCrashDump);
}

CrashHook& SystemCrashHook() {
    static WinCrashHook crashHook;
    return crashHook;
}

}  // namespace vt::platform::win32
