// Folders that point wherever the test says.
#pragma once

#include <string>

#include "platform/folders.h"

namespace vt::fakes {

class FakeFolders final : public platform::Folders {
  public:
    std::string DataFolder() override { return dataFolder; }
    char Separator() override { return '/'; }

    std::string dataFolder = "/nonexistent/vtservice-data";
};

}  // namespace vt::fakes
