// Closed components loaded at run time from the service executable's own
// folder by absolute path: never from the current directory or the search
// path, where anyone could plant a file. The one other place is the system's
// own library folder, which only administrators can change
// (LoadFromSystemFolder).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vt::platform {

// The error of a load whose file does not exist (ERROR_MOD_NOT_FOUND).
inline constexpr uint32_t kErrorModNotFound = 126;

class DynamicLibrary {
  public:
    virtual ~DynamicLibrary() = default;
    // The address of an export, or null when the library lacks it.
    virtual void* Symbol(const char* name) = 0;
    // Unloads the component now. Dropping the object does not: most
    // components hand out objects and callbacks that may be in use anywhere.
    // Only for a component none of whose addresses is used any more.
    virtual void Unload() = 0;
};

// A component's file name on each system.
struct LibraryName {
    const wchar_t* windows;
    const char* posix;
};

class Libraries {
  public:
    // Null on failure, with `error` set to the system's code;
    // kErrorModNotFound when the file is not there.
    virtual std::unique_ptr<DynamicLibrary> LoadFromProgramFolder(const LibraryName& name,
                                                                  uint32_t& error) = 0;
    // The component in the system's library folder: System32 on Windows
    // (where a service's relative load of the name used to end up, its
    // current directory being the system folder). The Linux build has no
    // such folder for our components: always kErrorModNotFound there.
    virtual std::unique_ptr<DynamicLibrary> LoadFromSystemFolder(const LibraryName& name,
                                                                 uint32_t& error) = 0;
    // Frees a text a component allocated for us: a BSTR on Windows
    // (SysFreeString), malloc'd memory on Linux. Null is ignored.
    virtual void FreeComponentString(void* text) = 0;
    // The name as this system spells it, for messages.
    virtual std::wstring DisplayName(const LibraryName& name) = 0;

  protected:
    ~Libraries() = default;
};

}  // namespace vt::platform
