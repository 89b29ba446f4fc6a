#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "platform/posix/system_posix.h"
#include "platform/posix/wide_posix.h"

namespace vt::platform::posix {

namespace {

constexpr uint32_t kErrorModNotFound = 126;

class PosixLibrary final : public DynamicLibrary {
  public:
    explicit PosixLibrary(void* handle) : handle_(handle) {}
    // Components stay loaded for the life of the process: objects and
    // callbacks they handed out may still be in use anywhere.
    ~PosixLibrary() override = default;
    void* Symbol(const char* name) override { return dlsym(handle_, name); }

  private:
    void* handle_;
};

}  // namespace

std::unique_ptr<DynamicLibrary> PosixLibraries::LoadFromProgramFolder(const LibraryName& name,
                                                                      uint32_t& error) {
    const std::string folder = ExecutableFolder();
    if (folder.empty()) {
        error = kErrorModNotFound;
        return nullptr;
    }
    void* handle = dlopen((folder + name.posix).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = kErrorModNotFound;
        return nullptr;
    }
    return std::make_unique<PosixLibrary>(handle);
}

std::wstring PosixLibraries::DisplayName(const LibraryName& name) {
    return FromUtf8(name.posix);
}

}  // namespace vt::platform::posix
