#include "runtime/exceptions.h"

#include "runtime/stack_capture.h"

std::string FormatTextV(const char* Format, const std::vector<std::string>& Args) {
  std::string out;
  size_t next = 0;
  for (const char* p = Format; *p; ++p) {
    if (*p == '%' && (p[1] == 's' || p[1] == 'd')) {
      if (next < Args.size()) out += Args[next++];
      ++p;
    } else if (*p == '%' && p[1] == '%') {
      out += '%';
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// Not inlined, so that its return address is the raising code: the
// constructors that call it are all inlined into the function that raised.
__attribute__((noinline)) void CaptureFailureRecord(TFailureRecord& Record) {
  // Skip this function's own frame: the first address kept is the raising
  // code, the following ones the return addresses of the active calls.
  std::vector<void*> frames;
  CaptureStack(frames, 1, 17);
  Record.RaiseAddress = frames.empty() ? nullptr : frames[0];
  Record.Frames.assign(frames.begin() + (frames.empty() ? 0 : 1), frames.end());
}
