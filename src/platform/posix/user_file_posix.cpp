// Reading a file from a folder other users can write: reach the folder by
// the walk, open the file relative to it (no link followed, no wait on a
// pipe), then judge the open file itself.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

namespace {

UserFile ReadOpen(int fd, size_t limit, std::string& content) {
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        return UserFile::Unreadable;
    }
    if (!S_ISREG(info.st_mode) || info.st_nlink != 1) {
        return UserFile::NotRegular;
    }
    if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > limit) {
        return UserFile::TooLarge;
    }
    // The file may grow while it is read: never take more than the limit.
    std::string text;
    text.reserve(static_cast<size_t>(info.st_size));
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return UserFile::Unreadable;
        }
        if (n == 0) {
            break;
        }
        if (text.size() + static_cast<size_t>(n) > limit) {
            return UserFile::TooLarge;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    content = std::move(text);
    return UserFile::Read;
}

}  // namespace

UserFile PosixFolders::ReadUserFile(const std::string& path, size_t limit, std::string& content) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        return UserFile::Missing;
    }
    uint32_t error = 0;
    bool shared = false;
    const int folder = HeldFolder(slash == 0 ? "/" : path.substr(0, slash), error, shared);
    if (folder < 0) {
        if (error == ENOENT || error == ENOTDIR) {
            return UserFile::Missing;
        }
        return error == ELOOP || error == EPERM ? UserFile::Untrusted : UserFile::Unreadable;
    }
    const int fd = openat(folder, path.c_str() + slash + 1,
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const int openError = errno;
    if (!shared) {
        close(folder);
    }
    if (fd < 0) {
        if (openError == ENOENT || openError == ENOTDIR) {
            return UserFile::Missing;
        }
        // O_NOFOLLOW refuses a link in the last component with ELOOP.
        return openError == ELOOP ? UserFile::NotRegular : UserFile::Unreadable;
    }
    const UserFile result = ReadOpen(fd, limit, content);
    close(fd);
    return result;
}

}  // namespace vt::platform::posix
