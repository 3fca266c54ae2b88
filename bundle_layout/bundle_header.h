// The header in front of the bundle archive inside an executable. A launcher
// carries its bundle as constant data behind this header; on Windows the
// header and the archive fill a section of their own, ".qbundle", the last
// one loaded, so that quintabel-pack can put another archive in its place
// without moving anything the code refers to.
//
//   offset  size  content
//        0    16  "QUINTABEL BUNDLE"
//       16     8  length of the archive in bytes, little-endian
//       24     8  zero (reserved)
//       32     n  the archive
#pragma once

#include <cstddef>
#include <cstdint>

constexpr char BundleMagic[16] = {'Q', 'U', 'I', 'N', 'T', 'A', 'B', 'E', 'L', ' ', 'B', 'U', 'N', 'D', 'L', 'E'};
constexpr size_t BundleHeaderSize = 32;
// The section name in a PE section header: eight bytes, no terminating zero.
constexpr char BundleSectionName[8] = {'.', 'q', 'b', 'u', 'n', 'd', 'l', 'e'};

struct TEmbeddedBundle {
  const unsigned char* Data = nullptr;
  size_t Length = 0;
};

// Reads the header at Header, which has Available bytes of room for the
// header and the archive. True, with the archive in Bundle, when the magic
// matches, the reserved bytes are zero and the archive fits in the room.
bool ReadBundleHeader(const unsigned char* Header, size_t Available, TEmbeddedBundle& Bundle);

// Writes the header for an archive of Length bytes into Out (32 bytes).
void WriteBundleHeader(uint64_t Length, unsigned char* Out);
