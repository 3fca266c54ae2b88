// Helpers for the archive reader's tests: a byte-level archive builder and
// a folder listing. Scratch folders and whole files come from the
// test-support kit.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fs/file_services.h"
#include "fs/memory_stream.h"
#include "fs/path_text.h"
#include "tests/test_support.h"
#include "tests/zip_bytes.h"
#include "zip/zip_format.h"

namespace qbtest {

// One entry as it is to be laid out in a test archive.
struct TEntrySpec {
  TEntrySpec(std::string Name, Bytes Data = {}, uint16_t Method = 0)
      : Name(std::move(Name)), Data(std::move(Data)), Method(Method) {}
  std::string Name;     // bytes as stored
  Bytes Data;           // uncompressed
  uint16_t Method = 0;  // 0: stored; 8: deflated; anything else: Data stored as is
  uint16_t Flags = 0;
  uint16_t ModDate = 0x3CCF;  // 2010-06-15
  uint16_t ModTime = 0x6DEF;  // 13:47:30
  bool WrongCrc = false;
  bool DataDescriptor = false;  // sizes and CRC 0 in the local header, a descriptor after the data
  uint16_t VersionMadeBy = 10;
  uint32_t ExternalAttributes = 0x20;
  Bytes LocalExtra, CentralExtra, Comment;
  std::string CentralName;               // when set, the central record carries this name instead
  std::optional<Bytes> Payload;          // when set, the entry's data as stored, instead of Data's
  std::optional<uint32_t> DeclaredSize;  // when set, the uncompressed size in both records
};

// An archive laid out byte by byte with the record writers.
inline Bytes BuildArchive(const std::vector<TEntrySpec>& Entries, const Bytes& ArchiveComment = {}) {
  TMemoryStream S;
  std::vector<TCentralFileHeader> Central;
  for (const TEntrySpec& E : Entries) {
    const Bytes Payload = E.Payload ? *E.Payload : E.Method == 8 ? RawDeflate(E.Data) : E.Data;
    const uint32_t Declared = E.DeclaredSize ? *E.DeclaredSize : static_cast<uint32_t>(E.Data.size());
    TLocalFileHeader H{};
    H.Signature = LocalFileHeaderSignature;
    H.VersionNeeded = E.Method == 8 ? 20 : 10;
    H.Flags = static_cast<uint16_t>(E.Flags | (E.DataDescriptor ? zfDataDescriptor : 0));
    H.Method = E.Method;
    H.ModTime = E.ModTime;
    H.ModDate = E.ModDate;
    const uint32_t EntryCrc = ZlibCrc(E.Data) ^ (E.WrongCrc ? 0x5A5A5A5Au : 0u);
    H.Crc32 = E.DataDescriptor ? 0 : EntryCrc;
    H.CompressedSize = E.DataDescriptor ? 0 : static_cast<uint32_t>(Payload.size());
    H.UncompressedSize = E.DataDescriptor ? 0 : Declared;
    H.NameLength = static_cast<uint16_t>(E.Name.size());
    H.ExtraLength = static_cast<uint16_t>(E.LocalExtra.size());
    const uint32_t Offset = static_cast<uint32_t>(S.Position());
    WriteLocalHeader(S, H);
    S.WriteBuffer(E.Name.data(), static_cast<int32_t>(E.Name.size()));
    if (!E.LocalExtra.empty()) S.WriteBuffer(E.LocalExtra.data(), static_cast<int32_t>(E.LocalExtra.size()));
    if (!Payload.empty()) S.WriteBuffer(Payload.data(), static_cast<int32_t>(Payload.size()));
    if (E.DataDescriptor) {
      uint8_t Descriptor[16];
      PutLe32(Descriptor, 0x08074B50u);
      PutLe32(Descriptor + 4, EntryCrc);
      PutLe32(Descriptor + 8, static_cast<uint32_t>(Payload.size()));
      PutLe32(Descriptor + 12, Declared);
      S.WriteBuffer(Descriptor, sizeof Descriptor);
    }
    TCentralFileHeader C{};
    C.Signature = CentralFileHeaderSignature;
    C.VersionMadeBy = E.VersionMadeBy;
    C.VersionNeeded = H.VersionNeeded;
    C.Flags = H.Flags;
    C.Method = H.Method;
    C.ModTime = H.ModTime;
    C.ModDate = H.ModDate;
    C.Crc32 = EntryCrc;
    C.CompressedSize = static_cast<uint32_t>(Payload.size());
    C.UncompressedSize = Declared;
    C.ExtraLength = static_cast<uint16_t>(E.CentralExtra.size());
    C.CommentLength = static_cast<uint16_t>(E.Comment.size());
    C.ExternalAttributes = E.ExternalAttributes;
    C.LocalHeaderOffset = Offset;
    Central.push_back(C);
  }
  const uint32_t DirStart = static_cast<uint32_t>(S.Position());
  for (size_t I = 0; I < Entries.size(); ++I) {
    const TEntrySpec& E = Entries[I];
    const std::string& Name = E.CentralName.empty() ? E.Name : E.CentralName;
    Central[I].NameLength = static_cast<uint16_t>(Name.size());
    WriteCentralHeader(S, Central[I]);
    S.WriteBuffer(Name.data(), static_cast<int32_t>(Name.size()));
    if (!E.CentralExtra.empty()) S.WriteBuffer(E.CentralExtra.data(), static_cast<int32_t>(E.CentralExtra.size()));
    if (!E.Comment.empty()) S.WriteBuffer(E.Comment.data(), static_cast<int32_t>(E.Comment.size()));
  }
  TEndOfCentralDir End{};
  End.Signature = EndOfCentralDirSignature;
  End.EntriesThisDisk = End.TotalEntries = static_cast<uint16_t>(Entries.size());
  End.CentralDirSize = static_cast<uint32_t>(S.Position()) - DirStart;
  End.CentralDirOffset = DirStart;
  End.CommentLength = static_cast<uint16_t>(ArchiveComment.size());
  WriteEndOfCentralDir(S, End);
  if (!ArchiveComment.empty()) S.WriteBuffer(ArchiveComment.data(), static_cast<int32_t>(ArchiveComment.size()));
  return Bytes(S.Memory(), S.Memory() + S.Size());
}

// Names of the entries directly in Folder (which ends with a separator),
// sorted; folders get a trailing "/".
inline std::vector<std::string> ListFolder(const std::string& Folder) {
  std::vector<std::string> Names;
  TSearchRecord R;
  if (FindFirstEntry(Folder + "*.*", faAnyFile, R) == 0) {
    do {
      if (R.Name == "." || R.Name == "..") continue;
      Names.push_back(R.Name + ((R.Attributes & faDirectory) ? "/" : ""));
    } while (FindNextEntry(R) == 0);
  }
  FindEnd(R);
  std::sort(Names.begin(), Names.end());
  return Names;
}

}  // namespace qbtest
