#include "launcher/bundle_identity.h"

#include <cstdint>
#include <cstdio>

#include "launcher/resource_list.h"
#include "runtime/exceptions.h"
#include "zip/zip_format.h"

namespace {

uint32_t Read32(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) | (static_cast<uint32_t>(P[2]) << 16) |
         (static_cast<uint32_t>(P[3]) << 24);
}

}  // namespace

std::string BundleIdentity(const void* Data, size_t Size) {
  const uint8_t* Bytes = static_cast<const uint8_t*>(Data);
  size_t Start = 0;
  if (Size >= EndOfCentralDirSize) {
    const uint8_t* End = Bytes + Size - EndOfCentralDirSize;
    const uint32_t Offset = Read32(End + 16);
    if (Read32(End) == EndOfCentralDirSignature && Offset <= Size - EndOfCentralDirSize) Start = Offset;
  }
  const uint32_t Crc = ~UpdateCrc32(0xFFFFFFFFu, Bytes + Start, Size - Start);
  char Text[48];
  std::snprintf(Text, sizeof Text, "%zu-%08x", Size, static_cast<unsigned>(Crc));
  return Text;
}

std::string EmbeddedBundleIdentity() {
  const TLResource* Bundle = Resources().Find("quintabelprincipal");
  if (Bundle == nullptr) throw EResNotFound(FormatText("Resource \"%s\" not found", "quintabelprincipal"));
  return BundleIdentity(Bundle->Value, Bundle->Length);
}
