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
  int I = 1;
  for (; I < Count && std::wstring(Words[I]) != L"--"; ++I) {
    const std::wstring Setting = Words[I];
    const size_t Equals = Setting.find(L'=');
    if (Equals == std::wstring::npos) return 2;
    SetEnvironmentVariableW(Setting.substr(0, Equals).c_str(), Setting.substr(Equals + 1).c_str());
  }
  if (I + 1 >= Count) return 2;
  std::wstring CommandLine;
  for (int J = I + 1; J < Count; ++J) CommandLine += (J > I + 1 ? L" \"" : L"\"") + std::wstring(Words[J]) + L"\"";
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
