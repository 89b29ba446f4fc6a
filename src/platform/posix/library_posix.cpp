#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "platform/posix/system_posix.h"
#include "platform/posix/wide_posix.h"

namespace vt::platform::posix {

class PosixLibraries final : public Libraries {
  public:
    std::unique_ptr<DynamicLibrary> LoadFromProgramFolder(const LibraryName& name,
                                                          uint32_t& error) override;
    std::unique_ptr<DynamicLibrary> LoadFromSystemFolder(const LibraryName& name,
                                                         uint32_t& error) override;
    void FreeComponentString(void* text) override;
    std::wstring DisplayName(const LibraryName& name) override;
};

namespace {

// A file that is there but is no loadable library (ERROR_BAD_EXE_FORMAT).
constexpr uint32_t kErrorBadFormat = 193;

class PosixLibrary final : public DynamicLibrary {
  public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    // Components stay loaded for the life of the process: objects and
    // callbacks they handed out may still be in use anywhere.
    ~PosixLibrary() override = default;
    void* Symbol(const char* name) override {
        return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
    }
    void Unload() override {
        if (handle_ != nullptr) {
            dlclose(handle_);
            handle_ = nullptr;
        }
    }

  private:
    void* handle_;
};

std::unique_ptr<DynamicLibrary> Open(const std::string& path, uint32_t& error) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        error = kErrorModNotFound;
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = kErrorBadFormat;
        return nullptr;
    }
    return std::make_unique<PosixLibrary>(handle);
}

}  // namespace

std::unique_ptr<DynamicLibrary> PosixLibraries::LoadFromProgramFolder(const LibraryName& name,
                                                                      uint32_t& error) {
    const std::string folder = ExecutableFolder();
    if (folder.empty()) {
        error = kErrorModNotFound;
        return nullptr;
    }
    return Open(folder + name.posix, error);
}

// Nothing of ours lives in the system's folders, and the current directory
// of a daemon started by hand may be anyone's: no load besides the program
// folder.
std::unique_ptr<DynamicLibrary> PosixLibraries::LoadFromSystemFolder(const LibraryName&,
                                                                     uint32_t& error) {
    error = kErrorModNotFound;
    return nullptr;
}

void PosixLibraries::FreeComponentString(void* text) {
    std::free(text);
}

std::wstring PosixLibraries::DisplayName(const LibraryName& name) {
    return FromUtf8(name.posix);
}

Libraries& SystemLibraries() {
    static PosixLibraries libraries;
    return libraries;
}

}  // namespace vt::platform::posix
