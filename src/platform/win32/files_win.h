// The Windows side of the service folder, the dump file and the reading of
// files other users can write (see platform/folders.h).
//
// Every file-system call goes through FileApi, so the unit tests can see
// the rights, sharing, flags and security the service passes and play back
// any answer; SystemFileApi() makes the real calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/folders.h"

namespace vt::platform::win32 {

class FileApi {
  public:
    // CreateFileW (names that are no windows.h macros).
    virtual HANDLE Open(const std::wstring& path, DWORD access, DWORD share,
                        SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags) = 0;
    virtual bool Information(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) = 0;
    virtual bool Read(HANDLE file, void* buffer, DWORD size, DWORD& got) = 0;
    virtual void Close(HANDLE handle) = 0;
    virtual bool MakeFolder(const std::wstring& path, SECURITY_ATTRIBUTES* security) = 0;
    // Renames without replacing anything at `to`.
    virtual bool Move(const std::wstring& from, const std::wstring& to) = 0;
    virtual bool Delete(const std::wstring& path) = 0;
    // The owner and the DACL of an open object; `descriptor` holds both and
    // is the caller's to LocalFree. A system error code, 0 on success.
    virtual DWORD Security(HANDLE handle, PSID* owner, PACL* dacl,
                           PSECURITY_DESCRIPTOR* descriptor) = 0;
    virtual DWORD LastError() = 0;

  protected:
    ~FileApi() = default;
};

FileApi& SystemFileApi();

// The service folder's DACL: full control for SYSTEM and Administrators,
// handed down to everything in it; nothing inherited from the data folder.
inline constexpr wchar_t kServiceFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// A path in the ANSI code page, as the folders are spelt.
std::wstring FromAnsi(const std::string& text);

UserFile ReadUserFileWith(FileApi& api, const std::wstring& path, size_t limit,
                          std::string& content);

// True when the owner and every entry of the DACL that allows anything are
// SYSTEM, Administrators or `account` (the service's own account; may be
// null). A missing DACL allows everyone everything: false.
bool ServiceOnly(PSID owner, PACL dacl, PSID account);

// Makes `folder` (no trailing separator) the service's own, as
// Folders::PrepareServiceFolder says; on success `held` is the open handle
// that keeps it from being renamed or removed. The caller never closes it.
bool PrepareServiceFolderWith(FileApi& api, const std::wstring& folder, PSID account, HANDLE& held,
                              uint32_t& error);

// Opens the dump file `path` for writing as a new file: a file of that name
// from an earlier crash (or anything else there) is deleted first, never
// written through. INVALID_HANDLE_VALUE on failure.
HANDLE CreateDumpFileWith(FileApi& api, const std::wstring& path);

}  // namespace vt::platform::win32
