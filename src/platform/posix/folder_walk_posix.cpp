// Reaching a folder without trusting its path: the service runs as root,
// and a link or a folder another user controls anywhere on the way to the
// data folder would let that user choose where the service's files go (a
// rename as root moves whatever the user names; a folder made as root
// lands wherever the user points). So the path is walked from '/', each
// level opened relative to the one before without following a link, and
// judged on the open folder, as sshd's StrictModes judges a home folder:
// every folder above the last belongs to root or the service's user and
// no one else may write to it, unless it is sticky (as /tmp) and the next
// step belongs to root or the service's user. The last folder may belong
// to anyone and be writable (the desktop application writes its files into
// the data folder) but must be a real folder. What was judged is what is
// held: the walk's fd, not the path, is used from then on.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

bool SystemOwned(const struct stat& info) {
    return info.st_uid == 0 || info.st_uid == geteuid();
}

// The next level, as it is: a link is a link, not where it points.
int OpenLevel(int parent, const char* name, struct stat& info, uint32_t& error) {
    const int fd = openat(parent, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = static_cast<uint32_t>(errno);
        return -1;
    }
    if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = S_ISLNK(info.st_mode) ? ELOOP : ENOTDIR;
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int OpenFolderByWalk(const std::string& path, uint32_t& error) {
    if (path.empty() || path[0] != '/') {
        error = EINVAL;
        return -1;
    }
    struct stat info {};
    int fd = OpenLevel(AT_FDCWD, "/", info, error);
    size_t at = 0;
    while (fd >= 0) {
        at = path.find_first_not_of('/', at);
        if (at == std::string::npos) {
            return fd;  // the last folder: any owner, any mode
        }
        const size_t end = std::min(path.find('/', at), path.size());
        const std::string name = path.substr(at, end - at);
        at = end;
        // Above the last folder: the system's, or the next step must be.
        const bool othersWrite = (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        if (name == "." || name == ".." || !SystemOwned(info) ||
            (othersWrite && (info.st_mode & S_ISVTX) == 0)) {
            error = name == "." || name == ".." ? EINVAL : EPERM;
            close(fd);
            return -1;
        }
        const int next = OpenLevel(fd, name.c_str(), info, error);
        close(fd);
        fd = next;
        if (fd >= 0 && othersWrite && !SystemOwned(info)) {
            error = EPERM;  // anyone may have made it in the sticky folder
            close(fd);
            return -1;
        }
    }
    return -1;
}

int PosixFolders::HeldFolder(const std::string& folder, uint32_t& error, bool& shared) {
    shared = false;
    if (folder != DataFolder()) {
        return OpenFolderByWalk(folder, error);
    }
    std::lock_guard<std::mutex> lock(dataMutex_);
    if (dataFd_ < 0) {
        // Walked again until it succeeds (the desktop application may make
        // the folder later); then held until the process ends.
        dataFd_ = OpenFolderByWalk(folder, error);
    }
    shared = dataFd_ >= 0;
    return dataFd_;
}

}  // namespace vt::platform::posix
