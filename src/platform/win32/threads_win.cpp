#include <windows.h>

#include <new>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

namespace {

struct WorkRecord {
    WorkFunction fn;
    void* context;
};

DWORD WINAPI WorkTrampoline(LPVOID parameter) {
    WorkRecord record = *static_cast<WorkRecord*>(parameter);
    delete static_cast<WorkRecord*>(parameter);
    record.fn(record.context);
    return 0;
}

}  // namespace

WinEvent::~WinEvent() {
    ::CloseHandle(handle_);
}

void WinEvent::Set() {
    ::SetEvent(handle_);
}

uint32_t WinEvent::Wait(uint32_t milliseconds) {
    return ::WaitForSingleObject(handle_, milliseconds);
}

std::unique_ptr<Event> WinThreads::CreateManualResetEvent() {
    HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (handle == nullptr) {
        return nullptr;
    }
    return std::make_unique<WinEvent>(handle);
}

bool WinThreads::QueueLongRunning(WorkFunction fn, void* context) {
    auto* record = new (std::nothrow) WorkRecord{fn, context};
    if (record == nullptr) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    if (!::QueueUserWorkItem(WorkTrampoline, record, WT_EXECUTELONGFUNCTION)) {
        const DWORD error = ::GetLastError();
        delete record;
        ::SetLastError(error);
        return false;
    }
    return true;
}

bool WinThreads::StartThread(WorkFunction fn, void* context) {
    auto* record = new (std::nothrow) WorkRecord{fn, context};
    if (record == nullptr) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    HANDLE thread = ::CreateThread(nullptr, 0, WorkTrampoline, record, 0, nullptr);
    if (thread == nullptr) {
        const DWORD error = ::GetLastError();
        delete record;
        ::SetLastError(error);
        return false;
    }
    ::CloseHandle(thread);  // nobody waits for it
    return true;
}

uint32_t WinThreads::LastError() {
    return ::GetLastError();
}

}  // namespace vt::platform::win32
