// Helpers for the archive reader's tests: raw Deflate through zlib and a
// byte-level archive builder. Scratch folders and whole files come from the
// test-support kit.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "fs/file_services.h"
#include "fs/memory_stream.h"
#include "fs/path_text.h"
#include "tests/test_support.h"
#include "zip/zip_format.h"

namespace zipr {

using qbtest::ReadFile;
using qbtest::TScratchFolder;
using qbtest::WriteFile;

using Bytes = std::vector<unsigned char>;

inline Bytes B(const std::string& S) { return Bytes(S.begin(), S.end()); }

inline Bytes RandomBytes(size_t Count, uint32_t Seed) {
  std::mt19937 gen(Seed);
  Bytes b(Count);
  for (auto& c : b) c = static_cast<unsigned char>(gen());
  return b;
}

inline Bytes TextBytes(size_t Count) {
  std::string s;
  for (size_t i = 0; s.size() < Count; ++i) s += "line " + std::to_string(i * 7 % 1000) + " of text\n";
  s.resize(Count);
  return B(s);
}

inline Bytes RawDeflate(const Bytes& In) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, static_cast<uLong>(In.size())) + 16);
  z.next_in = const_cast<Bytef*>(In.data());
  z.avail_in = static_cast<uInt>(In.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline uint32_t Crc(const Bytes& Data) {
  return static_cast<uint32_t>(crc32(0, Data.data(), static_cast<uInt>(Data.size())));
}

// One entry as it is to be laid out in a test archive.
struct TEntrySpec {
  TEntrySpec(std::string Name, Bytes Data = {}, uint16_t Method = 0)
      : Name(std::move(Name)), Data(std::move(Data)), Method(Method) {}
  std::string Name;            // bytes as stored
  Bytes Data;                  // uncompressed
  uint16_t Method = 0;         // 0: stored; 8: deflated; anything else: Data stored as is
  uint16_t Flags = 0;
  uint16_t ModDate = 0x3CCF;   // 2010-06-15
  uint16_t ModTime = 0x6DEF;   // 13:47:30
  bool WrongCrc = false;
  bool DataDescriptor = false; // sizes and CRC 0 in the local header, a descriptor after the data
  uint16_t VersionMadeBy = 10;
  uint32_t ExternalAttributes = 0x20;
  Bytes LocalExtra, CentralExtra, Comment;
  std::string CentralName;     // when set, the central record carries this name instead
  std::optional<Bytes> Payload;          // when set, the entry's data as stored, instead of Data's
  std::optional<uint32_t> DeclaredSize;  // when set, the uncompressed size in both records
};

// An archive laid out byte by byte with the record writers.
inline Bytes BuildArchive(const std::vector<TEntrySpec>& Entries, const Bytes& ArchiveComment = {}) {
  TMemoryStream s;
  std::vector<TCentralFileHeader> central;
  for (const TEntrySpec& e : Entries) {
    const Bytes payload = e.Payload ? *e.Payload : e.Method == 8 ? RawDeflate(e.Data) : e.Data;
    const uint32_t declared = e.DeclaredSize ? *e.DeclaredSize : static_cast<uint32_t>(e.Data.size());
    TLocalFileHeader h{};
    h.Signature = LocalFileHeaderSignature;
    h.VersionNeeded = e.Method == 8 ? 20 : 10;
    h.Flags = static_cast<uint16_t>(e.Flags | (e.DataDescriptor ? zfDataDescriptor : 0));
    h.Method = e.Method;
    h.ModTime = e.ModTime;
    h.ModDate = e.ModDate;
    const uint32_t crc = Crc(e.Data) ^ (e.WrongCrc ? 0x5A5A5A5Au : 0u);
    h.Crc32 = e.DataDescriptor ? 0 : crc;
    h.CompressedSize = e.DataDescriptor ? 0 : static_cast<uint32_t>(payload.size());
    h.UncompressedSize = e.DataDescriptor ? 0 : declared;
    h.NameLength = static_cast<uint16_t>(e.Name.size());
    h.ExtraLength = static_cast<uint16_t>(e.LocalExtra.size());
    const uint32_t offset = static_cast<uint32_t>(s.Position());
    WriteLocalHeader(s, h);
    s.WriteBuffer(e.Name.data(), static_cast<int32_t>(e.Name.size()));
    if (!e.LocalExtra.empty()) s.WriteBuffer(e.LocalExtra.data(), static_cast<int32_t>(e.LocalExtra.size()));
    if (!payload.empty()) s.WriteBuffer(payload.data(), static_cast<int32_t>(payload.size()));
    if (e.DataDescriptor) {
      const uint32_t d[4] = {0x08074B50u, crc, static_cast<uint32_t>(payload.size()), declared};
      for (uint32_t v : d) {
        const unsigned char le[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                     static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
        s.WriteBuffer(le, 4);
      }
    }
    TCentralFileHeader c{};
    c.Signature = CentralFileHeaderSignature;
    c.VersionMadeBy = e.VersionMadeBy;
    c.VersionNeeded = h.VersionNeeded;
    c.Flags = h.Flags;
    c.Method = h.Method;
    c.ModTime = h.ModTime;
    c.ModDate = h.ModDate;
    c.Crc32 = crc;
    c.CompressedSize = static_cast<uint32_t>(payload.size());
    c.UncompressedSize = declared;
    c.ExtraLength = static_cast<uint16_t>(e.CentralExtra.size());
    c.CommentLength = static_cast<uint16_t>(e.Comment.size());
    c.ExternalAttributes = e.ExternalAttributes;
    c.LocalHeaderOffset = offset;
    central.push_back(c);
  }
  const uint32_t dirStart = static_cast<uint32_t>(s.Position());
  for (size_t i = 0; i < Entries.size(); ++i) {
    const TEntrySpec& e = Entries[i];
    const std::string& name = e.CentralName.empty() ? e.Name : e.CentralName;
    central[i].NameLength = static_cast<uint16_t>(name.size());
    WriteCentralHeader(s, central[i]);
    s.WriteBuffer(name.data(), static_cast<int32_t>(name.size()));
    if (!e.CentralExtra.empty()) s.WriteBuffer(e.CentralExtra.data(), static_cast<int32_t>(e.CentralExtra.size()));
    if (!e.Comment.empty()) s.WriteBuffer(e.Comment.data(), static_cast<int32_t>(e.Comment.size()));
  }
  TEndOfCentralDir end{};
  end.Signature = EndOfCentralDirSignature;
  end.EntriesThisDisk = end.TotalEntries = static_cast<uint16_t>(Entries.size());
  end.CentralDirSize = static_cast<uint32_t>(s.Position()) - dirStart;
  end.CentralDirOffset = dirStart;
  end.CommentLength = static_cast<uint16_t>(ArchiveComment.size());
  WriteEndOfCentralDir(s, end);
  if (!ArchiveComment.empty()) s.WriteBuffer(ArchiveComment.data(), static_cast<int32_t>(ArchiveComment.size()));
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

// Names of the entries directly in Folder (which ends with a separator),
// sorted; folders get a trailing "/".
inline std::vector<std::string> ListFolder(const std::string& Folder) {
  std::vector<std::string> names;
  TSearchRecord r;
  if (FindFirstEntry(Folder + "*.*", faAnyFile, r) == 0) {
    do {
      if (r.Name == "." || r.Name == "..") continue;
      names.push_back(r.Name + ((r.Attributes & faDirectory) ? "/" : ""));
    } while (FindNextEntry(r) == 0);
  }
  FindEnd(r);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace zipr
