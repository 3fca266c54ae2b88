#include "zip/utf8_text.h"

namespace {

// Decodes the UTF-8 sequence that begins at Text[At] into CodePoint; gives
// its length in bytes, or 0 when the bytes there are no well-formed UTF-8
// (a stray continuation byte, C0/C1 or F5..FF, a sequence cut short, an
// overlong form, a surrogate or a value above U+10FFFF).
size_t DecodeUtf8(const std::string& Text, size_t At, uint32_t& CodePoint) {
  const unsigned char Lead = static_cast<unsigned char>(Text[At]);
  if (Lead < 0x80) {
    CodePoint = Lead;
    return 1;
  }
  size_t Length;
  uint32_t Value;
  uint32_t Minimum;
  if (Lead >= 0xC2 && Lead <= 0xDF) {
    Length = 2;
    Value = Lead & 0x1F;
    Minimum = 0x80;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Length = 3;
    Value = Lead & 0x0F;
    Minimum = 0x800;
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Length = 4;
    Value = Lead & 0x07;
    Minimum = 0x10000;
  } else {
    return 0;
  }
  if (Text.size() - At < Length) return 0;
  for (size_t K = 1; K < Length; ++K) {
    const unsigned char Next = static_cast<unsigned char>(Text[At + K]);
    if ((Next & 0xC0) != 0x80) return 0;
    Value = (Value << 6) | (Next & 0x3F);
  }
  if (Value < Minimum || Value > 0x10FFFF || (Value >= 0xD800 && Value <= 0xDFFF)) return 0;
  CodePoint = Value;
  return Length;
}

}  // namespace

bool IsValidUtf8(const std::string& Bytes) {
  uint32_t CodePoint = 0;
  for (size_t At = 0; At < Bytes.size();) {
    const size_t Length = DecodeUtf8(Bytes, At, CodePoint);
    if (Length == 0) return false;
    At += Length;
  }
  return true;
}

void AppendUtf8(std::string& Out, uint32_t CodePoint) {
  if (CodePoint < 0x80) {
    Out += static_cast<char>(CodePoint);
  } else if (CodePoint < 0x800) {
    Out += static_cast<char>(0xC0 | (CodePoint >> 6));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else if (CodePoint < 0x10000) {
    Out += static_cast<char>(0xE0 | (CodePoint >> 12));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (CodePoint >> 18));
    Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  }
}

std::u16string Utf8ToUtf16(const std::string& Text) {
  std::u16string Out;
  for (size_t At = 0; At < Text.size();) {
    uint32_t CodePoint = 0;
    size_t Length = DecodeUtf8(Text, At, CodePoint);
    if (Length == 0) {
      CodePoint = 0xFFFD;
      Length = 1;
    }
    if (CodePoint >= 0x10000) {
      CodePoint -= 0x10000;
      Out += static_cast<char16_t>(0xD800 + (CodePoint >> 10));
      Out += static_cast<char16_t>(0xDC00 + (CodePoint & 0x3FF));
    } else {
      Out += static_cast<char16_t>(CodePoint);
    }
    At += Length;
  }
  return Out;
}
