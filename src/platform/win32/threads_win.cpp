#include <windows.h>

#include <iterator>
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

std::unique_ptr<Event> MakeEvent(BOOL manualReset) {
    HANDLE handle = ::CreateEventW(nullptr, manualReset, FALSE, nullptr);
    if (handle == nullptr) {
        return nullptr;
    }
    return std::make_unique<WinEvent>(handle);
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
    return MakeEvent(TRUE);
}

std::unique_ptr<Event> WinThreads::CreateAutoResetEvent() {
    return MakeEvent(FALSE);
}

uint32_t WinThreads::WaitForEither(Event& first, Event& second, uint32_t milliseconds) {
    const auto* a = dynamic_cast<const WinEvent*>(&first);
    const auto* b = dynamic_cast<const WinEvent*>(&second);
    if (a == nullptr || b == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    const HANDLE handles[2] = {a->handle(), b->handle()};
    return ::WaitForMultipleObjects(2, handles, FALSE, milliseconds);
}

void WinThreads::NameCurrentThread(const char* name) {
    // Windows 10 and later only: looked up, so the service still starts on
    // a system without it.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    static const auto setDescription = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
    if (setDescription == nullptr) {
        return;
    }
    wchar_t wide[64] = {};
    for (size_t i = 0; i + 1 < std::size(wide) && name[i] != '\0'; ++i) {
        wide[i] = static_cast<unsigned char>(name[i]);
    }
    setDescription(::GetCurrentThread(), wide);
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
