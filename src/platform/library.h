// Closed components loaded at run time, only ever from the service
// executable's own folder by absolute path: never from the current
// directory or the search path, where anyone could plant a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vt::platform {

class DynamicLibrary {
  public:
    virtual ~DynamicLibrary() = default;
    // The address of an export, or null when the library lacks it.
    virtual void* Symbol(const char* name) = 0;
};

// A component's file name on each system.
struct LibraryName {
    const wchar_t* windows;
    const char* posix;
};

class Libraries {
  public:
    // Null on failure, with `error` set to the system's code.
    virtual std::unique_ptr<DynamicLibrary> LoadFromProgramFolder(const LibraryName& name,
                                                                  uint32_t& error) = 0;
    // The name as this system spells it, for messages.
    virtual std::wstring DisplayName(const LibraryName& name) = 0;

  protected:
    ~Libraries() = default;
};

}  // namespace vt::platform
