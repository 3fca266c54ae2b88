#include "launcher/embedded_bundle.h"

extern "C" {
extern const unsigned char qb_bundle_header[];
extern const unsigned char qb_bundle_end[];
}

bool FindEmbeddedBundle(TEmbeddedBundle& Bundle) {
  return ReadBundleHeader(qb_bundle_header, static_cast<size_t>(qb_bundle_end - qb_bundle_header), Bundle);
}
