#include "tests/frame_test_support.h"

#include <windows.h>

namespace {

std::wstring Wide(const std::string& Text) {
  int n = MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), &out[0], n);
  return out;
}

}  // namespace

// The command line goes through the wide call so that UTF-8 arguments reach
// the child as the same characters.
int RunChild(const std::string& Program, const std::string& Tail, const std::string& /*StdErrFile*/) {
  std::wstring program = Wide(Program);
  std::wstring commandLine = L"\"" + program + L"\" " + Wide(Tail);
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
