// Little-endian reads and writes in a byte vector, bounds-checked: a read or
// write outside the vector raises EPackError with the given context.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/exceptions.h"

// A launcher, bundle or icon that quintabel-pack cannot use; the message
// says what is wrong.
QB_DECLARE_EXCEPTION(EPackError, Exception);

using TBytes = std::vector<uint8_t>;

uint16_t Get16(const TBytes& Bytes, size_t Offset);
uint32_t Get32(const TBytes& Bytes, size_t Offset);
void Put16(TBytes& Bytes, size_t Offset, uint16_t Value);
void Put32(TBytes& Bytes, size_t Offset, uint32_t Value);
// Appends at the end.
void Append16(TBytes& Bytes, uint16_t Value);
void Append32(TBytes& Bytes, uint32_t Value);
// Appends zero bytes until the size is a multiple of Alignment.
void PadTo(TBytes& Bytes, size_t Alignment);
// Value rounded up to a multiple of Alignment (a power of two or not).
uint64_t AlignUp(uint64_t Value, uint64_t Alignment);
