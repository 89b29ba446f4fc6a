#include "platform/win32/files_win.h"

// After windows.h:
#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {

namespace {

// Reading: the file itself, even where it is a link; a folder opens too,
// so it can be told apart. Others may go on writing, renaming or deleting.
// Should the name lead to a pipe after all, its server may only identify
// the service, never act as it.
constexpr DWORD kReadShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kNoFollow = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
constexpr DWORD kReadFlags = kNoFollow | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
// A level of the walk: enough to open the next level inside it and to read
// its owner and DACL.
constexpr DWORD kWalkAccess = FILE_TRAVERSE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES |
                              READ_CONTROL;
// The held service folder. Listing access makes the sharing count, and
// without FILE_SHARE_DELETE nobody may open the folder to rename or remove
// it for as long as the service holds it.
constexpr DWORD kHeldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL;
constexpr DWORD kHeldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
// Something new may be planted after each look; give up after a few.
constexpr int kAttempts = 4;

// NtCreateFile inside `folder`, with CreateFileW's flags translated.
HANDLE OpenInside(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                  void* descriptor, ULONG disposition, ULONG options, DWORD flags) {
    UNICODE_STRING text;
    text.Buffer = const_cast<wchar_t*>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, descriptor);
    SECURITY_QUALITY_OF_SERVICE quality{sizeof quality, SecurityIdentification,
                                        SECURITY_STATIC_TRACKING, FALSE};
    if ((flags & SECURITY_SQOS_PRESENT) != 0) {
        attributes.SecurityQualityOfService = &quality;
    }
    options |= FILE_SYNCHRONOUS_IO_NONALERT;
    if ((flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0) {
        options |= FILE_OPEN_REPARSE_POINT;
    }
    options |= (flags & FILE_FLAG_BACKUP_SEMANTICS) != 0 ? FILE_OPEN_FOR_BACKUP_INTENT
                                                         : FILE_NON_DIRECTORY_FILE;
    HANDLE handle = INVALID_HANDLE_VALUE;
    IO_STATUS_BLOCK status{};
    const NTSTATUS result =
        ::NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &status, nullptr,
                       FILE_ATTRIBUTE_NORMAL, share, disposition, options, nullptr, 0);
    if (result < 0) {
        ::SetLastError(::RtlNtStatusToDosError(result));
        return INVALID_HANDLE_VALUE;
    }
    return handle;
}

class SystemFiles final : public FileApi {
  public:
    HANDLE Open(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                DWORD disposition, DWORD flags) override {
        if (folder == nullptr) {
            return ::CreateFileW(name.c_str(), access, share, nullptr, disposition, flags,
                                 nullptr);
        }
        return OpenInside(folder, name, access, share, nullptr,
                          disposition == CREATE_NEW ? FILE_CREATE : FILE_OPEN, 0, flags);
    }
    bool Information(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) override {
        return ::GetFileInformationByHandle(file, &info) != FALSE;
    }
    DWORD Type(HANDLE file) override { return ::GetFileType(file); }
    bool Read(HANDLE file, void* buffer, DWORD size, DWORD& got) override {
        return ::ReadFile(file, buffer, size, &got, nullptr) != FALSE;
    }
    void Close(HANDLE handle) override { ::CloseHandle(handle); }
    bool MakeFolder(HANDLE folder, const std::wstring& name,
                    SECURITY_ATTRIBUTES* security) override {
        HANDLE made = OpenInside(folder, name, FILE_LIST_DIRECTORY, kReadShare,
                                 security->lpSecurityDescriptor, FILE_CREATE, FILE_DIRECTORY_FILE,
                                 FILE_FLAG_BACKUP_SEMANTICS);
        if (made == INVALID_HANDLE_VALUE) {
            return false;
        }
        ::CloseHandle(made);
        return true;
    }
    bool Move(HANDLE folder, const std::wstring& from, const std::wstring& to) override {
        HANDLE entry = OpenInside(folder, from, DELETE, kReadShare, nullptr, FILE_OPEN, 0, kNoFollow);
        if (entry == INVALID_HANDLE_VALUE) {
            return false;
        }
        // The new name is taken inside the same held folder, not by path.
        std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFORMATION) + to.size() * sizeof(wchar_t));
        auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
        rename->ReplaceIfExists = FALSE;
        rename->RootDirectory = folder;
        rename->FileNameLength = static_cast<ULONG>(to.size() * sizeof(wchar_t));
        memcpy(rename->FileName, to.c_str(), rename->FileNameLength);
        IO_STATUS_BLOCK status{};
        const NTSTATUS result = ::NtSetInformationFile(entry, &status, rename,
                                                       static_cast<ULONG>(buffer.size()),
                                                       FileRenameInformation);
        ::CloseHandle(entry);
        const bool moved = result >= 0;
        if (!moved) {
            ::SetLastError(::RtlNtStatusToDosError(result));
        }
        return moved;
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
    // A pipe, a console or a device is no file the desktop application
    // wrote.
    if (api.Type(file) != FILE_TYPE_DISK) {
        return UserFile::NotRegular;
    }
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
bool SetAside(FileApi& api, HANDLE parent, const std::wstring& folder, uint32_t& error) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        unsigned long long random = 0;
        if (!RtlGenRandom(&random, sizeof random)) {
            error = ERROR_GEN_FAILURE;
            return false;
        }
        wchar_t suffix[32];
        swprintf(suffix, sizeof suffix / sizeof suffix[0], L".aside-%016llx", random);
        if (api.Move(parent, folder, folder + suffix)) {
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

bool MakeServiceFolder(FileApi& api, HANDLE parent, const std::wstring& folder, uint32_t& error) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kServiceFolderSddl, SDDL_REVISION_1,
                                                                &descriptor, nullptr)) {
        error = ::GetLastError();
        return false;
    }
    // Born with its ACL: there is no moment in which others could use it.
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    const bool made = api.MakeFolder(parent, folder, &security);
    const DWORD code = made ? ERROR_SUCCESS : api.LastError();
    ::LocalFree(descriptor);
    if (!made && code != ERROR_ALREADY_EXISTS && code != ERROR_FILE_EXISTS) {
        error = code;
        return false;
    }
    return true;
}

