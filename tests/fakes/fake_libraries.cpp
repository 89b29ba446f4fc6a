#include "fakes/fake_libraries.h"

#include <cstdlib>

namespace vt::fakes {

namespace {

class FakeLibrary final : public platform::DynamicLibrary {
  public:
    FakeLibrary(SymbolMap symbols, std::wstring name, std::vector<std::wstring>& unloads)
        : symbols_(std::move(symbols)), name_(std::move(name)), unloads_(unloads) {}
    void* Symbol(const char* name) override {
        auto it = symbols_.find(name);
        return it == symbols_.end() ? nullptr : it->second;
    }
    void Unload() override {
        unloads_.push_back(name_);
        symbols_.clear();
    }

  private:
    SymbolMap symbols_;
    std::wstring name_;
    std::vector<std::wstring>& unloads_;
};

}  // namespace

std::unique_ptr<platform::DynamicLibrary> FakeLibraries::LoadFromProgramFolder(
    const platform::LibraryName& name, uint32_t& error) {
    loads.push_back(name.windows);
    auto it = components.find(name.windows);
    if (it == components.end()) {
        if (loadError != 0) {
            error = loadError;
            return nullptr;
        }
        return std::make_unique<FakeLibrary>(symbols, name.windows, unloads);
    }
    if (it->second.programFolderError != 0) {
        error = it->second.programFolderError;
        return nullptr;
    }
    return std::make_unique<FakeLibrary>(it->second.symbols, name.windows, unloads);
}

std::unique_ptr<platform::DynamicLibrary> FakeLibraries::LoadFromSystemFolder(
    const platform::LibraryName& name, uint32_t& error) {
    systemFolderLoads.push_back(name.windows);
    auto it = components.find(name.windows);
    if (it == components.end() || !it->second.systemFolderSymbols) {
        error = platform::kErrorModNotFound;
        return nullptr;
    }
    return std::make_unique<FakeLibrary>(*it->second.systemFolderSymbols,
                                         std::wstring(L"system/") + name.windows, unloads);
}

// The fake components allocate their texts with malloc.
void FakeLibraries::FreeComponentString(void* text) {
    if (text != nullptr) {
        ++freedStrings;
    }
    std::free(text);
}

}  // namespace vt::fakes
