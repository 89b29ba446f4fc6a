// The Windows service folder, dump file and reads of files other users can
// write: the rights, sharing, flags and ACLs passed, on a fake file system
// (Wine enforces neither ACLs nor reparse points), and what Wine does
// enforce on its real one: held folders and hard links.
#include <gtest/gtest.h>

#include "platform/win32/files_win.h"
// After windows.h:
#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

#include "platform/win32/system_win.h"

namespace vt::platform::win32 {
namespace {

constexpr wchar_t kRoot[] = L"C:/data";  // the fake has it and the drive from the start
constexpr wchar_t kFolder[] = L"C:/data/service_dmp";
// What the service makes, and what Wine reports for it (owned by the
// service's own account, that account and SYSTEM allowed).
constexpr wchar_t kOurs[] = L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kAccount[] = L"S-1-5-21-1-2-3-1001";

class FakeFileApi final : public FileApi {
  public:
    struct Entry {
        Entry(DWORD attributes_ = FILE_ATTRIBUTE_DIRECTORY, std::wstring sddl_ = kOurs,
              DWORD links_ = 1, std::string content_ = {}, DWORD type_ = FILE_TYPE_DISK)
            : attributes(attributes_),
              sddl(std::move(sddl_)),
              links(links_),
              content(std::move(content_)),
              type(type_) {}
        DWORD attributes;
        std::wstring sddl;  // owner and DACL
        DWORD links;
        std::string content;
        DWORD type;
    };
    FakeFileApi() {
        entries[L"C:"] = {};
        entries[kRoot] = {};
    }
    struct Opened {
        std::wstring path;
        DWORD access, share, disposition, flags;
        bool inside;  // opened inside a held folder, not by path
    };

    HANDLE Open(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                DWORD disposition, DWORD flags) override {
        const std::wstring path = Path(folder, name);
        opens.push_back({path, access, share, disposition, flags, folder != nullptr});
        const bool there = entries.count(path) != 0;
        const size_t cut = path.rfind(L'/');
        if (!there && cut != std::wstring::npos && entries.count(path.substr(0, cut)) == 0) {
            return Fail(ERROR_PATH_NOT_FOUND);
        }
        if (disposition == OPEN_EXISTING && !there) {
            return Fail(ERROR_FILE_NOT_FOUND);
        }
        if (disposition == CREATE_NEW && there) {
            return Fail(ERROR_FILE_EXISTS);
        }
        if (disposition == CREATE_NEW) {
            entries[path] = Entry{FILE_ATTRIBUTE_NORMAL};
        }
        handles.push_back({path, 0});
        ++open;
        return reinterpret_cast<HANDLE>(handles.size());
    }
    bool Information(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) override {
        const Entry& e = entries.at(Handle(file).path);
        info = {};
        info.dwFileAttributes = e.attributes;
        info.nNumberOfLinks = e.links;
        info.nFileSizeLow = static_cast<DWORD>(e.content.size());
        return true;
    }
    bool Read(HANDLE file, void* buffer, DWORD size, DWORD& got) override {
        auto& h = Handle(file);
        const std::string& content = entries.at(h.path).content;
        got = static_cast<DWORD>(std::min<size_t>(size, content.size() - h.position));
        std::memcpy(buffer, content.data() + h.position, got);
        h.position += got;
        return true;
    }
    void Close(HANDLE) override { --open; }
    DWORD Type(HANDLE file) override { return entries.at(Handle(file).path).type; }
    bool MakeFolder(HANDLE folder, const std::wstring& name,
                    SECURITY_ATTRIBUTES* security) override {
        const std::wstring path = Path(folder, name);
        LPWSTR sddl = nullptr;
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            security->lpSecurityDescriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl,
            nullptr);
        calls.push_back(L"MakeFolder " + path + L" " + sddl);
        entries[path] = Entry{FILE_ATTRIBUTE_DIRECTORY, std::wstring(L"O:SY") + sddl};
        ::LocalFree(sddl);
        return true;
    }
    bool Move(HANDLE folder, const std::wstring& fromName, const std::wstring& toName) override {
        const std::wstring from = Path(folder, fromName);
        const std::wstring to = Path(folder, toName);
        calls.push_back(L"Move " + from + L" " + to);
        if (moveError != 0 || entries.count(to) != 0) {
            lastError = moveError != 0 ? moveError : ERROR_ALREADY_EXISTS;
            return false;
        }
        entries[to] = entries.at(from);
        entries.erase(from);
        return true;
    }
    bool Delete(const std::wstring& path) override {
        calls.push_back(L"Delete " + path);
        return entries.erase(path) != 0;
    }
    DWORD Security(HANDLE handle, PSID* owner, PACL* dacl,
                   PSECURITY_DESCRIPTOR* descriptor) override {
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                entries.at(Handle(handle).path).sddl.c_str(), SDDL_REVISION_1, descriptor,
                nullptr)) {
            return ::GetLastError();
        }
        BOOL present = FALSE, defaulted = FALSE;
        ::GetSecurityDescriptorOwner(*descriptor, owner, &defaulted);
        ::GetSecurityDescriptorDacl(*descriptor, &present, dacl, &defaulted);
        return ERROR_SUCCESS;
    }
    DWORD LastError() override { return lastError; }

    std::map<std::wstring, Entry> entries;
    std::vector<Opened> opens;
    std::vector<std::wstring> calls;
    DWORD moveError = 0;
    int open = 0;  // handles not closed

  private:
    struct Held {
        std::wstring path;
        size_t position;
    };
    // Inside an open folder, or a whole path (either separator, no
    // trailing one).
    std::wstring Path(HANDLE folder, const std::wstring& name) {
        if (folder != nullptr) {
            return Handle(folder).path + L"/" + name;
        }
        std::wstring path = name;
        std::replace(path.begin(), path.end(), L'\\', L'/');
        while (!path.empty() && path.back() == L'/') {
            path.pop_back();
        }
        return path;
    }
    HANDLE Fail(DWORD code) {
        lastError = code;
        return INVALID_HANDLE_VALUE;
    }
    Held& Handle(HANDLE h) { return handles.at(reinterpret_cast<size_t>(h) - 1); }
    std::vector<Held> handles;
    DWORD lastError = 0;
};

