#include "pack/pe_bytes.h"

namespace {

void Check(const TBytes& Bytes, size_t Offset, size_t Count) {
  if (Offset > Bytes.size() || Count > Bytes.size() - Offset)
    throw EPackError(FormatText("a structure at offset %d runs past the end of the data (%d bytes)",
                                static_cast<int64_t>(Offset), static_cast<int64_t>(Bytes.size())));
}

}  // namespace

uint16_t Get16(const TBytes& Bytes, size_t Offset) {
  Check(Bytes, Offset, 2);
  return static_cast<uint16_t>(Bytes[Offset] | (Bytes[Offset + 1] << 8));
}

uint32_t Get32(const TBytes& Bytes, size_t Offset) {
  Check(Bytes, Offset, 4);
  return static_cast<uint32_t>(Bytes[Offset]) | (static_cast<uint32_t>(Bytes[Offset + 1]) << 8) |
         (static_cast<uint32_t>(Bytes[Offset + 2]) << 16) | (static_cast<uint32_t>(Bytes[Offset + 3]) << 24);
}

void Put16(TBytes& Bytes, size_t Offset, uint16_t Value) {
  Check(Bytes, Offset, 2);
  Bytes[Offset] = static_cast<uint8_t>(Value);
  Bytes[Offset + 1] = static_cast<uint8_t>(Value >> 8);
}

void Put32(TBytes& Bytes, size_t Offset, uint32_t Value) {
  Check(Bytes, Offset, 4);
  for (int i = 0; i < 4; ++i) Bytes[Offset + i] = static_cast<uint8_t>(Value >> (8 * i));
}

void Append16(TBytes& Bytes, uint16_t Value) {
  Bytes.push_back(static_cast<uint8_t>(Value));
  Bytes.push_back(static_cast<uint8_t>(Value >> 8));
}

void Append32(TBytes& Bytes, uint32_t Value) {
  for (int i = 0; i < 4; ++i) Bytes.push_back(static_cast<uint8_t>(Value >> (8 * i)));
}

void PadTo(TBytes& Bytes, size_t Alignment) {
  while (Bytes.size() % Alignment != 0) Bytes.push_back(0);
}

uint64_t AlignUp(uint64_t Value, uint64_t Alignment) {
  return Alignment == 0 ? Value : (Value + Alignment - 1) / Alignment * Alignment;
}

std::u16string Utf8ToUtf16(const std::string& Text) {
  std::u16string out;
  size_t i = 0;
  while (i < Text.size()) {
    const unsigned char c = static_cast<unsigned char>(Text[i]);
    uint32_t point = 0xFFFD;
    size_t length = 1;
    if (c < 0x80) {
      point = c;
    } else {
      const int extra = (c >= 0xF0 && c < 0xF5) ? 3 : (c >= 0xE0 && c < 0xF0) ? 2 : (c >= 0xC2 && c < 0xE0) ? 1 : 0;
      if (extra > 0 && i + extra < Text.size()) {
        uint32_t value = c & (0x3F >> extra);
        bool valid = true;
        for (int k = 1; valid && k <= extra; ++k) {
          const unsigned char next = static_cast<unsigned char>(Text[i + k]);
          if ((next & 0xC0) != 0x80) valid = false;
          value = (value << 6) | (next & 0x3F);
        }
        const uint32_t minimum = extra == 1 ? 0x80 : extra == 2 ? 0x800 : 0x10000;
        if (valid && value >= minimum && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF)) {
          point = value;
          length = 1 + extra;
        }
      }
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (point >> 10));
      out += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
    } else {
      out += static_cast<char16_t>(point);
    }
    i += length;
  }
  return out;
}

std::string Utf16ToUtf8(const std::u16string& Text) {
  std::string out;
  for (size_t i = 0; i < Text.size(); ++i) {
    uint32_t point = Text[i];
    if (point >= 0xD800 && point < 0xDC00 && i + 1 < Text.size() && Text[i + 1] >= 0xDC00 && Text[i + 1] < 0xE000) {
      point = 0x10000 + ((point - 0xD800) << 10) + (Text[i + 1] - 0xDC00);
      ++i;
    } else if (point >= 0xD800 && point < 0xE000) {
      point = 0xFFFD;
    }
    if (point < 0x80) {
      out += static_cast<char>(point);
    } else if (point < 0x800) {
      out += static_cast<char>(0xC0 | (point >> 6));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      out += static_cast<char>(0xE0 | (point >> 12));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (point >> 18));
      out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return out;
}
