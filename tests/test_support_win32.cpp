// Windows half of the test-support kit.
#include <windows.h>

#include <vector>

#include "runtime/wide_text_win32.h"
#include "tests/test_support.h"

namespace qbtest {

bool GetEnv(const std::string& Name, std::string& Value) {
  std::wstring W = Utf8ToWide(Name);
  SetLastError(0);
  DWORD Needed = GetEnvironmentVariableW(W.c_str(), nullptr, 0);
  if (Needed == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
    Value.clear();
    return true;
  }
  std::vector<wchar_t> Buffer(Needed + 1);
  DWORD Length = GetEnvironmentVariableW(W.c_str(), Buffer.data(), Needed + 1);
  Value = WideToUtf8(Buffer.data(), Length);
  return true;
}

void SetEnv(const std::string& Name, const std::string& Value) {
  SetEnvironmentVariableW(Utf8ToWide(Name).c_str(), Utf8ToWide(Value).c_str());
}

void UnsetEnv(const std::string& Name) { SetEnvironmentVariableW(Utf8ToWide(Name).c_str(), nullptr); }

bool WithEnvironment(const char* const*, void (*)(void*), void*) { return false; }

static bool ChangeAttributes(const std::string& Path, DWORD Set, DWORD Clear) {
  std::wstring W = Utf8ToWide(Path);
  DWORD A = GetFileAttributesW(W.c_str());
  if (A == INVALID_FILE_ATTRIBUTES) return false;
  A = (A | Set) & ~Clear;
  if (A == 0) A = FILE_ATTRIBUTE_NORMAL;
  if (!SetFileAttributesW(W.c_str(), A)) return false;
  DWORD Now = GetFileAttributesW(W.c_str());
  return Now != INVALID_FILE_ATTRIBUTES && (Now & Set) == Set && (Now & Clear) == 0;
}

bool SetReadOnly(const std::string& Path, bool ReadOnly) {
  return ReadOnly ? ChangeAttributes(Path, FILE_ATTRIBUTE_READONLY, 0)
                  : ChangeAttributes(Path, 0, FILE_ATTRIBUTE_READONLY);
}

bool SetHidden(const std::string& Path) { return ChangeAttributes(Path, FILE_ATTRIBUTE_HIDDEN, 0); }
bool SetSystem(const std::string& Path) { return ChangeAttributes(Path, FILE_ATTRIBUTE_SYSTEM, 0); }

bool IsWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// True when a directory entry named Link is listed (a link whose target is
// missing has no attributes of its own to query).
static bool EntryListed(const std::wstring& Link) {
  WIN32_FIND_DATAW Data;
  HANDLE Search = FindFirstFileW(Link.c_str(), &Data);
  if (Search == INVALID_HANDLE_VALUE) return false;
  FindClose(Search);
  return true;
}

// The Unix name of a path under Wine, or empty text.
static std::string UnixNameOf(const std::wstring& Path) {
  typedef char*(CDECL * TUnixName)(LPCWSTR);
  TUnixName UnixName = reinterpret_cast<TUnixName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (UnixName == nullptr) return std::string();
  char* Name = UnixName(Path.c_str());
  std::string Result = Name ? Name : "";
  if (Name) HeapFree(GetProcessHeap(), 0, Name);
  return Result;
}

// Runs a Unix program under Wine. Wine does not report when such a program
// ends, so callers poll for its effect.
static bool RunUnixProgram(const std::wstring& Program, const std::wstring& Arguments, std::string& Why) {
  std::wstring Command = Program + L" " + Arguments;
  std::vector<wchar_t> Line(Command.begin(), Command.end());
  Line.push_back(L'\0');
  STARTUPINFOW Startup = {};
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Process = {};
  if (!CreateProcessW(Program.c_str(), Line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup, &Process)) {
    Why = "cannot run a Unix program: error " + std::to_string(GetLastError());
    return false;
  }
  WaitForSingleObject(Process.hProcess, 10000);
  CloseHandle(Process.hThread);
  CloseHandle(Process.hProcess);
  return true;
}

// Waits up to five seconds for the entry Path to be listed (or not).
static bool AwaitListed(const std::wstring& Path, bool Listed) {
  for (int I = 0; I < 500; ++I) {
    if (EntryListed(Path) == Listed) return true;
    Sleep(10);
  }
  return false;
}

static std::wstring Quoted(const std::string& Text) { return L"\"" + Utf8ToWide(Text) + L"\""; }

// Wine answers CreateSymbolicLinkW without making a link; there the link is
// made on the Unix side by running ln, whose links Wine then shows.
static bool MakeUnixLink(const std::wstring& Target, const std::wstring& Link, std::string& Why) {
  if (GetFileAttributesW(Target.c_str()) == INVALID_FILE_ATTRIBUTES) {
    Why = "Wine does not list a link whose target is missing";
    return false;
  }
  std::string UnixTarget = UnixNameOf(Target), UnixLink = UnixNameOf(Link);
  if (UnixTarget.empty() || UnixLink.empty()) {
    Why = "no Unix name for the link or its target";
    return false;
  }
  if (!RunUnixProgram(L"Z:\\bin\\ln", L"-s " + Quoted(UnixTarget) + L" " + Quoted(UnixLink), Why)) return false;
  if (AwaitListed(Link, true)) return true;
  Why = "ln did not make the link";
  return false;
}

static bool MakeLink(const std::string& Target, const std::string& Link, DWORD Flags, std::string& Why) {
  std::wstring L = Utf8ToWide(Link), T = Utf8ToWide(Target);
  bool Made = false;
  if (IsWine()) {
    Made = MakeUnixLink(T, L, Why);
  } else {
    // 0x2: allow creation without the symbolic-link privilege where supported.
    Made = CreateSymbolicLinkW(L.c_str(), T.c_str(), Flags | 0x2) || CreateSymbolicLinkW(L.c_str(), T.c_str(), Flags);
    if (!Made) Why = "CreateSymbolicLinkW failed with error " + std::to_string(GetLastError());
  }
  if (Made) RememberTestLink(Link);
  return Made;
}

void RemoveTestLink(const std::string& Link) {
  std::wstring L = Utf8ToWide(Link);
  if (!EntryListed(L)) return;
  if (IsWine()) {
    // Wine deletes the target, not the link, through DeleteFileW.
    std::string UnixLink = UnixNameOf(L), Why;
    if (!UnixLink.empty() && RunUnixProgram(L"Z:\\bin\\rm", L"-f " + Quoted(UnixLink), Why)) AwaitListed(L, false);
    return;
  }
  if (!RemoveDirectoryW(L.c_str())) DeleteFileW(L.c_str());
}

// Removes Path (in the "\\?\" form, which takes paths of any length) and,
// for a folder that is no link, everything in it.
static void RemoveEntry(const std::wstring& Path) {
  const DWORD Attributes = GetFileAttributesW(Path.c_str());
  if (Attributes == INVALID_FILE_ATTRIBUTES) return;
  if (Attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(Path.c_str(), Attributes & ~FILE_ATTRIBUTE_READONLY);
  if ((Attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    DeleteFileW(Path.c_str());
    return;
  }
  if ((Attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    WIN32_FIND_DATAW Data;
    HANDLE Search = FindFirstFileW((Path + L"\\*").c_str(), &Data);
    if (Search != INVALID_HANDLE_VALUE) {
      do {
        const std::wstring Name = Data.cFileName;
        if (Name != L"." && Name != L"..") RemoveEntry(Path + L"\\" + Name);
      } while (FindNextFileW(Search, &Data));
      FindClose(Search);
    }
  }
  RemoveDirectoryW(Path.c_str());
}

void RemoveTree(const fsys::path& Root) {
  const std::wstring Path = L"\\\\?\\" + Root.wstring();
  RemoveEntry(Path);
  // Under Wine some names cannot be reached through the Windows calls (a
  // folder named "C:", a Unix link to a folder): the Unix side removes them.
  if (IsWine() && EntryListed(Path)) {
    const std::string UnixRoot = UnixNameOf(Path);
    std::string Why;
    if (UnixRoot.find("/qb_") != std::string::npos && RunUnixProgram(L"Z:\\bin\\rm", L"-rf " + Quoted(UnixRoot), Why))
      AwaitListed(Path, false);
  }
}

bool MakeFolderLink(const std::string& Target, const std::string& Link, std::string& Why) {
  return MakeLink(Target, Link, SYMBOLIC_LINK_FLAG_DIRECTORY, Why);
}

bool MakeFileLink(const std::string& Target, const std::string& Link, std::string& Why) {
  if (IsWine()) {
    Why = "Wine shows a Unix link to a file as a plain file";
    return false;
  }
  return MakeLink(Target, Link, 0, Why);
}

bool SetCurrentFolder(const std::string& Path) { return SetCurrentDirectoryW(Utf8ToWide(Path).c_str()) != 0; }

std::string CurrentFolder() {
  wchar_t Buffer[4096];
  DWORD Length = GetCurrentDirectoryW(4096, Buffer);
  return (Length > 0 && Length < 4096) ? WideToUtf8(Buffer, Length) : std::string();
}

bool IsWindowsBuild() { return true; }
bool PermissionBitsApply() { return false; }
bool PermissionsAreIgnored() { return false; }

intptr_t HoldFile(const std::string& Path) {
  HANDLE File = CreateFileW(Utf8ToWide(Path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return File == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(File);
}

void ReleaseFile(intptr_t Held) {
  if (Held != -1) CloseHandle(reinterpret_cast<HANDLE>(Held));
}

// Under Wine there is one user, whom the read-only attribute stops as it
// stops everyone: permission tests run as they are.
bool TestUser(const std::string&, uint32_t&, uint32_t&, std::string& Why) {
  Why = "no second user under Wine";
  return false;
}

bool GiveTree(const std::string&, const std::string&) { return false; }

bool GiveToAnotherUser(const std::string&, std::string& Why) {
  Why = "owners are set from the Unix side only (see launcher_relay_test.sh)";
  return false;
}

void RunUnprivileged(const TScratchFolder&, const std::function<void()>& Body) { Body(); }

bool SetModTime(const std::string& Path, const TLocalTime& Time) {
  SYSTEMTIME St = {};
  St.wYear = static_cast<WORD>(Time.Year);
  St.wMonth = static_cast<WORD>(Time.Month);
  St.wDay = static_cast<WORD>(Time.Day);
  St.wHour = static_cast<WORD>(Time.Hour);
  St.wMinute = static_cast<WORD>(Time.Minute);
  St.wSecond = static_cast<WORD>(Time.Second);
  FILETIME Local, Utc;
  if (!SystemTimeToFileTime(&St, &Local) || !LocalFileTimeToFileTime(&Local, &Utc)) return false;
  HANDLE H = CreateFileW(Utf8ToWide(Path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (H == INVALID_HANDLE_VALUE) return false;
  BOOL Ok = SetFileTime(H, nullptr, nullptr, &Utc);
  CloseHandle(H);
  return Ok != 0;
}

bool ModTimeOf(const std::string& Path, TLocalTime& Time) {
  WIN32_FILE_ATTRIBUTE_DATA Data;
  if (!GetFileAttributesExW(Utf8ToWide(Path).c_str(), GetFileExInfoStandard, &Data)) return false;
  FILETIME Local;
  SYSTEMTIME St;
  if (!FileTimeToLocalFileTime(&Data.ftLastWriteTime, &Local) || !FileTimeToSystemTime(&Local, &St)) return false;
  Time = {St.wYear, St.wMonth, St.wDay, St.wHour, St.wMinute, St.wSecond};
  return true;
}

bool MakeDeepTree(const std::string& Root, int Levels, const std::string& Name) {
  // The "\\?\" form takes paths up to 32,767 characters.
  std::wstring Path = L"\\\\?\\" + Utf8ToWide(Root);
  for (int I = 0; I < Levels; ++I) {
    Path += L"\\" + Utf8ToWide(Name);
    if (!CreateDirectoryW(Path.c_str(), nullptr)) return false;
  }
  HANDLE File = CreateFileW((Path + L"\\leaf.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return false;
  CloseHandle(File);
  return true;
}

bool EntryExists(const std::string& Root, const std::string& Name) {
  return GetFileAttributesW((L"\\\\?\\" + Utf8ToWide(Root + "\\" + Name)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace qbtest
