// Tree deletion on Windows. Every folder is opened as itself (a reparse
// point is never followed), listed through its own handle, and its entries
// are opened relative to that handle (NtOpenFile with the folder as root) and
// deleted through their own handles. A folder held open here admits no other
// opener that would delete or rename it, so nothing can be swapped in along
// the way, and no path is longer than one name.
//
// An entry is deleted with POSIX semantics where the system has them
// (FileDispositionInfoEx: the name goes when the handle closes, even while
// another program such as a virus scanner still holds the file, so the
// parent folder is empty at once). Where the system refuses that form (older
// Windows, FAT, Wine) the first refusal is remembered for the rest of the
// tree and the classic delete disposition is used: a file then gets it with
// its opening (FILE_DELETE_ON_CLOSE), which saves a call per file.
//
// The calls per entry: a file is opened and closed, with one disposition call
// in between under POSIX semantics; a folder is opened, listed (the listing
// gives every child's attributes, so no child is asked for them again),
// marked and closed. Only a link costs one query more, since Wine opens a
// Unix link as what it points to. Each entry is opened with the access its
// deletion needs and no more.
#include <windows.h>

#include <winternl.h>

#include <string>
#include <vector>

#include "fs/file_services_platform.h"
#include "fs/path_text.h"
#include "fs/wide_path_win32.h"

