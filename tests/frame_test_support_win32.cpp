#include <windows.h>

#include "runtime/wide_text_win32.h"
#include "tests/frame_test_support.h"

// The command line goes through the wide call so that UTF-8 arguments reach
// the child as the same characters.
int RunChild(const std::string& Program, const std::string& Tail, const std::string& /*StdErrFile*/) {
  const std::wstring WideProgram = Utf8ToWide(Program);
  std::wstring CommandLine = L"\"" + WideProgram + L"\" " + Utf8ToWide(Tail);
  STARTUPINFOW Startup = {};
  Startup.cb = sizeof(Startup);
  PROCESS_INFORMATION Info = {};
  if (!CreateProcessW(WideProgram.c_str(), &CommandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup,
                      &Info))
    return -1;
  WaitForSingleObject(Info.hProcess, INFINITE);
  DWORD Code = 0;
  GetExitCodeProcess(Info.hProcess, &Code);
  CloseHandle(Info.hThread);
  CloseHandle(Info.hProcess);
  return static_cast<int>(Code);
}

bool BoxesOnStdErr() { return false; }
