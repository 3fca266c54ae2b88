#include <windows.h>

#include <cstdint>

#include "runtime/stack_capture.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // NOLINT(readability-identifier-naming): the linker's name

bool InOwnImage(const void* Address) {
  const uintptr_t Base = reinterpret_cast<uintptr_t>(&__ImageBase);
  const IMAGE_NT_HEADERS* Nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(Base + __ImageBase.e_lfanew);
  const uintptr_t A = reinterpret_cast<uintptr_t>(Address);
  return A >= Base && A - Base < Nt->OptionalHeader.SizeOfImage;
}

void CaptureStack(std::vector<void*>& Frames, int Skip, int MaxFrames) {
  void* Raw[62];  // the system caps one capture at 62 frames
  USHORT N = RtlCaptureStackBackTrace(0, 62, Raw, nullptr);
  Frames.clear();
  const int First = Skip + 1;
  if (First >= N) return;
  const size_t Kept = KeepOwnFrames(Raw + First, static_cast<size_t>(N - First));
  for (size_t I = 0; I < Kept && static_cast<int>(Frames.size()) < MaxFrames; ++I) Frames.push_back(Raw[First + I]);
}
