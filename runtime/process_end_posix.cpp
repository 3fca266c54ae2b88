#include <unistd.h>

#include <cstdio>

#include "runtime/process_end.h"

void EndProcess(int ExitCode) {
  std::fflush(nullptr);
  // _exit: the exit procedure has already run; no static destructor or
  // exit handler runs after it.
  _exit(ExitCode);
}

void EndProcessAfterFault(int ExitCode) { _exit(ExitCode); }
