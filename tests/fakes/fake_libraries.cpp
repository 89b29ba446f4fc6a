#include "fakes/fake_libraries.h"

#include <cstdlib>

namespace vt::fakes {

namespace {

class FakeLibrary final : public platform::DynamicLibrary {
  public:
    FakeLibrary(SymbolMap symbols, std::wstring name, FakeLibraries& owner)
        : symbols_(std::move(symbols)), name_(std::move(name)), owner_(owner) {}
    void* Symbol(const char* name) override {
        auto it = symbols_.find(name);
        return it == symbols_.end() ? nullptr : it->second;
    }
    void Unload() override {
        std::lock_guard<std::mutex> lock(owner_.mutex);
        owner_.unloads.push_back(name_);
        symbols_.clear();
    }

  private:
    SymbolMap symbols_;
    std::wstring name_;
    FakeLibraries& owner_;
};

}  // namespace

std::unique_ptr<platform::DynamicLibrary> FakeLibraries::LoadFromProgramFolder(
    const platform::LibraryName& name, uint32_t& error) {
    std::lock_guard<std::mutex> lock(mutex);
    loads.push_back(name.windows);
    auto it = components.find(name.windows);
    const bool listed = it != components.end();
    if (const uint32_t failure = listed ? it->second.programFolderError : loadError) {
        error = failure;
        return nullptr;
    }
    return std::make_unique<FakeLibrary>(listed ? it->second.symbols : symbols, name.windows,
                                         *this);
}

std::unique_ptr<platform::DynamicLibrary> FakeLibraries::LoadFromSystemFolder(
    const platform::LibraryName& name, uint32_t& error) {
    std::lock_guard<std::mutex> lock(mutex);
    systemFolderLoads.push_back(name.windows);
    auto it = components.find(name.windows);
    if (it == components.end() || !it->second.systemFolderSymbols) {
        error = platform::kErrorModNotFound;
        return nullptr;
    }
    return std::make_unique<FakeLibrary>(*it->second.systemFolderSymbols,
                                         std::wstring(L"system/") + name.windows, *this);
}

// The fake components allocate their texts with malloc.
void FakeLibraries::FreeComponentString(void* text) {
    if (text != nullptr) {
        std::lock_guard<std::mutex> lock(mutex);
        ++freedStrings;
    }
    std::free(text);
}

}  // namespace vt::fakes