struct Sid {
    explicit Sid(const wchar_t* text) { ::ConvertStringSidToSidW(text, &sid); }
    ~Sid() { ::LocalFree(sid); }
    PSID sid = nullptr;
};

// As the service does it: the folder walked to, then the work inside it.
// A prepared folder is held, and its handle is the only one left open.
// Gives the error, or kPrepared.
constexpr uint32_t kPrepared = ERROR_SUCCESS;
uint32_t Prepare(FakeFileApi& api, const std::wstring& folder) {
    const size_t cut = folder.rfind(L'/');
    const int before = api.open;
    uint32_t error = 0;
    HANDLE held = INVALID_HANDLE_VALUE;
    HANDLE parent = WalkToFolder(api, folder.substr(0, cut), nullptr, error);
    const bool prepared =
        parent != INVALID_HANDLE_VALUE &&
        PrepareServiceFolderWith(api, parent, folder.substr(cut + 1), nullptr, held, error);
    if (parent != INVALID_HANDLE_VALUE) {
        api.Close(parent);
    }
    EXPECT_EQ(api.open, before + (prepared ? 1 : 0));
    EXPECT_EQ(held != INVALID_HANDLE_VALUE, prepared);
    return prepared ? kPrepared : error;
}

UserFile ReadFrom(FakeFileApi& api, const std::wstring& path, size_t limit, std::string& content) {
    const size_t cut = path.rfind(L'/');
    uint32_t error = 0;
    HANDLE folder = WalkToFolder(api, path.substr(0, cut), nullptr, error);
    EXPECT_NE(folder, INVALID_HANDLE_VALUE) << error;
    const UserFile read = ReadUserFileWith(api, folder, path.substr(cut + 1), limit, content);
    api.Close(folder);
    return read;
}

