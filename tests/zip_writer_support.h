// Helpers shared by the archive writer's tests: an independent parser of
// the archives the writer produces, and raw Deflate decoding through zlib.
// Scratch folders and whole files come from the test-support kit.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "fs/path_text.h"
#include "tests/test_support.h"

namespace zipw {

using qbtest::ReadFile;
using qbtest::TScratchFolder;
using qbtest::WriteFile;

using Bytes = std::vector<unsigned char>;
namespace stdfs = std::filesystem;

inline Bytes B(const std::string& S) { return Bytes(S.begin(), S.end()); }

inline Bytes RandomBytes(size_t Count, uint32_t Seed) {
  std::mt19937 gen(Seed);
  Bytes b(Count);
  for (auto& c : b) c = static_cast<unsigned char>(gen());
  return b;
}

// Text that compresses well: numbered lines of words.
inline Bytes TextBytes(size_t Count) {
  static const char* words[] = {"lexeme ", "gloss ", "plural ", "noun ", "verb ",
                                "stem ", "root ", "entry "};
  std::string s;
  for (size_t i = 0; s.size() < Count; ++i) {
    s += std::to_string(i) + ": " + words[i % 8] + words[(i * 7) % 8] + words[(i / 8) % 8] + "\n";
  }
  s.resize(Count);
  return Bytes(s.begin(), s.end());
}

inline uint16_t Get16(const Bytes& B, size_t At) {
  return static_cast<uint16_t>(B.at(At) | (B.at(At + 1) << 8));
}
inline uint32_t Get32(const Bytes& B, size_t At) {
  return static_cast<uint32_t>(Get16(B, At)) | (static_cast<uint32_t>(Get16(B, At + 2)) << 16);
}

inline uint32_t ZlibCrc(const Bytes& B) {
  return static_cast<uint32_t>(crc32(0L, B.data(), static_cast<uInt>(B.size())));
}

// Decodes a raw Deflate stream; fails the test on a decoder error.
inline Bytes RawInflate(const unsigned char* Data, size_t Size, size_t Expected) {
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  Bytes out(Expected + 1);
  z.next_in = const_cast<unsigned char*>(Data);
  z.avail_in = static_cast<uInt>(Size);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&z, Z_FINISH);
  EXPECT_EQ(rc, Z_STREAM_END);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// One entry as found in an archive, both records kept.
struct TParsedEntry {
  size_t LocalOffset = 0;
  Bytes LocalHeader;    // the 30 bytes
  Bytes CentralHeader;  // the 46 bytes
  std::string Name;
  uint16_t Method = 0;
  uint32_t Crc = 0, Compressed = 0, Uncompressed = 0;
  Bytes Data;  // the decoded data
};

struct TParsedArchive {
  std::vector<TParsedEntry> Entries;
  uint32_t CentralOffset = 0, CentralSize = 0;
  uint16_t EntriesThisDisk = 0, TotalEntries = 0;
};

// Parses an archive from its end record, checking the layout as it goes.
inline TParsedArchive ParseArchive(const Bytes& A) {
  TParsedArchive r;
  EXPECT_GE(A.size(), 22u);
  if (A.size() < 22) return r;
  size_t end = A.size() - 22;
  EXPECT_EQ(Get32(A, end), 0x06054B50u);
  EXPECT_EQ(Get16(A, end + 4), 0);
  EXPECT_EQ(Get16(A, end + 6), 0);
  r.EntriesThisDisk = Get16(A, end + 8);
  r.TotalEntries = Get16(A, end + 10);
  r.CentralSize = Get32(A, end + 12);
  r.CentralOffset = Get32(A, end + 16);
  EXPECT_EQ(Get16(A, end + 20), 0);
  EXPECT_EQ(static_cast<size_t>(r.CentralOffset) + r.CentralSize, end);
  size_t p = r.CentralOffset;
  for (int i = 0; i < r.EntriesThisDisk; ++i) {
    TParsedEntry e;
    EXPECT_EQ(Get32(A, p), 0x02014B50u);
    e.CentralHeader.assign(A.begin() + static_cast<long>(p), A.begin() + static_cast<long>(p + 46));
    uint16_t n = Get16(A, p + 28), m = Get16(A, p + 30), k = Get16(A, p + 32);
    e.Name.assign(A.begin() + static_cast<long>(p + 46), A.begin() + static_cast<long>(p + 46 + n));
    e.LocalOffset = Get32(A, p + 42);
    p += 46 + n + m + k;

    size_t l = e.LocalOffset;
    EXPECT_EQ(Get32(A, l), 0x04034B50u);
    e.LocalHeader.assign(A.begin() + static_cast<long>(l), A.begin() + static_cast<long>(l + 30));
    e.Method = Get16(A, l + 8);
    e.Crc = Get32(A, l + 14);
    e.Compressed = Get32(A, l + 18);
    e.Uncompressed = Get32(A, l + 22);
    uint16_t ln = Get16(A, l + 26), lm = Get16(A, l + 28);
    EXPECT_EQ(std::string(A.begin() + static_cast<long>(l + 30),
                          A.begin() + static_cast<long>(l + 30 + ln)),
              e.Name);
    size_t data = l + 30 + ln + lm;
    EXPECT_LE(data + e.Compressed, A.size());
    if (data + e.Compressed > A.size()) return r;
    if (e.Method == 0) {
      e.Data.assign(A.begin() + static_cast<long>(data),
                    A.begin() + static_cast<long>(data + e.Compressed));
    } else {
      EXPECT_EQ(e.Method, 8);
      e.Data = RawInflate(A.data() + data, e.Compressed, e.Uncompressed);
    }
    r.Entries.push_back(std::move(e));
  }
  EXPECT_EQ(p, end);
  return r;
}

inline TParsedArchive ParseArchive(const std::string& A) { return ParseArchive(B(A)); }

// The names of the files directly in a folder, sorted.
inline std::vector<std::string> FolderNames(const stdfs::path& Folder) {
  std::vector<std::string> names;
  for (const auto& e : stdfs::directory_iterator(Folder)) names.push_back(e.path().filename().u8string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace zipw
