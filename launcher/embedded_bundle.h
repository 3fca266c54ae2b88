// The bundle archive that this executable carries (bundle_layout/bundle_header.h).
// The bytes are placed by an assembler .incbin (launcher/embedded_bundle_*.S.in,
// configured per executable by qb_embed_bundle in cmake/QuintabelBundle.cmake)
// or, on Windows, by quintabel-pack, which replaces the whole section.
#pragma once

#include "bundle_layout/bundle_header.h"

// True, with the archive in Bundle, when the executable carries a bundle
// behind a valid header. POSIX finds it by its symbol; Windows by the
// ".qbundle" section of its own image, wherever a packer has put it.
bool FindEmbeddedBundle(TEmbeddedBundle& Bundle);