TEST(WinFiles, AFileIsReadOnlyAsAPlainFileOfOneNameWithinTheLimit) {
    FakeFileApi api;
    const std::wstring path = L"C:/data/tw_service.cfg";
    std::string content = "untouched";
    EXPECT_EQ(ReadFrom(api, path, 10, content), UserFile::Missing);

    api.entries[path] = {FILE_ATTRIBUTE_NORMAL, L"", 1, "0123456789"};
    EXPECT_EQ(ReadFrom(api, path, 9, content), UserFile::TooLarge);
    EXPECT_EQ(content, "untouched");
    EXPECT_EQ(ReadFrom(api, path, 10, content), UserFile::Read);
    EXPECT_EQ(content, "0123456789");
    // The link itself is opened, never what it points to; others may go on
    // writing, renaming or deleting the file.
    const auto& o = api.opens.back();
    EXPECT_EQ(o.access, GENERIC_READ);
    EXPECT_EQ(o.disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(o.share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    EXPECT_NE(o.flags & FILE_FLAG_OPEN_REPARSE_POINT, 0u);
    EXPECT_TRUE(o.inside);
    // A pipe's server at that name could only identify the service.
    EXPECT_EQ(o.flags & (SECURITY_SQOS_PRESENT | SECURITY_VALID_SQOS_FLAGS),
              static_cast<DWORD>(SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION));

    content = "untouched";
    for (DWORD attributes : std::initializer_list<DWORD>{
             FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_DIRECTORY}) {
        api.entries[path].attributes = attributes;
        EXPECT_EQ(ReadFrom(api, path, 10, content), UserFile::NotRegular) << attributes;
    }
    api.entries[path] = {FILE_ATTRIBUTE_ARCHIVE, L"", 2, "0123456789"};  // a hard link
    EXPECT_EQ(ReadFrom(api, path, 10, content), UserFile::NotRegular);
    api.entries[path] = {FILE_ATTRIBUTE_NORMAL, L"", 1, "{}", FILE_TYPE_PIPE};
    EXPECT_EQ(ReadFrom(api, path, 10, content), UserFile::NotRegular);
    EXPECT_EQ(content, "untouched");
    EXPECT_EQ(api.open, 0);
}

TEST(WinFiles, OnlyTheServiceAndAdministratorsMayHaveTheFolder) {
    const Sid account(kAccount);
    auto check = [&](const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR d = nullptr;
        EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                           &d, nullptr));
        PSID owner = nullptr;
        PACL dacl = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        ::GetSecurityDescriptorOwner(d, &owner, &defaulted);
        ::GetSecurityDescriptorDacl(d, &present, &dacl, &defaulted);
        const bool only = ServiceOnly(owner, dacl, account.sid);
        ::LocalFree(d);
        return only;
    };
    EXPECT_TRUE(check(kOurs));
    EXPECT_TRUE(check(L"O:BAD:(A;;FA;;;SY)(D;;FA;;;WD)"));
    EXPECT_TRUE(check(L"O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;SY)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)"));
    EXPECT_FALSE(check(L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)"));  // users may read
    EXPECT_FALSE(check(L"O:SYD:(A;OICI;FA;;;SY)(A;OICIIO;FA;;;CO)"));  // creators own their files
    EXPECT_FALSE(check(L"O:S-1-5-21-9-9-9-1002D:P(A;OICI;FA;;;SY)"));  // another user owns it
    EXPECT_FALSE(check(L"O:SY"));                                      // no DACL: anyone
}

TEST(WinFiles, AMissingFolderIsMadeWithItsAclAndHeldSoNobodyCanRenameIt) {
    FakeFileApi api;
    ASSERT_EQ(Prepare(api, kFolder), kPrepared);
    EXPECT_EQ(api.calls, std::vector<std::wstring>{std::wstring(L"MakeFolder ") + kFolder + L" " +
                                                   (kOurs + 4)});
    const auto& o = api.opens.back();
    EXPECT_EQ(o.path, kFolder);
    EXPECT_EQ(o.disposition, static_cast<DWORD>(OPEN_EXISTING));
    EXPECT_EQ(o.flags,
              static_cast<DWORD>(FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    // Sharing counts only for a handle with data access; without delete
    // sharing nobody can open the folder to rename or remove it.
    EXPECT_NE(o.access & FILE_LIST_DIRECTORY, 0u);
    EXPECT_EQ(o.share & FILE_SHARE_DELETE, 0u);

    // The next start keeps it as it is.
    api.calls.clear();
    ASSERT_EQ(Prepare(api, kFolder), kPrepared);
    EXPECT_TRUE(api.calls.empty());

    // Only the last level is made.
    api.calls.clear();
    EXPECT_EQ(Prepare(api, L"C:/missing/service_dmp"), uint32_t{ERROR_FILE_NOT_FOUND});
    EXPECT_TRUE(api.calls.empty());
}

TEST(WinFiles, WhateverElseIsAtTheFolderIsSetAsideUnfollowed) {
    const FakeFileApi::Entry planted[] = {
        {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, kOurs},  // a junction
        {FILE_ATTRIBUTE_NORMAL, kOurs},                                    // a file
        {FILE_ATTRIBUTE_DIRECTORY, L"O:SYD:(A;OICI;FA;;;SY)(A;OICI;0x1301bf;;;BU)"},
        {FILE_ATTRIBUTE_DIRECTORY, L"O:S-1-5-21-9-9-9-1002D:P(A;OICI;FA;;;SY)"},
    };
    const std::wstring folder = kFolder;
    for (const auto& entry : planted) {
        SCOPED_TRACE(testing::Message() << entry.attributes << " " << entry.sddl.c_str());
        FakeFileApi api;
        api.entries[folder] = entry;
        // Every name a user could guess is taken: the service still gets
        // its folder.
        for (int n = 1; n <= 100; ++n) {
            api.entries[folder + L".aside-" + std::to_wstring(n)] = {};
        }
        ASSERT_EQ(Prepare(api, kFolder), kPrepared);
        ASSERT_EQ(api.calls.size(), 2u);
        const std::wstring move = L"Move " + folder + L" " + folder + L".aside-";
        ASSERT_EQ(api.calls[0].rfind(move, 0), 0u);
        EXPECT_EQ(api.calls[0].size(), move.size() + 16);
        EXPECT_EQ(api.calls[1], L"MakeFolder " + folder + L" " + (kOurs + 4));
        EXPECT_EQ(api.entries.at(api.calls[0].substr(move.size() - folder.size() - 7)).sddl,
                  entry.sddl);
    }

    // What cannot be moved aside leaves no folder: no dumps.
    FakeFileApi api;
    api.entries[folder] = planted[0];
    api.moveError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(Prepare(api, kFolder), uint32_t{ERROR_ACCESS_DENIED});
}

// The way to the data folder: at each level above it, a reparse point, a
// folder another user owns, or one whose entries users may delete, and
// nothing is made or renamed anywhere. A folder users may add to (as
// ProgramData) is passed only when the next step is the system's; the data
// folder itself may be a user's, but no reparse point.
TEST(WinFiles, TheWayToTheDataFolderIsTheSystemsAndHasNoReparsePoint) {
    const std::wstring data = L"C:/ProgramData/Tarnwick/Veltrace";
    const std::wstring above[] = {L"C:", L"C:/ProgramData", L"C:/ProgramData/Tarnwick"};
    const std::wstring user = L"O:S-1-5-21-9-9-9-1002D:P(A;OICI;FA;;;S-1-5-21-9-9-9-1002)";
    const std::wstring usersAdd = L"O:SYD:P(A;OICI;FA;;;SY)(A;CI;0x1200af;;;BU)";
    auto prepare = [&](const std::wstring& level, const FakeFileApi::Entry& entry) {
        FakeFileApi api;
        for (const auto& folder : above) {
            api.entries[folder] = {};
        }
        api.entries[data] = {};
        api.entries[data + L"/service_dmp"] = {FILE_ATTRIBUTE_DIRECTORY, user};
        api.entries[level] = entry;
        const bool prepared = Prepare(api, data + L"/service_dmp") == kPrepared;
        EXPECT_TRUE(prepared || api.calls.empty()) << api.calls.front();
        return prepared;
    };
    for (const auto& level : above) {
        SCOPED_TRACE(level);
        EXPECT_FALSE(prepare(level, {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT}));
        EXPECT_FALSE(prepare(level, {FILE_ATTRIBUTE_DIRECTORY, user}));
        EXPECT_FALSE(prepare(level, {FILE_ATTRIBUTE_DIRECTORY,  // users delete entries
                                     L"O:SYD:P(A;OICI;FA;;;SY)(A;;0x40;;;BU)"}));
        EXPECT_FALSE(prepare(level, {FILE_ATTRIBUTE_DIRECTORY, L"O:SY"}));  // no DACL
        EXPECT_TRUE(prepare(level, {FILE_ATTRIBUTE_DIRECTORY, usersAdd}));
    }
    EXPECT_FALSE(prepare(data, {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT}));
    EXPECT_TRUE(prepare(data, {FILE_ATTRIBUTE_DIRECTORY, user}));
    // Users may add to Tarnwick: a data folder of theirs there may be one
    // they made to point elsewhere.
    FakeFileApi api;
    api.entries[above[1]] = {};
    api.entries[above[2]] = {FILE_ATTRIBUTE_DIRECTORY, usersAdd};
    api.entries[data] = {FILE_ATTRIBUTE_DIRECTORY, user};
    uint32_t error = 0;
    EXPECT_EQ(WalkToFolder(api, data, nullptr, error), INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, uint32_t{ERROR_INVALID_OWNER});
    api.entries[data] = {};
    HANDLE walked = WalkToFolder(api, L"C:\\ProgramData\\Tarnwick\\Veltrace", nullptr, error);
    ASSERT_NE(walked, INVALID_HANDLE_VALUE);
    // Each level opened inside the one before, none by its path.
    ASSERT_EQ(api.opens.size(), 8u);
    for (size_t i = 5; i < api.opens.size(); ++i) {
        EXPECT_TRUE(api.opens[i].inside) << i;
        EXPECT_NE(api.opens[i].flags & FILE_FLAG_OPEN_REPARSE_POINT, 0u);
    }
    EXPECT_EQ(api.opens.back().path, data);
}

TEST(WinFiles, ADumpIsAlwaysANewFile) {
    FakeFileApi api;
    api.entries[kFolder] = {};
    const std::wstring dump = std::wstring(kFolder) + L"/2026124167.dmp";
    api.entries[dump] = {FILE_ATTRIBUTE_REPARSE_POINT};  // an earlier file or a link
    ASSERT_NE(CreateDumpFileWith(api, dump), INVALID_HANDLE_VALUE);
    EXPECT_EQ(api.calls, std::vector<std::wstring>{L"Delete " + dump});
    const auto& o = api.opens.back();
    EXPECT_EQ(o.access, static_cast<DWORD>(GENERIC_WRITE));
    EXPECT_EQ(o.share, 0u);
    EXPECT_EQ(o.disposition, static_cast<DWORD>(CREATE_NEW));
    EXPECT_EQ(o.flags, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
}

// What Wine does enforce, on its own file system: a held folder cannot be
// renamed by another opener, and a file with a second name is refused. The
// walk runs on Wine's folders too (owned by the prefix's user, the
// service's account here); Wine has no junctions to show it refusing one.
TEST(WinFiles, OnTheRealFileSystem) {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring root = std::wstring(temp) + L"vtfiles-" + std::to_wstring(::GetTickCount());
    ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
    const std::wstring folder = root + L"\\service_dmp";
    char narrow[MAX_PATH * 2];
    ::WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
    WinFolders folders;
    uint32_t error = 0;
    ASSERT_TRUE(folders.PrepareServiceFolder(narrow, error)) << error;
    EXPECT_EQ(folders.ServiceFolder(), std::string(narrow) + "/");
    EXPECT_FALSE(::MoveFileExW(folder.c_str(), (folder + L"-moved").c_str(), 0));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    const std::wstring file = root + L"\\tw_service.cfg";
    HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD wrote = 0;
    ::WriteFile(h, "{}", 2, &wrote, nullptr);
    ::CloseHandle(h);
    std::string content;
    ::WideCharToMultiByte(CP_ACP, 0, file.c_str(), -1, narrow, sizeof narrow, nullptr, nullptr);
    EXPECT_EQ(folders.ReadUserFile(narrow, 10, content), UserFile::Read);
    EXPECT_EQ(content, "{}");
    ASSERT_TRUE(::CreateHardLinkW((root + L"\\second").c_str(), file.c_str(), nullptr));
    EXPECT_EQ(folders.ReadUserFile(narrow, 10, content), UserFile::NotRegular);
    ::DeleteFileW((root + L"\\second").c_str());
    ::DeleteFileW(file.c_str());
}

}  // namespace
}  // namespace vt::platform::win32
