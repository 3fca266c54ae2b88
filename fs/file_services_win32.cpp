// Folder services over the Win32 calls. Every path goes to the system as
// UTF-16 through the wide ("W") calls, long ones in their "\\?\" form.
#include <windows.h>

#include <vector>

#include "fs/file_services.h"
#include "fs/file_services_platform.h"
#include "fs/handle_win32.h"
#include "fs/path_text.h"
#include "fs/wide_path_win32.h"
#include "runtime/wide_text_win32.h"

const int NoMoreEntriesError = ERROR_NO_MORE_FILES;

std::string EnvironmentValue(const std::string& Name) {
  // Read through the wide block: the 8-bit one would give "?" for every
  // character outside the ANSI code page (a user name in another script).
  wchar_t* Block = GetEnvironmentStringsW();
  if (Block == nullptr) return std::string();
  std::string Value;
  // NAME=VALUE entries one after the other, each ended by a zero; an empty
  // entry ends the block.
  for (const wchar_t* Entry = Block; *Entry != L'\0'; Entry += wcslen(Entry) + 1) {
    const std::string Text = WideToUtf8(Entry, wcslen(Entry));
    if (MatchEnvironmentEntry(Text.c_str(), Name, Value)) break;
    Value.clear();
  }
  FreeEnvironmentStringsW(Block);
  return Value;
}

std::string GetCurrentFolder() {
  DWORD Needed = GetCurrentDirectoryW(0, nullptr);  // terminator included
  while (Needed != 0) {
    std::vector<wchar_t> Buffer(Needed);
    DWORD Length = GetCurrentDirectoryW(Needed, Buffer.data());
    if (Length == 0) break;
    if (Length < Needed) return WideToUtf8(Buffer.data(), Length);
    Needed = Length;  // the folder changed in between and grew: try again
  }
  return std::string();
}

static DWORD AttributesOf(const std::string& Path) { return GetFileAttributesW(WidePath(Path).c_str()); }

bool FileExists(const std::string& Path) {
  DWORD Attributes = AttributesOf(Path);
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& Path) {
  DWORD Attributes = AttributesOf(Path);
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const std::string& Path) { return DeleteFileW(WidePath(Path).c_str()) != 0; }

bool CreateFolder(const std::string& Path) { return CreateDirectoryW(WidePath(Path).c_str(), nullptr) != 0; }

bool RemoveFolder(const std::string& Path) { return RemoveDirectoryW(WidePath(Path).c_str()) != 0; }

bool RenameReplace(const std::string& Source, const std::string& Target) {
  return MoveFileExW(WidePath(Source).c_str(), WidePath(Target).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void Pause(uint32_t Milliseconds) { Sleep(Milliseconds); }

static bool IsAsciiLetter(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z'); }

bool IsAbsolutePath(const std::string& Path) {
  if (Path.size() >= 3 && IsAsciiLetter(Path[0]) && Path[1] == ':' && IsSeparator(Path[2])) return true;
  return Path.size() >= 2 && IsSeparator(Path[0]) && IsSeparator(Path[1]);
}

bool LeadingSeparatorIsRoot() { return false; }

bool RootedPathDrive(const std::string& Path, std::string& Drive) {
  if (Path.empty() || !IsSeparator(Path[0])) return false;
  if (Path.size() >= 2 && IsSeparator(Path[1])) return false;
  Drive = GetCurrentFolder().substr(0, 2);
  return true;
}

bool DriveRelativeBase(const std::string& Path, std::string& Base, std::string& Rest) {
  if (Path.size() < 2 || !IsAsciiLetter(Path[0]) || Path[1] != ':') return false;
  if (Path.size() > 2 && IsSeparator(Path[2])) return false;
  char Letter = Path[0];
  if (Letter >= 'a' && Letter <= 'z') Letter = static_cast<char>(Letter - 'a' + 'A');
  const std::string Drive = std::string(1, Letter) + ":";
  Rest = Path.substr(2);

  // The system keeps a current folder per drive: make the drive current,
  // read it, and go back to the folder that was current before.
  DWORD Needed = GetCurrentDirectoryW(0, nullptr);
  std::vector<wchar_t> Previous(Needed + 1, L'\0');
  DWORD Length = Needed != 0 ? GetCurrentDirectoryW(Needed, Previous.data()) : 0;
  if (Length != 0 && Length < Needed && SetCurrentDirectoryW(Utf8ToWide(Drive).c_str())) {
    Base = GetCurrentFolder();
    SetCurrentDirectoryW(Previous.data());
  } else {
    Base = Drive + "\\";
  }
  return true;
}

// ---------------------------------------------------------------------------
// Enumeration: FindFirstFileW / FindNextFileW; RawEntry holds the
// WIN32_FIND_DATAW of the current entry while a search is open.

static WIN32_FIND_DATAW* FindDataOf(TSearchRecord& Record) { return static_cast<WIN32_FIND_DATAW*>(Record.RawEntry); }

// A record without a search holds -1, which is INVALID_HANDLE_VALUE.
static HANDLE SearchHandleOf(const TSearchRecord& Record) { return AsHandle(Record.Handle); }

// Skips excluded entries, then fills the record from the current entry.
static int FindMatchingEntry(TSearchRecord& Record) {
  WIN32_FIND_DATAW* Data = FindDataOf(Record);
  HANDLE Search = SearchHandleOf(Record);
  while ((Data->dwFileAttributes & Record.ExcludedAttributes) != 0) {
    if (!FindNextFileW(Search, Data)) return static_cast<int>(GetLastError());
  }
  FILETIME Local;
  WORD Date = 0, Time = 0;
  Record.ModTime = 0;
  if (FileTimeToLocalFileTime(&Data->ftLastWriteTime, &Local) && FileTimeToDosDateTime(&Local, &Date, &Time))
    Record.ModTime = (static_cast<uint32_t>(Date) << 16) | Time;
  Record.Size = static_cast<int64_t>((static_cast<uint64_t>(Data->nFileSizeHigh) << 32) | Data->nFileSizeLow);
  Record.Attributes = Data->dwFileAttributes;
  Record.Name = WideToUtf8(Data->cFileName, wcsnlen(Data->cFileName, MAX_PATH));
  return 0;
}

int FindFirstEntry(const std::string& Pattern, uint32_t Mask, TSearchRecord& Record) {
  StartSearchRecord(Record, Mask);

  WIN32_FIND_DATAW* Data = new WIN32_FIND_DATAW();
  HANDLE Search = FindFirstFileW(WidePath(Pattern).c_str(), Data);
  if (Search == INVALID_HANDLE_VALUE) {
    int Code = static_cast<int>(GetLastError());
    delete Data;
    return Code;
  }
  Record.RawEntry = Data;
  Record.Handle = AsInteger(Search);
  return FindMatchingEntry(Record);
}

int FindNextEntry(TSearchRecord& Record) {
  WIN32_FIND_DATAW* Data = FindDataOf(Record);
  HANDLE Search = SearchHandleOf(Record);
  if (Data == nullptr || Search == INVALID_HANDLE_VALUE) return ERROR_INVALID_HANDLE;
  if (!FindNextFileW(Search, Data)) return static_cast<int>(GetLastError());
  return FindMatchingEntry(Record);
}

void FindEnd(TSearchRecord& Record) {
  HANDLE Search = SearchHandleOf(Record);
  if (Search != INVALID_HANDLE_VALUE) FindClose(Search);
  delete FindDataOf(Record);
  Record.RawEntry = nullptr;
  Record.Handle = -1;
}
