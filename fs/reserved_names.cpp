#include "fs/reserved_names.h"

namespace {

char AsciiUpper(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C; }

bool SameIgnoringCase(const std::string& Text, const char* Upper) {
  size_t i = 0;
  for (; Upper[i] != '\0'; ++i)
    if (i >= Text.size() || AsciiUpper(Text[i]) != Upper[i]) return false;
  return i == Text.size();
}

}  // namespace

bool HasWindowsDeviceForm(const std::string& Segment) {
  // The system looks only at the part before the first dot (or the ":" of a
  // stream name), with trailing spaces dropped.
  size_t end = Segment.find_first_of(".:");
  if (end == std::string::npos) end = Segment.size();
  while (end > 0 && Segment[end - 1] == ' ') --end;
  const std::string base = Segment.substr(0, end);

  for (const char* name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (SameIgnoringCase(base, name)) return true;
  if (base.size() < 4) return false;
  const std::string prefix = base.substr(0, 3);
  if (!SameIgnoringCase(prefix, "COM") && !SameIgnoringCase(prefix, "LPT")) return false;
  const std::string number = base.substr(3);
  if (number.size() == 1) return number[0] >= '0' && number[0] <= '9';
  // Superscript one, two and three (U+00B9, U+00B2, U+00B3) in UTF-8.
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}
