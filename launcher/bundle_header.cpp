#include "launcher/bundle_header.h"

#include <cstring>

bool ReadBundleHeader(const unsigned char* Header, size_t Available, TEmbeddedBundle& Bundle) {
  if (Header == nullptr || Available < BundleHeaderSize) return false;
  if (std::memcmp(Header, BundleMagic, sizeof BundleMagic) != 0) return false;
  uint64_t Length = 0;
  for (int I = 7; I >= 0; --I) Length = (Length << 8) | Header[16 + I];
  for (int I = 24; I < 32; ++I)
    if (Header[I] != 0) return false;
  if (Length > Available - BundleHeaderSize) return false;
  Bundle.Data = Header + BundleHeaderSize;
  Bundle.Length = static_cast<size_t>(Length);
  return true;
}

void WriteBundleHeader(uint64_t Length, unsigned char* Out) {
  std::memcpy(Out, BundleMagic, sizeof BundleMagic);
  for (int I = 0; I < 8; ++I) Out[16 + I] = static_cast<unsigned char>(Length >> (8 * I));
  std::memset(Out + 24, 0, 8);
}
