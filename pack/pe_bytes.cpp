#include "pack/pe_bytes.h"

#include "zip/little_endian.h"

namespace {

void Check(const TBytes& Bytes, size_t Offset, size_t Count) {
  if (Offset > Bytes.size() || Count > Bytes.size() - Offset)
    throw EPackError(FormatText("a structure at offset %d runs past the end of the data (%d bytes)",
                                static_cast<int64_t>(Offset), static_cast<int64_t>(Bytes.size())));
}

}  // namespace

uint16_t Get16(const TBytes& Bytes, size_t Offset) {
  Check(Bytes, Offset, 2);
  return GetLe16(&Bytes[Offset]);
}

uint32_t Get32(const TBytes& Bytes, size_t Offset) {
  Check(Bytes, Offset, 4);
  return GetLe32(&Bytes[Offset]);
}

void Put16(TBytes& Bytes, size_t Offset, uint16_t Value) {
  Check(Bytes, Offset, 2);
  PutLe16(&Bytes[Offset], Value);
}

void Put32(TBytes& Bytes, size_t Offset, uint32_t Value) {
  Check(Bytes, Offset, 4);
  PutLe32(&Bytes[Offset], Value);
}

void Append16(TBytes& Bytes, uint16_t Value) {
  Bytes.resize(Bytes.size() + 2);
  PutLe16(&Bytes[Bytes.size() - 2], Value);
}

void Append32(TBytes& Bytes, uint32_t Value) {
  Bytes.resize(Bytes.size() + 4);
  PutLe32(&Bytes[Bytes.size() - 4], Value);
}

void PadTo(TBytes& Bytes, size_t Alignment) {
  while (Bytes.size() % Alignment != 0) Bytes.push_back(0);
}

uint64_t AlignUp(uint64_t Value, uint64_t Alignment) {
  return Alignment == 0 ? Value : (Value + Alignment - 1) / Alignment * Alignment;
}
