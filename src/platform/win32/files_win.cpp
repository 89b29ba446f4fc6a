#include "platform/win32/files_win.h"

// After windows.h:
#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <cwchar>
#include <vector>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

namespace {

// Reading: the file itself, even where it is a link; a folder opens too,
// so it can be told apart. Others may go on writing, renaming or deleting.
constexpr DWORD kReadShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kNoFollow = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
// The held service folder. Listing access makes the sharing count, and
// without FILE_SHARE_DELETE nobody may open the folder to rename or remove
// it for as long as the service holds it.
constexpr DWORD kHeldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr DWORD kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Something new may be planted after each look; give up after a few.
constexpr int kAttempts = 4;

class SystemFiles final : public FileApi {
  public:
    HANDLE Open(const std::wstring& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                DWORD disposition, DWORD flags) override {
        return ::CreateFileW(path.c_str(), access, share, security, disposition, flags, nullptr);
    }
    bool Information(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) override {
        return ::GetFileInformationByHandle(file, &info) != FALSE;
    }
    bool Read(HANDLE file, void* buffer, DWORD size, DWORD& got) override {
        return ::ReadFile(file, buffer, size, &got, nullptr) != FALSE;
    }
    void Close(HANDLE handle) override { ::CloseHandle(handle); }
    bool MakeFolder(const std::wstring& path, SECURITY_ATTRIBUTES* security) override {
        return ::CreateDirectoryW(path.c_str(), security) != FALSE;
    }
    bool Move(const std::wstring& from, const std::wstring& to) override {
        return ::MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;
    }
    bool Delete(const std::wstring& path) override { return ::DeleteFileW(path.c_str()) != FALSE; }
    DWORD Security(HANDLE handle, PSID* owner, PACL* dacl,
                   PSECURITY_DESCRIPTOR* descriptor) override {
        return ::GetSecurityInfo(handle, SE_FILE_OBJECT,
                                 OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, owner,
                                 nullptr, dacl, nullptr, descriptor);
    }
    DWORD LastError() override { return ::GetLastError(); }
};

UserFile ReadOpen(FileApi& api, HANDLE file, size_t limit, std::string& content) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!api.Information(file, info)) {
        return UserFile::Unreadable;
    }
    constexpr DWORD kNotPlain =
        FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((info.dwFileAttributes & kNotPlain) != 0 || info.nNumberOfLinks != 1) {
        return UserFile::NotRegular;
    }
    const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    if (size > limit) {
        return UserFile::TooLarge;
    }
    // The file may grow while it is read: never take more than the limit.
    std::string text;
    text.reserve(static_cast<size_t>(size));
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!api.Read(file, buffer, sizeof buffer, got)) {
            return UserFile::Unreadable;
        }
        if (got == 0) {
            break;
        }
        if (text.size() + got > limit) {
            return UserFile::TooLarge;
        }
        text.append(buffer, got);
    }
    content = std::move(text);
    return UserFile::Read;
}

// A real folder (no junction or other reparse point) that only the service
// and administrators can use.
bool Ours(FileApi& api, HANDLE folder, PSID account) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!api.Information(folder, info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return false;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (api.Security(folder, &owner, &dacl, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool ours = ServiceOnly(owner, dacl, account);
    ::LocalFree(descriptor);
    return ours;
}

// Renames what is at `folder` (a junction itself, not its target) to
// "<folder>.aside-" and a random part. Names others can guess could all be
// taken in advance, and then the service would have no folder.
bool SetAside(FileApi& api, const std::wstring& folder, uint32_t& error) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        unsigned long long random = 0;
        if (!RtlGenRandom(&random, sizeof random)) {
            error = ERROR_GEN_FAILURE;
            return false;
        }
        wchar_t suffix[32];
        swprintf(suffix, sizeof suffix / sizeof suffix[0], L".aside-%016llx", random);
        if (api.Move(folder, folder + suffix)) {
            return true;
        }
        const DWORD code = api.LastError();
        if (code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) {
            error = code;
            return false;
        }
    }
    error = ERROR_ALREADY_EXISTS;
    return false;
}

