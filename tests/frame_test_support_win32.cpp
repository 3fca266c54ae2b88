#include "tests/frame_test_support.h"

#include <windows.h>

#include "runtime/wide_text_win32.h"

// The command line goes through the wide call so that UTF-8 arguments reach
// the child as the same characters.
int RunChild(const std::string& Program, const std::string& Tail, const std::string& /*StdErrFile*/) {
  std::wstring program = Utf8ToWide(Program);
  std::wstring commandLine = L"\"" + program + L"\" " + Utf8ToWide(Tail);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info))
    return -1;
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return static_cast<int>(code);
}

bool BoxesOnStdErr() { return false; }
