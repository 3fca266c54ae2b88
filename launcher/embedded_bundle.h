// The bundle archive carried as constant data of the executable. The bytes
// are placed by an assembler .incbin (launcher/embedded_bundle_*.S.in,
// configured per executable by qb_embed_bundle in cmake/QuintabelBundle.cmake)
// between these two symbols, in a read-only section.
#pragma once

#include <cstddef>

extern "C" {
extern const unsigned char qb_bundle_data[];
extern const unsigned char qb_bundle_end[];
}

inline size_t EmbeddedBundleSize() {
  return static_cast<size_t>(qb_bundle_end - qb_bundle_data);
}