// Owners that are the system itself: nobody else can have made the folder
// or changed what is in it.
bool SystemSid(PSID sid) {
    if (::IsWellKnownSid(sid, WinLocalSystemSid) ||
        ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
        return true;
    }
    // NT SERVICE\TrustedInstaller, which owns the system's own folders.
    static const SID_IDENTIFIER_AUTHORITY kNt = SECURITY_NT_AUTHORITY;
    const SID_IDENTIFIER_AUTHORITY* authority = ::GetSidIdentifierAuthority(sid);
    const DWORD kInstaller[] = {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464};
    if (authority == nullptr || memcmp(authority, &kNt, sizeof kNt) != 0 ||
        *::GetSidSubAuthorityCount(sid) != 6) {
        return false;
    }
    for (DWORD i = 0; i < 6; ++i) {
        if (*::GetSidSubAuthority(sid, i) != kInstaller[i]) {
            return false;
        }
    }
    return true;
}

// ERROR_REPARSE_POINT_ENCOUNTERED, which MinGW's headers lack.
constexpr DWORD kReparsePointEncountered = 4395;

enum class Level {
    Refused,   // a reparse point, another owner, or others may remove or rename entries
    Closed,    // only the system changes what is in it
    AddsOpen,  // others may add entries: the next step must be the system's
};

// Rights over a folder's entries that would let a user take away the next
// step (and put their own in its place), or make the folder theirs.
constexpr DWORD kTakeOver = FILE_DELETE_CHILD | WRITE_DAC | WRITE_OWNER | GENERIC_ALL;
constexpr DWORD kAdd = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | GENERIC_WRITE;

// `aboveLast`: a folder on the way; else the last one, which only has to be
// a real folder (and the system's when `systemOwner`).
Level Judge(FileApi& api, HANDLE folder, PSID account, bool aboveLast, bool systemOwner,
            uint32_t& error) {
    auto trusted = [account](PSID sid) {
        return SystemSid(sid) || (account != nullptr && ::EqualSid(sid, account));
    };
    BY_HANDLE_FILE_INFORMATION info{};
    if (!api.Information(folder, info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        error = ERROR_DIRECTORY;
        return Level::Refused;
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = kReparsePointEncountered;
        return Level::Refused;
    }
    if (!aboveLast && !systemOwner) {
        return Level::Closed;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    error = api.Security(folder, &owner, &dacl, &descriptor);
    if (error != ERROR_SUCCESS) {
        return Level::Refused;
    }
    Level level = owner != nullptr && trusted(owner) && (dacl != nullptr || !aboveLast)
                      ? Level::Closed
                      : Level::Refused;
    for (DWORD i = 0; aboveLast && level != Level::Refused && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) {
            level = Level::Refused;
            break;
        }
        const auto* header = static_cast<ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            (header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;  // only what applies to this folder and gives
        }
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (trusted(const_cast<DWORD*>(&allowed->SidStart))) {
            continue;
        }
        if ((allowed->Mask & kTakeOver) != 0) {
            level = Level::Refused;
        } else if ((allowed->Mask & kAdd) != 0) {
            level = Level::AddsOpen;
        }
    }
    ::LocalFree(descriptor);
    if (level == Level::Refused && error == ERROR_SUCCESS) {
        error = ERROR_INVALID_OWNER;
    }
    return level;
}

}  // namespace

