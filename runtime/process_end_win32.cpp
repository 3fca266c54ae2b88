#include <windows.h>

#include <cstdio>

#include "runtime/process_end.h"

void EndProcess(int ExitCode) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(ExitCode));
}

void EndProcessAfterFault(int ExitCode) {
  // TerminateProcess, not ExitProcess: no DLL detach routine (the C
  // library's flush among them) runs after the fault, as with _exit on POSIX.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(ExitCode));
  ExitProcess(static_cast<UINT>(ExitCode));
}
