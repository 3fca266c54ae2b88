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

Exception::Exception(std::string Message) : Message_(std::move(Message)) {
  // Skip this constructor and the constructors of the derived classes that
  // forward to it: the first address kept is the code that raised.
  std::vector<void*> frames;
  CaptureStack(frames, 0, 24);
  // Frames inside exception constructors are all within this library's
  // constructors; the caller supplies the raise site. Keep the innermost
  // frame outside the constructor chain as the raising address.
  size_t first = frames.empty() ? 0 : 1;
  if (first < frames.size()) Record_.RaiseAddress = frames[first];
  for (size_t i = first + 1; i < frames.size() && Record_.Frames.size() < 16; ++i)
    Record_.Frames.push_back(frames[i]);
}
