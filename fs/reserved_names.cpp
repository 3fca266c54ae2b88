#include "fs/reserved_names.h"

namespace {

char AsciiUpper(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C; }

bool SameIgnoringCase(const std::string& Text, const char* Upper) {
  size_t I = 0;
  for (; Upper[I] != '\0'; ++I)
    if (I >= Text.size() || AsciiUpper(Text[I]) != Upper[I]) return false;
  return I == Text.size();
}

}  // namespace

bool HasWindowsDeviceForm(const std::string& Segment) {
  // The system looks only at the part before the first dot (or the ":" of a
  // stream name), with trailing spaces dropped.
  size_t End = Segment.find_first_of(".:");
  if (End == std::string::npos) End = Segment.size();
  while (End > 0 && Segment[End - 1] == ' ') --End;
  const std::string Base = Segment.substr(0, End);

  for (const char* Name : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (SameIgnoringCase(Base, Name)) return true;
  if (Base.size() < 4) return false;
  const std::string Prefix = Base.substr(0, 3);
  if (!SameIgnoringCase(Prefix, "COM") && !SameIgnoringCase(Prefix, "LPT")) return false;
  const std::string Number = Base.substr(3);
  if (Number.size() == 1) return Number[0] >= '0' && Number[0] <= '9';
  // Superscript one, two and three (U+00B9, U+00B2, U+00B3) in UTF-8.
  return Number == "\xC2\xB9" || Number == "\xC2\xB2" || Number == "\xC2\xB3";
}
