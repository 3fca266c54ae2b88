#include "runtime/stack_capture.h"

#include <execinfo.h>

void CaptureStack(std::vector<void*>& Frames, int Skip, int MaxFrames) {
  void* raw[64];
  int want = Skip + 1 + MaxFrames;
  if (want > 64) want = 64;
  int n = backtrace(raw, want);
  Frames.clear();
  for (int i = Skip + 1; i < n && static_cast<int>(Frames.size()) < MaxFrames; ++i)
    Frames.push_back(raw[i]);
}
