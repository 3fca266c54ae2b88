#include "runtime/stack_capture.h"

#include <execinfo.h>

#include <cstdint>

// The bounds of the executable's code, from the linker.
extern "C" {
extern const char __executable_start[];
extern const char __etext[];
}

bool InOwnImage(const void* Address) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(Address);
  return a >= reinterpret_cast<uintptr_t>(__executable_start) && a < reinterpret_cast<uintptr_t>(__etext);
}

__attribute__((noinline)) void CaptureStack(std::vector<void*>& Frames, int Skip, int MaxFrames) {
  void* raw[64];
  int n = backtrace(raw, 64);
  // Find the caller's frame by its return address: tools that wrap
  // backtrace (sanitizers) add frames of their own in front of ours.
  void* callerReturn = __builtin_return_address(0);
  int first = 1;
  for (int i = 0; i < n && i < 8; ++i) {
    if (raw[i] == callerReturn) {
      first = i;
      break;
    }
  }
  Frames.clear();
  if (first + Skip >= n) return;
  const size_t kept = KeepOwnFrames(raw + first + Skip, static_cast<size_t>(n - first - Skip));
  for (size_t i = 0; i < kept && static_cast<int>(Frames.size()) < MaxFrames; ++i)
    Frames.push_back(raw[first + Skip + i]);
}
