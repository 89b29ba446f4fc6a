// The service's own folder on Linux: a folder of the service's user, mode
// 0700, made and opened relative to the held data folder, held open for the
// life of the process and reached through /proc/self/fd, so that renaming
// it away and planting a link at its name in the shared data folder
// changes nothing for the service.
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

// Renames whatever is at `name` in `parent` (the link itself, not what it
// points to) to "<name>.aside-" and a random part, never replacing
// anything there. Names others can guess could all be taken in advance, and
// then the service would have no folder.
bool SetAside(int parent, const std::string& name, uint32_t& error) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        uint64_t random = 0;
        if (getrandom(&random, sizeof random, 0) != sizeof random) {
            error = static_cast<uint32_t>(errno);
            return false;
        }
        char suffix[32];
        snprintf(suffix, sizeof suffix, ".aside-%016llx", static_cast<unsigned long long>(random));
        const std::string aside = name + suffix;
        if (renameat2(parent, name.c_str(), parent, aside.c_str(), RENAME_NOREPLACE) == 0) {
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

// Makes `name` in the held `parent` the service's own folder; its fd.
int PrepareIn(int parent, const std::string& name, uint32_t& error) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        struct stat info {};
        if (fstatat(parent, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || (mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST)) {
                error = static_cast<uint32_t>(errno);
                return -1;
            }
        } else if (!Ours(info)) {
            if (!SetAside(parent, name, error)) {
                return -1;
            }
            continue;
        }
        const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ELOOP || errno == ENOTDIR || errno == ENOENT) {
                continue;  // replaced since the look: look again
            }
            error = static_cast<uint32_t>(errno);
            return -1;
        }
        // Judged on the open folder: what is held is what was checked.
        if (fstat(fd, &info) != 0 || !Ours(info)) {
            close(fd);
            continue;
        }
        if (fchmod(fd, 0700) != 0) {
            error = static_cast<uint32_t>(errno);
            close(fd);
            return -1;
        }
        return fd;
    }
    error = EEXIST;
    return -1;
}

}  // namespace

bool PosixFolders::PrepareServiceFolder(const std::string& folder, uint32_t& error) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        error = EINVAL;
        return false;
    }
    // Only the last level is made; the folder it is in is reached by the
    // walk, never through its path again.
    bool shared = false;
    const int parent = HeldFolder(slash == 0 ? "/" : path.substr(0, slash), error, shared);
    if (parent < 0) {
        return false;
    }
    const int fd = PrepareIn(parent, path.substr(slash + 1), error);
    if (!shared) {
        close(parent);
    }
    if (fd < 0) {
        return false;
    }
    const std::string pinned = "/proc/self/fd/" + std::to_string(fd) + "/";
    // Without /proc the held folder has no path: no service folder.
    struct stat info {};
    struct stat viaProc {};
    if (fstat(fd, &info) != 0 || stat(pinned.c_str(), &viaProc) != 0 || !SameFile(info, viaProc)) {
        error = ENOENT;
        close(fd);
        return false;
    }
    // Never closed: the crash hook and the OLED job use it until the
    // process ends.
    serviceFolder_ = pinned;
    return true;
}

std::string PosixFolders::ServiceFolder() {
    return serviceFolder_;
}

}  // namespace vt::platform::posix
