#include "runtime/stack_capture.h"

#include <execinfo.h>

__attribute__((noinline)) void CaptureStack(std::vector<void*>& Frames, int Skip, int MaxFrames) {
  void* raw[64];
  int want = Skip + 4 + MaxFrames;
  if (want > 64) want = 64;
  int n = backtrace(raw, want);
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
  for (int i = first + Skip; i < n && static_cast<int>(Frames.size()) < MaxFrames; ++i)
    Frames.push_back(raw[i]);
}
