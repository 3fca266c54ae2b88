#include "launcher/embedded_bundle.h"

extern "C" {
extern const unsigned char qb_bundle_header[];  // NOLINT(readability-identifier-naming): defined in assembly
extern const unsigned char qb_bundle_end[];     // NOLINT(readability-identifier-naming): defined in assembly
}

bool FindEmbeddedBundle(TEmbeddedBundle& Bundle) {
  return ReadBundleHeader(qb_bundle_header, static_cast<size_t>(qb_bundle_end - qb_bundle_header), Bundle);
}
