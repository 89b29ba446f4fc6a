// Folders that point wherever the test says.
#pragma once

#include <string>

#include "platform/folders.h"

namespace vt::fakes {

class FakeFolders final : public platform::Folders {
  public:
    std::string DataFolder() override { return dataFolder; }
    bool SharedDataFolder(std::string& folder) override {
        if (sharedDataFolderFails) {
            return false;
        }
        folder = dataFolder;
        return true;
    }
    char Separator() override { return '/'; }

    std::string ProgramFolder() override { return programFolder; }

    std::string dataFolder = "/nonexistent/vtservice-data";
    bool sharedDataFolderFails = false;
    std::string programFolder = "/opt/vtservice";
};

}  // namespace vt::fakes
