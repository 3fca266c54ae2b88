#include "runtime/exceptions.h"

#include "runtime/stack_capture.h"

std::string FormatTextV(const char* Format, const std::vector<std::string>& Args) {
  std::string Out;
  size_t Next = 0;
  for (const char* P = Format; *P; ++P) {
    if (*P == '%' && (P[1] == 's' || P[1] == 'd')) {
      if (Next < Args.size()) Out += Args[Next++];
      ++P;
    } else if (*P == '%' && P[1] == '%') {
      Out += '%';
      ++P;
    } else {
      Out += *P;
    }
  }
  return Out;
}

// Not inlined, so that its return address is the raising code: the
// constructors that call it are all inlined into the function that raised.
__attribute__((noinline)) void CaptureFailureRecord(TFailureRecord& Record) {
  // Skip this function's own frame: the first address kept is the raising
  // code, the following ones the return addresses of the active calls.
  std::vector<void*> Frames;
  CaptureStack(Frames, 1, 17);
  Record.RaiseAddress = Frames.empty() ? nullptr : Frames[0];
  Record.Frames.assign(Frames.begin() + (Frames.empty() ? 0 : 1), Frames.end());
}
