#include "runtime/stack_capture.h"

#include <windows.h>

#include <cstdint>

extern "C" IMAGE_DOS_HEADER __ImageBase;

bool InOwnImage(const void* Address) {
  const uintptr_t base = reinterpret_cast<uintptr_t>(&__ImageBase);
  const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + __ImageBase.e_lfanew);
  const uintptr_t a = reinterpret_cast<uintptr_t>(Address);
  return a >= base && a - base < nt->OptionalHeader.SizeOfImage;
}

void CaptureStack(std::vector<void*>& Frames, int Skip, int MaxFrames) {
  void* raw[62];  // the system caps one capture at 62 frames
  USHORT n = RtlCaptureStackBackTrace(0, 62, raw, nullptr);
  Frames.clear();
  const int first = Skip + 1;
  if (first >= n) return;
  const size_t kept = KeepOwnFrames(raw + first, static_cast<size_t>(n - first));
  for (size_t i = 0; i < kept && static_cast<int>(Frames.size()) < MaxFrames; ++i)
    Frames.push_back(raw[first + i]);
}
