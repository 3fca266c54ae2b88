// Byte strings for the archive tests, shared by the reader's and the
// writer's test support: made-up content, zlib's CRC-32 and raw Deflate,
// memory streams and little-endian fields.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "fs/memory_stream.h"
#include "zip/little_endian.h"

namespace qbtest {

using Bytes = std::vector<unsigned char>;

inline Bytes B(const std::string& S) { return Bytes(S.begin(), S.end()); }

// Count bytes that do not compress, the same for the same Seed.
inline Bytes RandomBytes(size_t Count, uint32_t Seed) {
  std::mt19937 Gen(Seed);
  Bytes Out(Count);
  for (auto& C : Out) C = static_cast<unsigned char>(Gen());
  return Out;
}

// Count bytes of text that compresses well: numbered lines of words.
inline Bytes TextBytes(size_t Count) {
  static const char* Words[] = {"lexeme ", "gloss ", "plural ", "noun ", "verb ", "stem ", "root ", "entry "};
  std::string S;
  for (size_t I = 0; S.size() < Count; ++I) {
    S += std::to_string(I) + ": " + Words[I % 8] + Words[(I * 7) % 8] + Words[(I / 8) % 8] + "\n";
  }
  S.resize(Count);
  return B(S);
}

// The CRC-32 of Data as zlib computes it, to check ours against.
inline uint32_t ZlibCrc(const Bytes& Data) {
  return static_cast<uint32_t>(crc32(0L, Data.data(), static_cast<uInt>(Data.size())));
}

// In as a raw Deflate stream, through zlib.
inline Bytes RawDeflate(const Bytes& In) {
  z_stream Z;
  std::memset(&Z, 0, sizeof Z);
  deflateInit2(&Z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes Out(deflateBound(&Z, static_cast<uLong>(In.size())) + 16);
  Z.next_in = const_cast<Bytef*>(In.data());
  Z.avail_in = static_cast<uInt>(In.size());
  Z.next_out = Out.data();
  Z.avail_out = static_cast<uInt>(Out.size());
  deflate(&Z, Z_FINISH);
  Out.resize(Z.total_out);
  deflateEnd(&Z);
  return Out;
}

// What the raw Deflate stream Data decodes to through zlib, at most Limit
// bytes; nothing when it is not a whole valid stream.
inline std::optional<Bytes> Inflated(const unsigned char* Data, size_t Size, size_t Limit) {
  z_stream Z;
  std::memset(&Z, 0, sizeof Z);
  inflateInit2(&Z, -15);
  Bytes Out(Limit);
  Z.next_in = const_cast<Bytef*>(Data);
  Z.avail_in = static_cast<uInt>(Size);
  Z.next_out = Out.data();
  Z.avail_out = static_cast<uInt>(Out.size());
  const int Rc = inflate(&Z, Z_FINISH);
  Out.resize(Z.total_out);
  inflateEnd(&Z);
  if (Rc != Z_STREAM_END) return std::nullopt;
  return Out;
}

// Makes Data the whole content of S, read from its start; gives S.
inline TMemoryStream* Fill(TMemoryStream& S, const Bytes& Data) {
  S.Clear();
  if (!Data.empty()) S.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
  S.SetPosition(0);
  return &S;
}

// A memory stream that holds Data, read from its start.
inline TMemoryStream StreamOf(const Bytes& Data) {
  TMemoryStream S;
  Fill(S, Data);
  return S;
}

// The whole content of S.
inline Bytes Contents(TMemoryStream& S) { return Bytes(S.Memory(), S.Memory() + S.Size()); }

// The little-endian number at offset At of Data; std::out_of_range when it
// runs past the end.
inline uint16_t Le16(const Bytes& Data, size_t At) { return GetLe16(&Data.at(At + 1) - 1); }
inline uint32_t Le32(const Bytes& Data, size_t At) { return GetLe32(&Data.at(At + 3) - 3); }

}  // namespace qbtest
