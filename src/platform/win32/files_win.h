// The Windows side of the data folder, the service folder, the dump file
// and the reading of files other users can write (see platform/folders.h).
//
// Every file-system call goes through FileApi, so the unit tests can see
// the rights, sharing, flags and security the service passes and play back
// any answer; SystemFileApi() makes the real calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/folders.h"

namespace vt::platform::win32 {

class FileApi {
  public:
    // Opens `name` inside the open folder `folder` (one name, no separator:
    // NtCreateFile with the folder as its root, so nothing above the folder
    // is looked at again), or the whole path `name` when `folder` is null
    // (CreateFileW). `flags` as CreateFileW's: FILE_FLAG_OPEN_REPARSE_POINT
    // opens a reparse point itself, FILE_FLAG_BACKUP_SEMANTICS lets a
    // folder open, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION lets a
    // server at the other end of a pipe only identify the service.
    virtual HANDLE Open(HANDLE folder, const std::wstring& name, DWORD access, DWORD share,
                        DWORD disposition, DWORD flags) = 0;
    virtual bool Information(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) = 0;
    // GetFileType: FILE_TYPE_DISK for a file on a disk.
    virtual DWORD Type(HANDLE file) = 0;
    virtual bool Read(HANDLE file, void* buffer, DWORD size, DWORD& got) = 0;
    virtual void Close(HANDLE handle) = 0;
    // Makes the folder `name` inside the open folder `folder`, born with
    // `security`.
    virtual bool MakeFolder(HANDLE folder, const std::wstring& name,
                            SECURITY_ATTRIBUTES* security) = 0;
    // Renames the entry `from` of the open folder `folder` (a reparse point
    // itself, not its target) to `to` in the same folder, replacing
    // nothing.
    virtual bool Move(HANDLE folder, const std::wstring& from, const std::wstring& to) = 0;
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

// What the installer gives the folders on the way to the service folder
// (owner Administrators, protected): the product's folder in ProgramData,
// which only the system changes; the data folder, where users may add
// files and keep full control of their own ones, nothing more.
inline constexpr wchar_t kProductFolderSddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
inline constexpr wchar_t kDataFolderSddl[] =
    L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)(A;OIIO;0x1200a9;;;BU)"
    L"(A;OIIO;FA;;;CO)";

// Makes the folder at `path` with the descriptor `sddl`, or, when a folder
// is there that neither the system nor `installer` (the installing
// account) owns, gives it that descriptor, owner included, and sets
// `takenOver`. A reparse point there is left alone: false,
// ERROR_REPARSE_POINT_ENCOUNTERED in `error`.
bool SecureFolder(const std::wstring& path, const wchar_t* sddl, PSID installer, bool& takenOver,
                  uint32_t& error);

// The running process's account as a TOKEN_USER; empty when the token
// cannot say.
std::vector<BYTE> ProcessUser();

// A path in the ANSI code page, as the folders are spelt.
std::wstring FromAnsi(const std::string& text);

// Opens the folder at the absolute `path` ("C:\a\b" or "C:/a/b") by a walk
// from the drive's root, each level opened inside the one before without
// following a reparse point. Every folder above the last must be a real
// folder owned by SYSTEM, Administrators, TrustedInstaller or `account`
// (the service's own; may be null), whose DACL
// lets no one else delete or rename its entries or change the folder's
// security; one that lets others add entries (as ProgramData does) is
// passed only when the next step is owned by one of those three. The last
// folder may be anyone's but must be a real folder. The handle of the last
// folder, or INVALID_HANDLE_VALUE with `error`.
HANDLE WalkToFolder(FileApi& api, const std::wstring& path, PSID account, uint32_t& error);

// Reads `name` in the walked folder `folder`: opened without following a
// reparse point and as a client that may only be identified, read only when
// a disk file with one name, no reparse point or folder, within `limit`.
UserFile ReadUserFileWith(FileApi& api, HANDLE folder, const std::wstring& name, size_t limit,
                          std::string& content);

// True when the owner and every entry of the DACL that allows anything are
// SYSTEM, Administrators or `account` (the service's own account; may be
// null). A missing DACL allows everyone everything: false.
bool ServiceOnly(PSID owner, PACL dacl, PSID account);

// Makes `name` in the walked folder `folder` the service's own, as
// Folders::PrepareServiceFolder says; on success `held` is the open handle
// that keeps it from being renamed or removed. The caller never closes it.
bool PrepareServiceFolderWith(FileApi& api, HANDLE folder, const std::wstring& name, PSID account,
                              HANDLE& held, uint32_t& error);

// Opens the dump file `path` for writing as a new file: a file of that name
// from an earlier crash (or anything else there) is deleted first, never
// written through. INVALID_HANDLE_VALUE on failure.
HANDLE CreateDumpFileWith(FileApi& api, const std::wstring& path);

}  // namespace vt::platform::win32
