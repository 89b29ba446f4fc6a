// Windows side of the simulator: files, the library's folder and the
// control endpoint on a named pipe.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "endpoint.h"
#include "host.h"
#include "sim.h"

namespace twsim {

namespace {

constexpr int kMaxConnections = 16;
std::atomic<int> g_connections{0};

std::wstring Wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n,
                        nullptr, nullptr);
    return text;
}

void ServeConnection(Simulator& sim, HANDLE pipe) {
    auto read = [pipe](char* buffer, size_t size) -> long {
        DWORD n = 0;
        if (!ReadFile(pipe, buffer, static_cast<DWORD>(size), &n, nullptr)) {
            return -1;
        }
        return static_cast<long>(n);
    };
    auto write = [pipe](const std::string& text) {
        DWORD n = 0;
        return WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &n, nullptr) &&
               n == text.size();
    };
    sim.Serve(read, write);
    FlushFileBuffers(pipe);
    DisconnectNamedPipe(pipe);
    CloseHandle(pipe);
}

HANDLE CreateInstance(const std::wstring& name, bool first) {
    // Remote clients are refused: the endpoint is for this machine only.
    return CreateNamedPipeW(
        name.c_str(), PIPE_ACCESS_DUPLEX | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr);
}

void AcceptLoop(Simulator& sim, std::wstring name, HANDLE pipe) {
    for (;;) {
        const bool connected =
            ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
        if (connected && g_connections.fetch_add(1) < kMaxConnections) {
            std::thread([&sim, pipe] {
                ServeConnection(sim, pipe);
                g_connections.fetch_sub(1);
            }).detach();
        } else {
            if (connected) {
                g_connections.fetch_sub(1);
                DisconnectNamedPipe(pipe);
            }
            CloseHandle(pipe);
        }
        while ((pipe = CreateInstance(name, false)) == INVALID_HANDLE_VALUE) {
            Sleep(100);
        }
    }
}

}  // namespace

std::string EnvVar(const char* name) {
    const wchar_t* value = _wgetenv(Wide(name).c_str());
    return value ? Utf8(value) : "";
}

std::string LibraryFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&LibraryFolder), &self)) {
        return ".\\";
    }
    std::wstring file(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(self, file.data(), static_cast<DWORD>(file.size()));
        if (n == 0) {
            return ".\\";
        }
        if (n < file.size()) {
            file.resize(n);
            break;
        }
        file.resize(file.size() * 2);
    }
    const size_t slash = file.find_last_of(L"\\/");
    return slash == std::wstring::npos ? ".\\" : Utf8(file.substr(0, slash + 1));
}

std::FILE* OpenFile(const std::string& path, bool write) {
    return _wfopen(Wide(path).c_str(), write ? L"wb" : L"rb");
}

unsigned long ProcessId() {
    return GetCurrentProcessId();
}

void NameThisThread(const char*) {}

void StartControlEndpoint(Simulator& sim) {
    const std::string name = ControlEndpoint();
    const std::wstring wide = Wide(name);
    // The first instance is made here, so a client can connect as soon as
    // the first export returns; another process owning the name keeps it.
    const HANDLE pipe = CreateInstance(wide, true);
    if (pipe == INVALID_HANDLE_VALUE) {
        Say("cannot open control endpoint " + name + " (error " + std::to_string(GetLastError()) +
            ")");
        return;
    }
    std::thread([&sim, wide, pipe] { AcceptLoop(sim, wide, pipe); }).detach();
}

}  // namespace twsim
