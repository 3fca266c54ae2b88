#include "runtime/stack_capture.h"

#include <windows.h>

void CaptureStack(std::vector<void*>& Frames, int Skip, int MaxFrames) {
  void* raw[64];
  int want = Skip + 1 + MaxFrames;
  if (want > 62) want = 62;  // the system caps one capture at 62 frames
  USHORT n = RtlCaptureStackBackTrace(0, static_cast<DWORD>(want), raw, nullptr);
  Frames.clear();
  for (int i = Skip + 1; i < n && static_cast<int>(Frames.size()) < MaxFrames; ++i)
    Frames.push_back(raw[i]);
}
