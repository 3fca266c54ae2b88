// Capture of the calling thread's return addresses, innermost first.
#pragma once

#include <vector>

// Fills Frames with at most MaxFrames return addresses, skipping the first
// Skip frames above the caller of CaptureStack.
void CaptureStack(std::vector<void*>& Frames, int Skip, int MaxFrames);
