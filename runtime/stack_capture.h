// Capture of the calling thread's return addresses, innermost first.
#pragma once

#include <cstddef>
#include <vector>

// Fills Frames with at most MaxFrames return addresses, skipping the first
// Skip frames above the caller of CaptureStack. Only addresses in the
// executable's own image are kept, up to the last such frame: the system's
// start-up code below main, and any frame of another module or a zero
// address, are left out.
void CaptureStack(std::vector<void*>& Frames, int Skip, int MaxFrames);

// Whether Address lies in the executable's own image (not in a shared
// library or a system DLL). Async-signal-safe.
bool InOwnImage(const void* Address);

// Keeps, of Count addresses, those in the executable's own image, in order;
// gives how many were kept (at the front of Addresses). Allocates nothing.
template <class T>
size_t KeepOwnFrames(T* Addresses, size_t Count) {
  size_t Kept = 0;
  for (size_t I = 0; I < Count; ++I)
    if (Addresses[I] != 0 && InOwnImage(reinterpret_cast<const void*>(Addresses[I]))) Addresses[Kept++] = Addresses[I];
  return Kept;
}
