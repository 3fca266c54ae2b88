#include <windows.h>

#include <shellapi.h>

#include "runtime/wide_text_win32.h"
#include "tests/probe_app/probe_platform.h"

std::vector<std::string> ProbeArguments(int, char**) {
  std::vector<std::string> Result;
  int Count = 0;
  wchar_t** Words = CommandLineToArgvW(GetCommandLineW(), &Count);
  if (Words == nullptr) return Result;
  for (int I = 1; I < Count; ++I) Result.push_back(WideToUtf8(Words[I], wcslen(Words[I])));
  LocalFree(Words);
  return Result;
}

std::string ProbeCommandLine() {
  const wchar_t* Line = GetCommandLineW();
  return WideToUtf8(Line, wcslen(Line));
}

std::string ProbeEnvironment(const std::string& Name, bool& Present) {
  wchar_t Buffer[32768];
  SetLastError(ERROR_SUCCESS);
  DWORD Length = GetEnvironmentVariableW(Utf8ToWide(Name).c_str(), Buffer, 32768);
  Present = Length > 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
  return WideToUtf8(Buffer, Length < 32768 ? Length : 0);
}

std::string ProbeOwnFolder() {
  wchar_t Buffer[32768];
  DWORD Length = GetModuleFileNameW(nullptr, Buffer, 32768);
  std::string Path = WideToUtf8(Buffer, Length);
  return Path.substr(0, Path.find_last_of("\\/"));
}

std::string ProbeCurrentFolder() {
  wchar_t Buffer[32768];
  DWORD Length = GetCurrentDirectoryW(32768, Buffer);
  std::string Path = WideToUtf8(Buffer, Length);
  if (Path.size() > 3 && (Path.back() == '\\' || Path.back() == '/')) Path.pop_back();
  return Path;
}

void ProbeCrash() {
  // Ends as an unhandled access violation does, without starting a debugger.
  TerminateProcess(GetCurrentProcess(), 0xC0000005u);
  ExitProcess(0xC0000005u);
}

bool ProbeOnTermination() { return false; }

bool ProbeTerminationRequested() { return false; }
