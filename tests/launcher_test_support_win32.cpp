#include <windows.h>

#include <stdexcept>

#include "runtime/wide_text_win32.h"
#include "tests/launcher_test_support.h"

namespace {

bool SameName(const std::wstring& A, const std::wstring& B) {
  return CompareStringOrdinal(A.c_str(), static_cast<int>(A.size()), B.c_str(), static_cast<int>(B.size()), TRUE) ==
         CSTR_EQUAL;
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
                    const std::string& CurrentFolder, const TChildEnvironment& Environment, const std::string&) {
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
  if (!CreateProcessW(nullptr, &CommandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT, &Block[0],
                      Folder.c_str(), &Startup, &Info))
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

std::string BuildTreePath(const std::string& Path) {
  // Wine shows the Unix root as drive Z:.
  std::string Result = "Z:" + Path;
  for (char& C : Result)
    if (C == '/') C = '\\';
  return Result;
}

bool ReportOnStdErr() { return false; }

std::string UsePlatformTempFolder(TChildEnvironment& Environment, const std::string& Folder) {
  Environment.Set.emplace_back("LOCALAPPDATA", Folder);
  return Folder + "\\Temp\\";
}

bool SignalChild(intptr_t, int) { return false; }
