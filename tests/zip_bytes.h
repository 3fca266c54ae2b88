// Byte strings for the archive tests, shared by the reader's and the
// writer's test support.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace qbzip {

using Bytes = std::vector<unsigned char>;

inline Bytes B(const std::string& S) { return Bytes(S.begin(), S.end()); }

// Count bytes that do not compress, the same for the same Seed.
inline Bytes RandomBytes(size_t Count, uint32_t Seed) {
  std::mt19937 Gen(Seed);
  Bytes Out(Count);
  for (auto& C : Out) C = static_cast<unsigned char>(Gen());
  return Out;
}

}  // namespace qbzip
