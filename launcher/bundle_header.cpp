#include "launcher/bundle_header.h"

#include <cstring>

bool ReadBundleHeader(const unsigned char* Header, size_t Available, TEmbeddedBundle& Bundle) {
  if (Header == nullptr || Available < BundleHeaderSize) return false;
  if (std::memcmp(Header, BundleMagic, sizeof BundleMagic) != 0) return false;
  uint64_t length = 0;
  for (int i = 7; i >= 0; --i) length = (length << 8) | Header[16 + i];
  for (int i = 24; i < 32; ++i)
    if (Header[i] != 0) return false;
  if (length > Available - BundleHeaderSize) return false;
  Bundle.Data = Header + BundleHeaderSize;
  Bundle.Length = static_cast<size_t>(length);
  return true;
}

void WriteBundleHeader(uint64_t Length, unsigned char* Out) {
  std::memcpy(Out, BundleMagic, sizeof BundleMagic);
  for (int i = 0; i < 8; ++i) Out[16 + i] = static_cast<unsigned char>(Length >> (8 * i));
  std::memset(Out + 24, 0, 8);
}
