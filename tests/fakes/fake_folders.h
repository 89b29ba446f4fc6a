// Folders that point wherever the test says.
#pragma once

#include <string>

#include "platform/folders.h"

namespace vt::fakes {

class FakeFolders final : public platform::Folders {
  public:
    std::string DataFolder() override { return dataFolder; }
    std::string ProgramFolder() override { return programFolder; }
    char Separator() override { return '/'; }

    std::string dataFolder = "/nonexistent/vtservice-data";
    std::string programFolder = "/nonexistent/vtservice-bin";
};

}  // namespace vt::fakes