namespace {

// FileDispositionInfoEx and its flags are newer than the Windows version the
// build targets, so the headers leave them out: the values the system
// defines.
constexpr auto DispositionInfoExClass = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD DispositionDelete = 0x1;
constexpr DWORD DispositionPosixSemantics = 0x2;
struct TDispositionInfoEx {
  DWORD Flags;
};

constexpr ACCESS_MASK FolderAccess = DELETE | FILE_LIST_DIRECTORY | SYNCHRONIZE;
constexpr ACCESS_MASK LinkAccess = DELETE | FILE_READ_ATTRIBUTES;
constexpr ULONG OpenAsItself = FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT;

struct TName {
  std::wstring Name;
  DWORD Attributes;  // as the listing gives them
};

struct TLevel {
  HANDLE Handle;
  std::vector<TName> Names;
  size_t Next = 0;
};

bool ListNames(HANDLE Folder, std::vector<TName>& Names) {
  std::vector<unsigned char> Buffer(64 * 1024);
  FILE_INFO_BY_HANDLE_CLASS Class = FileIdBothDirectoryRestartInfo;
  for (;;) {
    if (!GetFileInformationByHandleEx(Folder, Class, Buffer.data(), static_cast<DWORD>(Buffer.size())))
      return GetLastError() == ERROR_NO_MORE_FILES;
    Class = FileIdBothDirectoryInfo;
    size_t Offset = 0;
    for (;;) {
      const auto* Entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(Buffer.data() + Offset);
      std::wstring Name(Entry->FileName, Entry->FileNameLength / sizeof(wchar_t));
      if (Name != L"." && Name != L"..") Names.push_back({std::move(Name), Entry->FileAttributes});
      if (Entry->NextEntryOffset == 0) break;
      Offset += Entry->NextEntryOffset;
    }
  }
}

// Opens the entry Name of Folder as itself (a link is opened, not what it
// points to) with Access and the further Options; null when that fails.
HANDLE OpenEntry(HANDLE Folder, const std::wstring& Name, ACCESS_MASK Access, ULONG Options) {
  UNICODE_STRING Text;
  Text.Buffer = const_cast<wchar_t*>(Name.c_str());
  Text.Length = static_cast<USHORT>(Name.size() * sizeof(wchar_t));
  Text.MaximumLength = Text.Length;
  OBJECT_ATTRIBUTES Attributes;
  InitializeObjectAttributes(&Attributes, &Text, OBJ_CASE_INSENSITIVE, Folder, nullptr);
  IO_STATUS_BLOCK Io;
  HANDLE Handle = nullptr;
  const NTSTATUS Status =
      NtOpenFile(&Handle, Access, &Attributes, &Io, FILE_SHARE_READ | FILE_SHARE_WRITE, OpenAsItself | Options);
  return Status == 0 ? Handle : nullptr;
}

// The attributes of the entry open as Handle. Asked for alone: the fuller
// GetFileInformationByHandle also asks for the volume's serial number, a
// round trip to the mount manager under Wine.
DWORD AttributesOf(HANDLE Handle) {
  FILE_BASIC_INFO Info;
  if (!GetFileInformationByHandleEx(Handle, FileBasicInfo, &Info, sizeof Info)) return INVALID_FILE_ATTRIBUTES;
  return Info.FileAttributes;
}

bool IsRealFolder(DWORD Attributes) {
  return (Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// True for the answers of a system that does not know FileDispositionInfoEx
// or POSIX semantics on this volume.
bool IsRefusal(DWORD Error) {
  return Error == ERROR_INVALID_PARAMETER || Error == ERROR_NOT_SUPPORTED || Error == ERROR_INVALID_FUNCTION ||
         Error == ERROR_CALL_NOT_IMPLEMENTED;
}

// Marks entries for deletion, with POSIX semantics until the system first
// refuses them. A read-only entry refuses either way, as it does a plain
// deletion: nothing is made writable, and the flag that would have the
// system ignore the read-only attribute is not given.
class TDisposer {
 public:
  // Marks the entry open as Handle; it goes when the handle is closed.
  bool Mark(HANDLE Handle) {
    if (FPosix) {
      TDispositionInfoEx Disposition{DispositionDelete | DispositionPosixSemantics};
      if (SetFileInformationByHandle(Handle, DispositionInfoExClass, &Disposition, sizeof Disposition)) return true;
      if (!IsRefusal(GetLastError())) return false;
      FPosix = false;
    }
    FILE_DISPOSITION_INFO Disposition;
    Disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(Handle, FileDispositionInfo, &Disposition, sizeof Disposition) != 0;
  }

  // Deletes the file Name of Folder, which the listing showed as neither a
  // folder nor a link: what stands there now must not be a folder.
  bool DeleteFileEntry(HANDLE Folder, const std::wstring& Name) {
    if (!FPosix) {
      // The classic disposition comes with the opening; the file goes when
      // the handle closes.
      HANDLE Entry = OpenEntry(Folder, Name, DELETE, FILE_NON_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE);
      if (Entry == nullptr) return false;
      CloseHandle(Entry);
      return true;
    }
    HANDLE Entry = OpenEntry(Folder, Name, DELETE, FILE_NON_DIRECTORY_FILE);
    if (Entry == nullptr) return false;
    const bool Marked = Mark(Entry);
    CloseHandle(Entry);
    return Marked;
  }

 private:
  bool FPosix = true;  // FileDispositionInfoEx not refused so far
};

// Empties the folder open as Root (the handle stays the caller's), depth
// first in the order the system lists the entries. The first entry that
// cannot be deleted ends it: false, and what was not reached stays.
bool DeleteChildren(HANDLE Root, TDisposer& Disposer) {
  std::vector<TLevel> Stack;
  Stack.push_back({Root, {}, 0});
  if (!ListNames(Root, Stack.back().Names)) return false;
  auto Fail = [&Stack] {
    for (size_t I = 1; I < Stack.size(); ++I) CloseHandle(Stack[I].Handle);
    return false;
  };
  while (!Stack.empty()) {
    TLevel& Level = Stack.back();
    if (Level.Next == Level.Names.size()) {
      // Emptied: the folder goes when its handle closes.
      if (Stack.size() == 1) break;
      HANDLE Done = Level.Handle;
      const bool Marked = Disposer.Mark(Done);
      CloseHandle(Done);
      Stack.pop_back();
      if (!Marked) return Fail();
      continue;
    }
    const TName& Listed = Level.Names[Level.Next++];
    if (Listed.Attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link of either kind goes as a link. When the entry's own handle
      // does not show it as one, the handle stands for what the link points
      // to (Wine opens a Unix link that way): nothing is touched then.
      HANDLE Entry = OpenEntry(Level.Handle, Listed.Name, LinkAccess, 0);
      if (Entry == nullptr) return Fail();
      const DWORD Attributes = AttributesOf(Entry);
      const bool Marked = Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
                          Disposer.Mark(Entry);
      CloseHandle(Entry);
      if (!Marked) return Fail();
      continue;
    }
    if (Listed.Attributes & FILE_ATTRIBUTE_DIRECTORY) {
      // Opened only as a folder: whatever was swapped in since the listing
      // is either refused or, being opened as itself, a link that is no
      // more than an empty folder here.
      HANDLE Entry =
          OpenEntry(Level.Handle, Listed.Name, FolderAccess, FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT);
      if (Entry == nullptr) return Fail();
      TLevel Down{Entry, {}, 0};
      if (!ListNames(Entry, Down.Names)) {
        CloseHandle(Entry);
        return Fail();
      }
      Stack.push_back(std::move(Down));
      continue;
    }
    if (!Disposer.DeleteFileEntry(Level.Handle, Listed.Name)) return Fail();
  }
  return true;
}

}  // namespace

bool DeleteTreeAt(const std::string& Path, bool OnlyChildren) {
  // Nothing to list (no folder there, or it cannot be opened): there are no
  // children to delete, and no folder to remove.
  const ACCESS_MASK Access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE | (OnlyChildren ? 0 : DELETE);
  HANDLE Root = CreateFileW(WidePath(Path).c_str(), Access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (Root == INVALID_HANDLE_VALUE) return OnlyChildren;
  const DWORD Attributes = AttributesOf(Root);
  // The path's own attributes as well: Wine opens a Unix link as what it
  // points to, but shows the link in them.
  const DWORD PathAttributes = GetFileAttributesW(WidePath(Path).c_str());
  TDisposer Disposer;
  bool Ok;
  if (Attributes == INVALID_FILE_ATTRIBUTES) {
    Ok = false;
  } else if (((PathAttributes == INVALID_FILE_ATTRIBUTES ? 0 : PathAttributes) | Attributes) &
             FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link is not entered: what it points to lies outside the tree. Only
    // the link goes, and only when the folder itself is to go.
    Ok = !OnlyChildren && (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && Disposer.Mark(Root);
  } else if (!IsRealFolder(Attributes)) {
    // A file has no children and is no folder to remove.
    Ok = OnlyChildren;
  } else {
    Ok = DeleteChildren(Root, Disposer) && (OnlyChildren || Disposer.Mark(Root));
  }
  CloseHandle(Root);
  return Ok;
}
