#include <windows.h>
// windows.h first
#include <oleauto.h>

#include <string>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

class WinLibraries final : public Libraries {
  public:
    std::unique_ptr<DynamicLibrary> LoadFromProgramFolder(const LibraryName& name,
                                                          uint32_t& error) override;
    std::unique_ptr<DynamicLibrary> LoadFromSystemFolder(const LibraryName& name,
                                                         uint32_t& error) override;
    void FreeComponentString(void* text) override;
    std::wstring DisplayName(const LibraryName& name) override;
};

namespace {

class WinLibrary final : public DynamicLibrary {
  public:
    explicit WinLibrary(HMODULE module) : module_(module) {}
    // Components stay loaded for the life of the process: objects and
    // callbacks they handed out may still be in use anywhere.
    ~WinLibrary() override = default;
    void* Symbol(const char* name) override {
        return module_ != nullptr ? reinterpret_cast<void*>(::GetProcAddress(module_, name))
                                  : nullptr;
    }
    void Unload() override {
        if (module_ != nullptr) {
            ::FreeLibrary(module_);
            module_ = nullptr;
        }
    }

  private:
    HMODULE module_;
};

}  // namespace

std::unique_ptr<DynamicLibrary> WinLibraries::LoadFromProgramFolder(const LibraryName& name,
                                                                    uint32_t& error) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        error = length == 0 ? ::GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        return nullptr;
    }
    std::wstring path(buffer, length);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + name.windows;
    // The library's own folder for its dependencies, System32 for the rest.
    HMODULE module = ::LoadLibraryExW(
        path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        error = ::GetLastError();
        return nullptr;
    }
    return std::make_unique<WinLibrary>(module);
}

std::unique_ptr<DynamicLibrary> WinLibraries::LoadFromSystemFolder(const LibraryName& name,
                                                                   uint32_t& error) {
    // System32 by name, whatever the current directory is.
    HMODULE module = ::LoadLibraryExW(name.windows, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) {
        error = ::GetLastError();
        return nullptr;
    }
    return std::make_unique<WinLibrary>(module);
}

void WinLibraries::FreeComponentString(void* text) {
    ::SysFreeString(static_cast<BSTR>(text));
}

std::wstring WinLibraries::DisplayName(const LibraryName& name) {
    return name.windows;
}

Libraries& SystemLibraries() {
    static WinLibraries libraries;
    return libraries;
}

}  // namespace vt::platform::win32
