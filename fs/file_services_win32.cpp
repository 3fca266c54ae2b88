// Folder services over the Win32 calls. Every path goes to the system as
// UTF-16 through the wide ("W") calls; only the environment is read narrow.
#include <windows.h>

#include <vector>

#include "fs/file_services.h"
#include "fs/file_services_platform.h"
#include "fs/path_text.h"
#include "fs/wide_text_win32.h"

const int NoMoreEntriesError = ERROR_NO_MORE_FILES;

std::string EnvironmentValue(const std::string& Name) {
  std::string Value;
  char* Block = GetEnvironmentStringsA();
  if (Block == nullptr) return Value;
  bool Found = false;
  // NAME=VALUE entries one after the other, each ended by a zero; an empty
  // entry ends the block.
  for (const char* Entry = Block; *Entry != '\0'; Entry += strlen(Entry) + 1) {
    if (MatchEnvironmentEntry(Entry, Name, Value)) {
      Found = true;
      break;
    }
  }
  FreeEnvironmentStringsA(Block);
  if (!Found || Value.empty()) return std::string();
  // The narrow block holds text of the ANSI code page (the conversion that
  // GetEnvironmentStringsA applies); paths are UTF-8.
  int Length = MultiByteToWideChar(CP_ACP, 0, Value.data(), static_cast<int>(Value.size()), nullptr, 0);
  if (Length <= 0) return std::string();
  std::wstring Wide(static_cast<size_t>(Length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, Value.data(), static_cast<int>(Value.size()), &Wide[0], Length);
  return WideToUtf8(Wide);
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

static DWORD AttributesOf(const std::string& Path) { return GetFileAttributesW(Utf8ToWide(Path).c_str()); }

bool FileExists(const std::string& Path) {
  DWORD Attributes = AttributesOf(Path);
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& Path) {
  DWORD Attributes = AttributesOf(Path);
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool RemoveFile(const std::string& Path) { return DeleteFileW(Utf8ToWide(Path).c_str()) != 0; }

bool CreateFolder(const std::string& Path) { return CreateDirectoryW(Utf8ToWide(Path).c_str(), nullptr) != 0; }

bool RemoveFolder(const std::string& Path) { return RemoveDirectoryW(Utf8ToWide(Path).c_str()) != 0; }

bool RemoveLink(const std::string& Path, bool FolderLink) {
  // A directory link or junction goes with RemoveDirectoryW, which removes
  // the link and leaves its target alone; a file link with DeleteFileW.
  return FolderLink ? RemoveFolder(Path) : RemoveFile(Path);
}

bool IsLinkEntry(const std::string& Path) {
  DWORD Attributes = AttributesOf(Path);
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool RenameReplace(const std::string& Source, const std::string& Target) {
  return MoveFileExW(Utf8ToWide(Source).c_str(), Utf8ToWide(Target).c_str(),
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

static WIN32_FIND_DATAW* FindDataOf(TSearchRecord& Record) {
  return static_cast<WIN32_FIND_DATAW*>(Record.RawEntry);
}

static HANDLE SearchHandleOf(const TSearchRecord& Record) {
  return Record.Handle == -1 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(Record.Handle);
}

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
  HANDLE Search = FindFirstFileW(Utf8ToWide(Pattern).c_str(), Data);
  if (Search == INVALID_HANDLE_VALUE) {
    int Code = static_cast<int>(GetLastError());
    delete Data;
    return Code;
  }
  Record.RawEntry = Data;
  Record.Handle = reinterpret_cast<intptr_t>(Search);
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