bool MakeServiceFolder(FileApi& api, const std::wstring& folder, uint32_t& error) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceFolderSddl, SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        error = ::GetLastError();
        return false;
    }
    // Born with its ACL: there is no moment in which others could use it.
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    const bool made = api.MakeFolder(folder, &security);
    const DWORD code = made ? ERROR_SUCCESS : api.LastError();
    ::LocalFree(descriptor);
    if (!made && code != ERROR_ALREADY_EXISTS) {
        error = code;
        return false;
    }
    return true;
}

}  // namespace

FileApi& SystemFileApi() {
    static SystemFiles files;
    return files;
}

std::wstring FromAnsi(const std::string& text) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<size_t>(length - 1));
    return wide;
}

UserFile ReadUserFileWith(FileApi& api, const std::wstring& path, size_t limit,
                          std::string& content) {
    HANDLE file = api.Open(path, GENERIC_READ, kReadShare, nullptr, OPEN_EXISTING, kNoFollow);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = api.LastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? UserFile::Missing
                                                                            : UserFile::Unreadable;
    }
    const UserFile result = ReadOpen(api, file, limit, content);
    api.Close(file);
    return result;
}

bool ServiceOnly(PSID owner, PACL dacl, PSID account) {
    auto trusted = [account](PSID sid) {
        return ::IsWellKnownSid(sid, WinLocalSystemSid) ||
               ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
               (account != nullptr && ::EqualSid(sid, account));
    };
    if (owner == nullptr || dacl == nullptr || !trusted(owner)) {
        return false;
    }
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) {
            return false;
        }
        const BYTE type = static_cast<ACE_HEADER*>(ace)->AceType;
        if (type == ACCESS_DENIED_ACE_TYPE) {
            continue;  // takes away, never gives
        }
        if (type != ACCESS_ALLOWED_ACE_TYPE ||
            !trusted(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart)) {
            return false;
        }
    }
    return true;
}

bool PrepareServiceFolderWith(FileApi& api, const std::wstring& folder, PSID account, HANDLE& held,
                              uint32_t& error) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        HANDLE handle =
            api.Open(folder, kHeldAccess, kHeldShare, nullptr, OPEN_EXISTING, kNoFollow);
        if (handle == INVALID_HANDLE_VALUE) {
            // Only the last level: a missing parent is an error.
            const DWORD code = api.LastError();
            if (code != ERROR_FILE_NOT_FOUND) {
                error = code;
                return false;
            }
            if (!MakeServiceFolder(api, folder, error)) {
                return false;
            }
            continue;  // judged like any other, on the open folder
        }
        if (Ours(api, handle, account)) {
            held = handle;
            return true;
        }
        api.Close(handle);
        if (!SetAside(api, folder, error)) {
            return false;
        }
    }
    error = ERROR_ALREADY_EXISTS;
    return false;
}

HANDLE CreateDumpFileWith(FileApi& api, const std::wstring& path) {
    api.Delete(path);
    return api.Open(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
}

UserFile WinFolders::ReadUserFile(const std::string& path, size_t limit, std::string& content) {
    return ReadUserFileWith(SystemFileApi(), FromAnsi(path), limit, content);
}

bool WinFolders::PrepareServiceFolder(const std::string& folder, uint32_t& error) {
    std::string trimmed = folder;
    while (!trimmed.empty() && (trimmed.back() == '/' || trimmed.back() == '\\')) {
        trimmed.pop_back();
    }
    // The service's own account (SYSTEM for the installed service) may own
    // the folder too.
    std::vector<BYTE> user;
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user.resize(size);
        if (size == 0 || !::GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
            user.clear();
        }
        ::CloseHandle(token);
    }
    PSID account = user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    HANDLE held = INVALID_HANDLE_VALUE;
    if (!PrepareServiceFolderWith(SystemFileApi(), FromAnsi(trimmed), account, held, error)) {
        return false;
    }
    held_ = held;  // never closed: the folder stays ours until the process ends
    serviceFolder_ = trimmed + '/';
    return true;
}

std::string WinFolders::ServiceFolder() {
    return serviceFolder_;
}

}  // namespace vt::platform::win32
