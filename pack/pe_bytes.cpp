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
  for (int I = 0; I < 4; ++I) Bytes[Offset + I] = static_cast<uint8_t>(Value >> (8 * I));
}

void Append16(TBytes& Bytes, uint16_t Value) {
  Bytes.push_back(static_cast<uint8_t>(Value));
  Bytes.push_back(static_cast<uint8_t>(Value >> 8));
}

void Append32(TBytes& Bytes, uint32_t Value) {
  for (int I = 0; I < 4; ++I) Bytes.push_back(static_cast<uint8_t>(Value >> (8 * I)));
}

void PadTo(TBytes& Bytes, size_t Alignment) {
  while (Bytes.size() % Alignment != 0) Bytes.push_back(0);
}

uint64_t AlignUp(uint64_t Value, uint64_t Alignment) {
  return Alignment == 0 ? Value : (Value + Alignment - 1) / Alignment * Alignment;
}

std::u16string Utf8ToUtf16(const std::string& Text) {
  std::u16string Out;
  size_t I = 0;
  while (I < Text.size()) {
    const unsigned char C = static_cast<unsigned char>(Text[I]);
    uint32_t Point = 0xFFFD;
    size_t Length = 1;
    if (C < 0x80) {
      Point = C;
    } else {
      const int Extra = (C >= 0xF0 && C < 0xF5) ? 3 : (C >= 0xE0 && C < 0xF0) ? 2 : (C >= 0xC2 && C < 0xE0) ? 1 : 0;
      if (Extra > 0 && I + Extra < Text.size()) {
        uint32_t Value = C & (0x3F >> Extra);
        bool Valid = true;
        for (int K = 1; Valid && K <= Extra; ++K) {
          const unsigned char Next = static_cast<unsigned char>(Text[I + K]);
          if ((Next & 0xC0) != 0x80) Valid = false;
          Value = (Value << 6) | (Next & 0x3F);
        }
        const uint32_t Minimum = Extra == 1 ? 0x80 : Extra == 2 ? 0x800 : 0x10000;
        if (Valid && Value >= Minimum && Value <= 0x10FFFF && (Value < 0xD800 || Value > 0xDFFF)) {
          Point = Value;
          Length = 1 + Extra;
        }
      }
    }
    if (Point >= 0x10000) {
      Point -= 0x10000;
      Out += static_cast<char16_t>(0xD800 + (Point >> 10));
      Out += static_cast<char16_t>(0xDC00 + (Point & 0x3FF));
    } else {
      Out += static_cast<char16_t>(Point);
    }
    I += Length;
  }
  return Out;
}

std::string Utf16ToUtf8(const std::u16string& Text) {
  std::string Out;
  for (size_t I = 0; I < Text.size(); ++I) {
    uint32_t Point = Text[I];
    if (Point >= 0xD800 && Point < 0xDC00 && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 && Text[I + 1] < 0xE000) {
      Point = 0x10000 + ((Point - 0xD800) << 10) + (Text[I + 1] - 0xDC00);
      ++I;
    } else if (Point >= 0xD800 && Point < 0xE000) {
      Point = 0xFFFD;
    }
    if (Point < 0x80) {
      Out += static_cast<char>(Point);
    } else if (Point < 0x800) {
      Out += static_cast<char>(0xC0 | (Point >> 6));
      Out += static_cast<char>(0x80 | (Point & 0x3F));
    } else if (Point < 0x10000) {
      Out += static_cast<char>(0xE0 | (Point >> 12));
      Out += static_cast<char>(0x80 | ((Point >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (Point & 0x3F));
    } else {
      Out += static_cast<char>(0xF0 | (Point >> 18));
      Out += static_cast<char>(0x80 | ((Point >> 12) & 0x3F));
      Out += static_cast<char>(0x80 | ((Point >> 6) & 0x3F));
      Out += static_cast<char>(0x80 | (Point & 0x3F));
    }
  }
  return Out;
}
