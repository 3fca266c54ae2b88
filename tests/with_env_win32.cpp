// Runs a Windows program with changed environment variables, for tests that
// start programs from outside Wine (which takes TEMP and TMP from its own
// registry, not from the Unix environment):
//   with_env NAME=VALUE... -- PROGRAM [ARGS...]
// Gives the program's exit code.
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
  int Count = 0;
  wchar_t** Words = CommandLineToArgvW(GetCommandLineW(), &Count);
  int i = 1;
  for (; i < Count && std::wstring(Words[i]) != L"--"; ++i) {
    const std::wstring Setting = Words[i];
    const size_t Equals = Setting.find(L'=');
    if (Equals == std::wstring::npos) return 2;
    SetEnvironmentVariableW(Setting.substr(0, Equals).c_str(), Setting.substr(Equals + 1).c_str());
  }
  if (i + 1 >= Count) return 2;
  std::wstring CommandLine;
  for (int j = i + 1; j < Count; ++j) CommandLine += (j > i + 1 ? L" \"" : L"\"") + std::wstring(Words[j]) + L"\"";
  STARTUPINFOW Startup = {};
  Startup.cb = sizeof Startup;
  PROCESS_INFORMATION Process;
  if (!CreateProcessW(nullptr, &CommandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup, &Process))
    return 3;
  WaitForSingleObject(Process.hProcess, INFINITE);
  DWORD Code = 1;
  GetExitCodeProcess(Process.hProcess, &Code);
  return static_cast<int>(Code);
}
