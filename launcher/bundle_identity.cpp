#include "launcher/bundle_identity.h"

#include <cstdint>
#include <cstdio>

#include "bundle_layout/bundle_files.h"
#include "fs/memory_stream.h"
#include "launcher/resource_list.h"
#include "runtime/exceptions.h"
#include "zip/zip_format.h"

std::string BundleIdentity(const void* Data, size_t Size) {
  const uint8_t* Bytes = static_cast<const uint8_t*>(Data);
  size_t Start = 0;
  if (Size >= static_cast<size_t>(EndOfCentralDirSize)) {
    TMemoryStream Tail;
    Tail.WriteBuffer(Bytes + Size - EndOfCentralDirSize, EndOfCentralDirSize);
    Tail.SetPosition(0);
    TEndOfCentralDir End;
    ReadEndOfCentralDir(Tail, End);
    if (End.Signature == EndOfCentralDirSignature && End.CentralDirOffset <= Size - EndOfCentralDirSize)
      Start = End.CentralDirOffset;
  }
  const uint32_t Crc = ~UpdateCrc32(0xFFFFFFFFu, Bytes + Start, Size - Start);
  char Text[48];
  std::snprintf(Text, sizeof Text, "%zu-%08x", Size, static_cast<unsigned>(Crc));
  return Text;
}

std::string EmbeddedBundleIdentity() {
  const TLResource* Bundle = Resources().Find(BundleResourceName);
  if (Bundle == nullptr) throw EResNotFound(FormatText("Resource \"%s\" not found", BundleResourceName));
  return BundleIdentity(Bundle->Value, Bundle->Length);
}
