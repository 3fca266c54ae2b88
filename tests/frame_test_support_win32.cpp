#include "tests/frame_test_support.h"

#include <windows.h>

int RunChild(const std::string& Program, const std::string& Tail, const std::string& /*StdErrFile*/) {
  std::string commandLine = "\"" + Program + "\" " + Tail;
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(Program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
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
