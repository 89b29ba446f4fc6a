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
    // The product's folder inside the system's common application-data
    // folder as the system reports it now (Windows: the looked-up folder
    // plus \Tarnwick\Veltrace, narrow in the ANSI code page; Linux: the
    // data folder). False, with `folder` untouched, when the system cannot
    // say.
    virtual bool SharedDataFolder(std::string& folder) = 0;
    // The folder of the service executable, without a trailing separator;
    // empty when it cannot be found.
    virtual std::string ProgramFolder() = 0;
    // The separator between folder and file names on this system.
    virtual char Separator() = 0;

  protected:
    ~Folders() = default;
};

}  // namespace vt::platform
