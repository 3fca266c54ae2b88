#include "runtime/process_end.h"

#include <cstdio>

#include <windows.h>

void EndProcess(int ExitCode) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(ExitCode));
}
