// Where the service keeps and finds its files.
#pragma once

#include <string>

namespace vt::platform {

class Folders {
  public:
    // The product's data folder, without a trailing separator: on Windows
    // the fixed "C:\ProgramData\Tarnwick\Veltrace" that the desktop
    // application writes to; on Linux VTSERVICE_DATA_DIR when set, else
    // /var/lib/vtservice. Not created here.
    virtual std::string DataFolder() = 0;
    // The service executable's folder, without a trailing separator, as
    // 8-bit text (the ANSI code page on Windows): what closed components
    // that take a folder name are given. Empty when it cannot be found.
    virtual std::string ProgramFolder() = 0;
    // The separator between folder and file names on this system.
    virtual char Separator() = 0;

  protected:
    ~Folders() = default;
};

}  // namespace vt::platform
