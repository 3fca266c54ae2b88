// Little-endian numbers in memory: the byte order of the archive format and
// of Windows images, independent of the host's order.
#pragma once

#include <cstdint>

inline uint16_t GetLe16(const uint8_t* P) { return static_cast<uint16_t>(P[0] | (P[1] << 8)); }

inline uint32_t GetLe32(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) | (static_cast<uint32_t>(P[2]) << 16) |
         (static_cast<uint32_t>(P[3]) << 24);
}

inline uint64_t GetLe64(const uint8_t* P) { return GetLe32(P) | (static_cast<uint64_t>(GetLe32(P + 4)) << 32); }

inline void PutLe16(uint8_t* P, uint16_t V) {
  P[0] = static_cast<uint8_t>(V);
  P[1] = static_cast<uint8_t>(V >> 8);
}

inline void PutLe32(uint8_t* P, uint32_t V) {
  for (int I = 0; I < 4; ++I) P[I] = static_cast<uint8_t>(V >> (8 * I));
}

inline void PutLe64(uint8_t* P, uint64_t V) {
  PutLe32(P, static_cast<uint32_t>(V));
  PutLe32(P + 4, static_cast<uint32_t>(V >> 32));
}