bool SecureFolder(const std::wstring& path, const wchar_t* sddl, PSID installer, bool& takenOver,
                  uint32_t& error) {
    takenOver = false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor,
                                                                nullptr)) {
        error = ::GetLastError();
        return false;
    }
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    bool done = ::CreateDirectoryW(path.c_str(), &security) != FALSE;
    error = done ? ERROR_SUCCESS : ::GetLastError();
    if (!done && error == ERROR_ALREADY_EXISTS) {
        // The entry itself, never what a reparse point leads to; backup
        // semantics let the restore and take-ownership rights count.
        HANDLE folder = ::CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                      kReadShare, nullptr, OPEN_EXISTING, kNoFollow, nullptr);
        error = folder == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
        if (folder != INVALID_HANDLE_VALUE) {
            SystemFiles files;
            PSID owner = nullptr;
            PACL dacl = nullptr;
            PSECURITY_DESCRIPTOR current = nullptr;
            BY_HANDLE_FILE_INFORMATION info{};
            if (!files.Information(folder, info) ||
                (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                error = ERROR_DIRECTORY;
            } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                error = kReparsePointEncountered;
            } else if ((error = files.Security(folder, &owner, &dacl, &current)) == ERROR_SUCCESS) {
                const bool ours =
                    SystemSid(owner) || (installer != nullptr && ::EqualSid(owner, installer));
                PSID newOwner = nullptr;
                BOOL defaulted = FALSE;
                PACL newDacl = nullptr;
                BOOL present = FALSE;
                ::GetSecurityDescriptorOwner(descriptor, &newOwner, &defaulted);
                ::GetSecurityDescriptorDacl(descriptor, &present, &newDacl, &defaulted);
                if (!ours) {
                    error = ::SetSecurityInfo(folder, SE_FILE_OBJECT,
                                              OWNER_SECURITY_INFORMATION |
                                                  DACL_SECURITY_INFORMATION |
                                                  PROTECTED_DACL_SECURITY_INFORMATION,
                                              newOwner, nullptr, newDacl, nullptr);
                    takenOver = error == ERROR_SUCCESS;
                }
                ::LocalFree(current);
            }
            ::CloseHandle(folder);
        }
        done = error == ERROR_SUCCESS;
    }
    ::LocalFree(descriptor);
    return done;
}

std::vector<BYTE> ProcessUser() {
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
    return user;
}

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

HANDLE WalkToFolder(FileApi& api, const std::wstring& path, PSID account, uint32_t& error) {
    std::vector<std::wstring> names;
    size_t at = 0;
    while (at < path.size()) {
        const size_t end = std::min(path.find_first_of(L"\\/", at), path.size());
        if (end > at) {
            names.push_back(path.substr(at, end - at));
        }
        at = end + 1;
    }
    if (names.empty() || names[0].size() != 2 || names[0][1] != L':') {
        error = ERROR_BAD_PATHNAME;
        return INVALID_HANDLE_VALUE;
    }
    HANDLE folder = api.Open(nullptr, names[0] + L"\\", kWalkAccess, kReadShare, OPEN_EXISTING,
                             kNoFollow);
    bool systemOwner = false;  // the step after a folder others may add to
    for (size_t i = 0; folder != INVALID_HANDLE_VALUE; ++i) {
        const bool aboveLast = i + 1 < names.size();
        const Level level = Judge(api, folder, account, aboveLast, systemOwner, error);
        if (level == Level::Refused) {
            api.Close(folder);
            return INVALID_HANDLE_VALUE;
        }
        if (!aboveLast) {
            return folder;
        }
        systemOwner = level == Level::AddsOpen;
        HANDLE next = api.Open(folder, names[i + 1], kWalkAccess, kReadShare, OPEN_EXISTING,
                               kNoFollow);
        api.Close(folder);
        folder = next;
    }
    error = api.LastError();
    return INVALID_HANDLE_VALUE;
}

