#include "bundle_layout/bundle_header.h"

#include <cstring>

#include "zip/little_endian.h"

bool ReadBundleHeader(const unsigned char* Header, size_t Available, TEmbeddedBundle& Bundle) {
  if (Header == nullptr || Available < BundleHeaderSize) return false;
  if (std::memcmp(Header, BundleMagic, sizeof BundleMagic) != 0) return false;
  const uint64_t Length = GetLe64(Header + 16);
  for (int I = 24; I < 32; ++I)
    if (Header[I] != 0) return false;
  if (Length > Available - BundleHeaderSize) return false;
  Bundle.Data = Header + BundleHeaderSize;
  Bundle.Length = static_cast<size_t>(Length);
  return true;
}

void WriteBundleHeader(uint64_t Length, unsigned char* Out) {
  std::memcpy(Out, BundleMagic, sizeof BundleMagic);
  PutLe64(Out + 16, Length);
  std::memset(Out + 24, 0, 8);
}
