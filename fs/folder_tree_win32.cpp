// Tree deletion on Windows. Every folder is opened as itself (a reparse
// point is never followed), listed through its own handle, and its entries
// are opened relative to that handle (NtOpenFile with the folder as root) and
// deleted through their own handles (delete disposition). A folder held
// open here admits no other opener that would delete or rename it, so
// nothing can be swapped in along the way, and no path is longer than one
// name.
#include <windows.h>

#include <winternl.h>

#include <string>
#include <vector>

#include "fs/file_services_platform.h"
#include "fs/path_text.h"
#include "fs/wide_path_win32.h"

namespace {

constexpr ACCESS_MASK EntryAccess =
    DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE;

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
// points to).
HANDLE OpenEntry(HANDLE Folder, const std::wstring& Name) {
  UNICODE_STRING Text;
  Text.Buffer = const_cast<wchar_t*>(Name.c_str());
  Text.Length = static_cast<USHORT>(Name.size() * sizeof(wchar_t));
  Text.MaximumLength = Text.Length;
  OBJECT_ATTRIBUTES Attributes;
  InitializeObjectAttributes(&Attributes, &Text, OBJ_CASE_INSENSITIVE, Folder, nullptr);
  IO_STATUS_BLOCK Status;
  HANDLE Handle = nullptr;
  const NTSTATUS Result =
      NtOpenFile(&Handle, EntryAccess, &Attributes, &Status, FILE_SHARE_READ | FILE_SHARE_WRITE,
                 FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT);
  return Result == 0 ? Handle : nullptr;
}

// Marks the entry open as Handle for deletion; it goes when the handle is
// closed. A read-only entry refuses, as it does a plain deletion.
bool MarkForDeletion(HANDLE Handle) {
  FILE_DISPOSITION_INFO Disposition;
  Disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(Handle, FileDispositionInfo, &Disposition, sizeof Disposition) != 0;
}

DWORD AttributesOf(HANDLE Handle) {
  BY_HANDLE_FILE_INFORMATION Info;
  if (!GetFileInformationByHandle(Handle, &Info)) return INVALID_FILE_ATTRIBUTES;
  return Info.dwFileAttributes;
}

bool IsRealFolder(DWORD Attributes) {
  return (Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Empties the folder open as Root (the handle stays the caller's), depth
// first in the order the system lists the entries. The first entry that
// cannot be deleted ends it: false, and what was not reached stays.
bool DeleteChildren(HANDLE Root) {
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
      const bool Marked = MarkForDeletion(Done);
      CloseHandle(Done);
      Stack.pop_back();
      if (!Marked) return Fail();
      continue;
    }
    const TName& Listed = Level.Names[Level.Next++];
    HANDLE Entry = OpenEntry(Level.Handle, Listed.Name);
    if (Entry == nullptr) return Fail();
    const DWORD Attributes = AttributesOf(Entry);
    if (Attributes == INVALID_FILE_ATTRIBUTES) {
      CloseHandle(Entry);
      return Fail();
    }
    if ((Listed.Attributes | Attributes) & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link of either kind goes as a link. When the entry's own handle
      // does not show it as one, the handle stands for what the link points
      // to (Wine opens a Unix link that way): nothing is touched then.
      const bool Marked = (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && MarkForDeletion(Entry);
      CloseHandle(Entry);
      if (!Marked) return Fail();
      continue;
    }
    if (IsRealFolder(Attributes)) {
      TLevel Down{Entry, {}, 0};
      if (!ListNames(Entry, Down.Names)) {
        CloseHandle(Entry);
        return Fail();
      }
      Stack.push_back(std::move(Down));
      continue;
    }
    const bool Marked = MarkForDeletion(Entry);
    CloseHandle(Entry);
    if (!Marked) return Fail();
  }
  return true;
}

}  // namespace

bool DeleteTreeAt(const std::string& Path, bool OnlyChildren) {
  // Nothing to list (no folder there, or it cannot be opened): there are no
  // children to delete, and no folder to remove.
  HANDLE Root = CreateFileW(WidePath(Path).c_str(), EntryAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (Root == INVALID_HANDLE_VALUE) return OnlyChildren;
  const DWORD Attributes = AttributesOf(Root);
  // The path's own attributes as well: Wine opens a Unix link as what it
  // points to, but shows the link in them.
  const DWORD PathAttributes = GetFileAttributesW(WidePath(Path).c_str());
  bool Ok;
  if (Attributes == INVALID_FILE_ATTRIBUTES) {
    Ok = false;
  } else if (((PathAttributes == INVALID_FILE_ATTRIBUTES ? 0 : PathAttributes) | Attributes) &
             FILE_ATTRIBUTE_REPARSE_POINT) {
    // A link is not entered: what it points to lies outside the tree. Only
    // the link goes, and only when the folder itself is to go.
    Ok = !OnlyChildren && (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && MarkForDeletion(Root);
  } else if (!IsRealFolder(Attributes)) {
    // A file has no children and is no folder to remove.
    Ok = OnlyChildren;
  } else {
    Ok = DeleteChildren(Root) && (OnlyChildren || MarkForDeletion(Root));
  }
  CloseHandle(Root);
  return Ok;
}
