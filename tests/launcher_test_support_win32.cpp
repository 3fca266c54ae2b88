#include <windows.h>

#include <stdexcept>

#include "runtime/wide_text_win32.h"
#include "tests/launcher_test_support.h"

namespace {

bool SameName(const std::wstring& A, const std::wstring& B) {
  return CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(), static_cast<int>(B.size()),
                              TRUE) == CSTR_EQUAL;
}

// One word of a command line as the launcher's argument cutting reads it:
// a word with a space goes in double quotes.
std::wstring QuoteWord(const std::string& Word) {
  std::wstring Wide = Utf8ToWide(Word);
  if (Wide.empty() || Wide.find(L' ') != std::wstring::npos) return L"\"" + Wide + L"\"";
  return Wide;
}

}  // namespace

intptr_t StartChild(const std::string& Program, const std::vector<std::string>& Arguments,
                    const std::string& CurrentFolder, const TChildEnvironment& Environment,
                    const std::string&) {
  // The child's environment block: ours, with the changes.
  std::wstring Block;
  wchar_t* Strings = GetEnvironmentStringsW();
  for (const wchar_t* Entry = Strings; *Entry != L'\0'; Entry += wcslen(Entry) + 1) {
    std::wstring Text = Entry;
    size_t Equals = Text.find(L'=', 1);
    std::wstring Name = Text.substr(0, Equals);
    bool Drop = false;
    for (const std::string& Unset : Environment.Unset) Drop = Drop || SameName(Name, Utf8ToWide(Unset));
    for (const auto& Set : Environment.Set) Drop = Drop || SameName(Name, Utf8ToWide(Set.first));
    if (!Drop) Block += Text + L'\0';
  }
  FreeEnvironmentStringsW(Strings);
  for (const auto& Set : Environment.Set) Block += Utf8ToWide(Set.first + "=" + Set.second) + L'\0';
  Block += L'\0';

  std::wstring CommandLine = L"\"" + Utf8ToWide(Program) + L"\"";
  for (const std::string& Argument : Arguments) CommandLine += L" " + QuoteWord(Argument);
  std::wstring Folder = Utf8ToWide(CurrentFolder);

  STARTUPINFOW Startup;
  ZeroMemory(&Startup, sizeof Startup);
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Info;
  if (!CreateProcessW(nullptr, &CommandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                      &Block[0], Folder.c_str(), &Startup, &Info))
    throw std::runtime_error("cannot start " + Program + ": error " + std::to_string(GetLastError()));
  CloseHandle(Info.hThread);
  return reinterpret_cast<intptr_t>(Info.hProcess);
}

int WaitChild(intptr_t Child) {
  HANDLE Process = reinterpret_cast<HANDLE>(Child);
  WaitForSingleObject(Process, INFINITE);
  DWORD Code = 0;
  GetExitCodeProcess(Process, &Code);
  CloseHandle(Process);
  return static_cast<int>(Code);
}

std::string ScratchRoot() {
  wchar_t Buffer[MAX_PATH + 2];
  DWORD Length = GetTempPathW(MAX_PATH + 1, Buffer);
  std::string Root = WideToUtf8(Buffer, Length);
  if (Root.empty() || Root.back() != '\\') Root += '\\';
  return Root;
}

std::string BuildTreePath(const std::string& Path) {
  // Wine shows the Unix root as drive Z:.
  std::string Result = "Z:" + Path;
  for (char& C : Result)
    if (C == '/') C = '\\';
  return Result;
}


bool ReportOnStdErr() { return false; }

std::string FallbackTempFolder(const TChildEnvironment&) { return std::string(); }

void SetEnvironmentValue(const std::string& Name, const std::string& Value) {
  SetEnvironmentVariableW(Utf8ToWide(Name).c_str(), Utf8ToWide(Value).c_str());
}

void ClearEnvironmentValue(const std::string& Name) { SetEnvironmentVariableW(Utf8ToWide(Name).c_str(), nullptr); }

bool MakeFolderLink(const std::string& Target, const std::string& Link) {
  if (!CreateSymbolicLinkW(Utf8ToWide(Link).c_str(), Utf8ToWide(Target).c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY))
    return false;
  // Wine 8 answers success without making anything: trust only a link that
  // is there.
  DWORD Attributes = GetFileAttributesW(Utf8ToWide(Link).c_str());
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool TestUser(const std::string&, uint32_t&, uint32_t&, std::string& Why) {
  Why = "no second user under Wine";
  return false;
}

bool GiveTree(const std::string&, const std::string&) { return false; }

int RunAsUser(const std::string&, const std::string&) { return -1; }

intptr_t HoldFile(const std::string& Path) {
  HANDLE File = CreateFileW(Utf8ToWide(Path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return File == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(File);
}

void ReleaseFile(intptr_t Held) {
  if (Held != -1) CloseHandle(reinterpret_cast<HANDLE>(Held));
}

bool SignalChild(intptr_t, int) { return false; }

bool MakeFileLink(const std::string& Target, const std::string& Link) {
  if (!CreateSymbolicLinkW(Utf8ToWide(Link).c_str(), Utf8ToWide(Target).c_str(), 0)) return false;
  const DWORD Attributes = GetFileAttributesW(Utf8ToWide(Link).c_str());
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool PermissionBitsApply() { return false; }

bool GiveToAnotherUser(const std::string&, std::string& Why) {
  Why = "owners are set from the Unix side only (see launcher_owner_test.sh)";
  return false;
}
