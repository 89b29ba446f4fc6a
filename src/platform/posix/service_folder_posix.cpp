// The service's own folder on Linux: a folder of the service's user, mode
// 0700, held open for the life of the process and reached through
// /proc/self/fd, so that renaming it away and planting a link at its name
// in the shared data folder changes nothing for the service.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

// A name that was taken by someone else is looked at again this often
// before giving up: each look may find something new planted there.
constexpr int kAttempts = 4;

// A real folder of the service's own user that nobody else may write to.
// (A folder of ours that others could only read is fine: nobody else can
// have put anything in it.)
bool Ours(const struct stat& info) {
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Renames whatever is at `path` (the link itself, not what it points to)
// to "<path>.aside-" and a random part, never replacing anything there.
// Names others can guess could all be taken in advance, and then the
// service would have no folder.
bool SetAside(const std::string& path, uint32_t& error) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        uint64_t random = 0;
        if (getrandom(&random, sizeof random, 0) != sizeof random) {
            error = static_cast<uint32_t>(errno);
            return false;
        }
        char suffix[32];
        snprintf(suffix, sizeof suffix, ".aside-%016llx", static_cast<unsigned long long>(random));
        const std::string aside = path + suffix;
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
            return true;
        }
        if (errno != EEXIST) {
            error = static_cast<uint32_t>(errno);
            return false;
        }
    }
    error = EEXIST;
    return false;
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool PosixFolders::PrepareServiceFolder(const std::string& folder, uint32_t& error) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) {
            // Only the last level: a missing parent is an error.
            if (errno != ENOENT || (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)) {
                error = static_cast<uint32_t>(errno);
                return false;
            }
        } else if (!Ours(info)) {
            if (!SetAside(path, error)) {
                return false;
            }
            continue;
        }
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ELOOP || errno == ENOTDIR || errno == ENOENT) {
                continue;  // replaced since the look: look again
            }
            error = static_cast<uint32_t>(errno);
            return false;
        }
        // Judged on the open folder: what is held is what was checked.
        if (fstat(fd, &info) != 0 || !Ours(info)) {
            close(fd);
            continue;
        }
        const std::string pinned = "/proc/self/fd/" + std::to_string(fd) + "/";
        if (fchmod(fd, 0700) != 0) {
            error = static_cast<uint32_t>(errno);
            close(fd);
            return false;
        }
        // Without /proc the held folder has no path: no service folder.
        struct stat viaProc {};
        if (stat(pinned.c_str(), &viaProc) != 0 || !SameFile(info, viaProc)) {
            error = ENOENT;
            close(fd);
            return false;
        }
        // Never closed: the crash hook and the OLED job use it until the
        // process ends.
        serviceFolder_ = pinned;
        return true;
    }
    error = EEXIST;
    return false;
}

std::string PosixFolders::ServiceFolder() {
    return serviceFolder_;
}

}  // namespace vt::platform::posix
