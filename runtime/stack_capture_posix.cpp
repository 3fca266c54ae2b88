#include <execinfo.h>

#include <cstdint>

#include "runtime/stack_capture.h"

// The bounds of the executable's code, from the linker.
extern "C" {
extern const char __executable_start[];  // NOLINT(readability-identifier-naming): the linker's name
extern const char __etext[];             // NOLINT(readability-identifier-naming): the linker's name
}

bool InOwnImage(const void* Address) {
  const uintptr_t A = reinterpret_cast<uintptr_t>(Address);
  return A >= reinterpret_cast<uintptr_t>(__executable_start) && A < reinterpret_cast<uintptr_t>(__etext);
}

__attribute__((noinline)) void CaptureStack(std::vector<void*>& Frames, int Skip, int MaxFrames) {
  void* Raw[64];
  int N = backtrace(Raw, 64);
  // Find the caller's frame by its return address: tools that wrap
  // backtrace (sanitizers) add frames of their own in front of ours.
  void* CallerReturn = __builtin_return_address(0);
  int First = 1;
  for (int I = 0; I < N && I < 8; ++I) {
    if (Raw[I] == CallerReturn) {
      First = I;
      break;
    }
  }
  Frames.clear();
  if (First + Skip >= N) return;
  const size_t Kept = KeepOwnFrames(Raw + First + Skip, static_cast<size_t>(N - First - Skip));
  for (size_t I = 0; I < Kept && static_cast<int>(Frames.size()) < MaxFrames; ++I)
    Frames.push_back(Raw[First + Skip + I]);
}