UserFile ReadUserFileWith(FileApi& api, HANDLE folder, const std::wstring& name, size_t limit,
                          std::string& content) {
    HANDLE file = api.Open(folder, name, GENERIC_READ, kReadShare, OPEN_EXISTING, kReadFlags);
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

bool PrepareServiceFolderWith(FileApi& api, HANDLE parent, const std::wstring& folder, PSID account,
                              HANDLE& held, uint32_t& error) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        HANDLE handle = api.Open(parent, folder, kHeldAccess, kHeldShare, OPEN_EXISTING, kNoFollow);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD code = api.LastError();
            if (code != ERROR_FILE_NOT_FOUND) {
                error = code;
                return false;
            }
            if (!MakeServiceFolder(api, parent, folder, error)) {
                return false;
            }
            continue;  // judged like any other, on the open folder
        }
        if (Ours(api, handle, account)) {
            held = handle;
            return true;
        }
        api.Close(handle);
        if (!SetAside(api, parent, folder, error)) {
            return false;
        }
    }
    error = ERROR_ALREADY_EXISTS;
    return false;
}

HANDLE CreateDumpFileWith(FileApi& api, const std::wstring& path) {
    api.Delete(path);
    return api.Open(nullptr, path, GENERIC_WRITE, 0, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
}

// The service's own account (SYSTEM for the installed service; under Wine
// the user the prefix belongs to) may own its folders too. Null when the
// token cannot say.
PSID WinFolders::Account() {
    std::lock_guard<std::mutex> lock(dataMutex_);
    if (user_.empty()) {
        user_ = ProcessUser();
    }
    return user_.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
}

HANDLE WinFolders::HeldFolder(const std::wstring& folder, uint32_t& error, bool& shared) {
    shared = false;
    // Either separator: the dump folder is spelt with forward slashes.
    std::wstring same = folder;
    std::replace(same.begin(), same.end(), L'/', L'\\');
    if (::lstrcmpiW(same.c_str(), FromAnsi(DataFolder()).c_str()) != 0) {
        return WalkToFolder(SystemFileApi(), folder, Account(), error);
    }
    PSID account = Account();
    std::lock_guard<std::mutex> lock(dataMutex_);
    if (data_ == nullptr) {
        // Walked again until it succeeds (the desktop application may make
        // the folder later); then held until the process ends.
        HANDLE walked = WalkToFolder(SystemFileApi(), folder, account, error);
        data_ = walked == INVALID_HANDLE_VALUE ? nullptr : walked;
    }
    shared = data_ != nullptr;
    return shared ? data_ : INVALID_HANDLE_VALUE;
}

namespace {

// "folder\name" (either separator) split at its last separator.
bool Split(const std::wstring& path, std::wstring& folder, std::wstring& name) {
    const size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos || cut + 1 == path.size()) {
        return false;
    }
    folder = path.substr(0, cut);
    name = path.substr(cut + 1);
    return true;
}

}  // namespace

UserFile WinFolders::ReadUserFile(const std::string& path, size_t limit, std::string& content) {
    std::wstring folder, name;
    if (!Split(FromAnsi(path), folder, name)) {
        return UserFile::Missing;
    }
    uint32_t error = 0;
    bool shared = false;
    HANDLE held = HeldFolder(folder, error, shared);
    if (held == INVALID_HANDLE_VALUE) {
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? UserFile::Missing
                                                                              : UserFile::Untrusted;
    }
    const UserFile result = ReadUserFileWith(SystemFileApi(), held, name, limit, content);
    if (!shared) {
        ::CloseHandle(held);
    }
    return result;
}

bool WinFolders::PrepareServiceFolder(const std::string& folder, uint32_t& error) {
    std::string trimmed = folder;
    while (!trimmed.empty() && (trimmed.back() == '/' || trimmed.back() == '\\')) {
        trimmed.pop_back();
    }
    std::wstring parentPath, name;
    if (!Split(FromAnsi(trimmed), parentPath, name)) {
        error = ERROR_BAD_PATHNAME;
        return false;
    }
    PSID account = Account();
    // Made inside the walked data folder, never through its path.
    bool shared = false;
    HANDLE parent = HeldFolder(parentPath, error, shared);
    if (parent == INVALID_HANDLE_VALUE) {
        return false;
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    const bool prepared =
        PrepareServiceFolderWith(SystemFileApi(), parent, name, account, held, error);
    if (!shared) {
        ::CloseHandle(parent);
    }
    if (!prepared) {
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
