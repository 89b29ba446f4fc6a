// Where the service keeps and finds its files.
//
// The data folder is shared with every local user (the desktop application
// writes its files there), while the service runs with every right on the
// machine. So nothing the service writes goes there directly: it writes
// only into its own folder (PrepareServiceFolder), which no other user can
// change, replace or redirect while the service runs; and what it reads from
// the data folder it reads only as a plain file of bounded size
// (ReadUserFile), never through a link someone placed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vt::platform {

// How a read of a file from a folder other users can change went.
enum class UserFile {
    Read,        // a regular file of acceptable size, now in `content`
    Missing,     // nothing there (or no folder to look in)
    NotRegular,  // a symbolic link, junction or other reparse point, a file
                 // with a second name (hard link), a folder, pipe or device
    TooLarge,    // more bytes than the caller accepts
    Unreadable,  // there, but it cannot be opened or read
    Untrusted,   // the way to its folder passes a link or reparse point,
                 // or a folder above it that another user controls
};

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

    // Reads the whole file at `path` when it is a regular file with a
    // single name and at most `limit` bytes. Its folder is reached by a
    // walk from the root that follows no link and trusts no folder above it
    // that another user controls (the data folder: once, then held); the
    // file is opened relative to it, without following a link in its last
    // component and without waiting on a pipe, and checked on the open
    // file, so a file swapped in after the check is never the one read.
    // `content` is replaced only when the result is Read. Any thread.
    virtual UserFile ReadUserFile(const std::string& path, size_t limit, std::string& content) = 0;

    // Makes `folder` (its last level only; the parent must exist and is
    // reached as ReadUserFile reaches a file's folder, and a parent that
    // fails that walk is an error: nothing is made, renamed or written
    // there) the service's own for the life of the process: only the
    // service's account
    // and administrators may read or change it (Windows: a protected ACL for
    // SYSTEM and Administrators; Linux: owned by the service's user, 0700).
    // Whatever else is at that name (a link or junction, a file, a folder of
    // another owner or one other users may use) is renamed aside first,
    // never followed or emptied. The folder is held open, so nobody can
    // rename it away and put a link in its place while the service runs.
    // False with the system's error code when it cannot be done. Once, at
    // start, before other threads run.
    virtual bool PrepareServiceFolder(const std::string& folder, uint32_t& error) = 0;
    // The prepared folder as a path that reaches the held folder itself,
    // with a trailing separator (Linux: through /proc/self/fd); empty until
    // PrepareServiceFolder succeeded.
    virtual std::string ServiceFolder() = 0;

  protected:
    ~Folders() = default;
};

}  // namespace vt::platform
