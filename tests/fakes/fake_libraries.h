// Serves named symbols as loaded libraries: the platform's library loading
// for unit tests, with loads that fail when told to.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core.h"
#include "platform/library.h"

namespace vt::fakes {

using SymbolMap = std::map<std::string, void*>;

// A component other than the device library, by its Windows file name.
struct FakeComponent {
    SymbolMap symbols;  // the copy in the program folder
    // kErrorModNotFound: no copy in the program folder.
    uint32_t programFolderError = 0;
    // A copy in the system's library folder, when there is one.
    std::optional<SymbolMap> systemFolderSymbols;
};

// Serves named symbols as a loaded library; fails loads when told to.
class FakeLibraries final : public platform::Libraries {
  public:
    std::unique_ptr<platform::DynamicLibrary> LoadFromProgramFolder(
        const platform::LibraryName& name, uint32_t& error) override;
    std::unique_ptr<platform::DynamicLibrary> LoadFromSystemFolder(
        const platform::LibraryName& name, uint32_t& error) override;
    void FreeComponentString(void* text) override;
    std::wstring DisplayName(const platform::LibraryName& name) override { return name.windows; }

    // Names not listed in `components` serve these.
    SymbolMap symbols = twsim::Symbols();
    uint32_t loadError = 0;
    std::map<std::wstring, FakeComponent> components;
    // Recorded under `mutex`: the service's work items load their libraries
    // on threads of their own. Read them once those threads are joined.
    std::vector<std::wstring> loads;  // program folder, by name
    std::vector<std::wstring> systemFolderLoads;
    std::vector<std::wstring> unloads;
    int freedStrings = 0;
    std::mutex mutex;
};

}  // namespace vt::fakes
