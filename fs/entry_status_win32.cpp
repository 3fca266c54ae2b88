// Entry status on Windows: the entry opened as itself (a reparse point is
// not followed), its attributes, and its owner against the user of this
// process's token.
#include <windows.h>

#include <aclapi.h>

#include <vector>

#include "fs/entry_status.h"
#include "fs/path_text.h"
#include "fs/process_token_win32.h"
#include "fs/wide_path_win32.h"

namespace {

// The token's user, and the owner it gives new objects (for an elevated
// administrator that is the Administrators group): an entry owned by either
// is the user's own.
bool IsOwnSid(PSID Owner) {
  std::vector<unsigned char> User;
  const PSID UserSid = ProcessUserSid(User);
  if (UserSid != nullptr && EqualSid(UserSid, Owner)) return true;
  const std::vector<unsigned char> Default = ProcessTokenInformation(TokenOwner);
  return !Default.empty() && EqualSid(reinterpret_cast<const TOKEN_OWNER*>(Default.data())->Owner, Owner);
}

}  // namespace

TEntryStatus EntryStatus(const std::string& Path) {
  TEntryStatus Status;
  std::string Entry = Path;
  while (Entry.size() > 3 && IsSeparator(Entry.back())) Entry.pop_back();
  HANDLE Handle = CreateFileW(WidePath(Entry).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) {
    const DWORD Code = GetLastError();
    Status.Error = (Code == ERROR_FILE_NOT_FOUND || Code == ERROR_PATH_NOT_FOUND) ? 0 : static_cast<int>(Code);
    return Status;
  }
  BY_HANDLE_FILE_INFORMATION Info;
  if (!GetFileInformationByHandle(Handle, &Info)) {
    Status.Error = static_cast<int>(GetLastError());
    CloseHandle(Handle);
    return Status;
  }
  Status.Exists = true;
  // The path's own attributes as well: Wine opens a Unix link as what it
  // points to, but shows the link in them.
  const DWORD PathAttributes = GetFileAttributesW(WidePath(Entry).c_str());
  Status.Link = ((Info.dwFileAttributes | (PathAttributes == INVALID_FILE_ATTRIBUTES ? 0 : PathAttributes)) &
                 FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  Status.Folder = !Status.Link && (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  Status.RegularFile = !Status.Link && !Status.Folder && GetFileType(Handle) == FILE_TYPE_DISK;
  PSID Owner = nullptr;
  PSECURITY_DESCRIPTOR Descriptor = nullptr;
  if (GetSecurityInfo(Handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &Owner, nullptr, nullptr, nullptr,
                      &Descriptor) == ERROR_SUCCESS) {
    Status.OwnedByUser = Owner != nullptr && IsOwnSid(Owner);
    LocalFree(Descriptor);
  }
  CloseHandle(Handle);
  return Status;
}

bool IsOwnPrivateFolder(const TEntryStatus& Status) {
  // Who else may write is a matter of the folder's access list, which the
  // work folder sets itself when it makes the folder.
  return Status.Exists && Status.Folder && !Status.Link && Status.OwnedByUser;
}

namespace {

bool Identity(const std::string& Path, BY_HANDLE_FILE_INFORMATION& Info) {
  HANDLE Handle =
      CreateFileW(WidePath(Path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (Handle == INVALID_HANDLE_VALUE) return false;
  const bool Ok = GetFileInformationByHandle(Handle, &Info) != 0;
  CloseHandle(Handle);
  return Ok;
}

}  // namespace

bool SameEntry(const std::string& A, const std::string& B) {
  BY_HANDLE_FILE_INFORMATION First, Second;
  return Identity(A, First) && Identity(B, Second) && First.dwVolumeSerialNumber == Second.dwVolumeSerialNumber &&
         First.nFileIndexHigh == Second.nFileIndexHigh && First.nFileIndexLow == Second.nFileIndexLow;
}
