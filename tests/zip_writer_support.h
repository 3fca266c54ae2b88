// Helpers shared by the archive writer's tests: an independent parser of
// the archives the writer produces, and raw Deflate decoding through zlib.
// Scratch folders and whole files come from the test-support kit.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fs/path_text.h"
#include "tests/test_support.h"
#include "tests/zip_bytes.h"

namespace qbtest {

// Decodes a raw Deflate stream; fails the test on a decoder error.
inline Bytes RawInflate(const unsigned char* Data, size_t Size, size_t Expected) {
  const std::optional<Bytes> Out = Inflated(Data, Size, Expected + 1);
  EXPECT_TRUE(Out) << "no whole raw Deflate stream";
  return Out.value_or(Bytes());
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
  TParsedArchive R;
  EXPECT_GE(A.size(), 22u);
  if (A.size() < 22) return R;
  size_t End = A.size() - 22;
  EXPECT_EQ(Le32(A, End), 0x06054B50u);
  EXPECT_EQ(Le16(A, End + 4), 0);
  EXPECT_EQ(Le16(A, End + 6), 0);
  R.EntriesThisDisk = Le16(A, End + 8);
  R.TotalEntries = Le16(A, End + 10);
  R.CentralSize = Le32(A, End + 12);
  R.CentralOffset = Le32(A, End + 16);
  EXPECT_EQ(Le16(A, End + 20), 0);
  EXPECT_EQ(static_cast<size_t>(R.CentralOffset) + R.CentralSize, End);
  size_t P = R.CentralOffset;
  for (int I = 0; I < R.EntriesThisDisk; ++I) {
    TParsedEntry E;
    EXPECT_EQ(Le32(A, P), 0x02014B50u);
    E.CentralHeader.assign(A.begin() + static_cast<long>(P), A.begin() + static_cast<long>(P + 46));
    uint16_t N = Le16(A, P + 28), M = Le16(A, P + 30), K = Le16(A, P + 32);
    E.Name.assign(A.begin() + static_cast<long>(P + 46), A.begin() + static_cast<long>(P + 46 + N));
    E.LocalOffset = Le32(A, P + 42);
    P += 46 + N + M + K;

    size_t L = E.LocalOffset;
    EXPECT_EQ(Le32(A, L), 0x04034B50u);
    E.LocalHeader.assign(A.begin() + static_cast<long>(L), A.begin() + static_cast<long>(L + 30));
    E.Method = Le16(A, L + 8);
    E.Crc = Le32(A, L + 14);
    E.Compressed = Le32(A, L + 18);
    E.Uncompressed = Le32(A, L + 22);
    uint16_t Ln = Le16(A, L + 26), Lm = Le16(A, L + 28);
    EXPECT_EQ(std::string(A.begin() + static_cast<long>(L + 30), A.begin() + static_cast<long>(L + 30 + Ln)), E.Name);
    size_t Data = L + 30 + Ln + Lm;
    EXPECT_LE(Data + E.Compressed, A.size());
    if (Data + E.Compressed > A.size()) return R;
    if (E.Method == 0) {
      E.Data.assign(A.begin() + static_cast<long>(Data), A.begin() + static_cast<long>(Data + E.Compressed));
    } else {
      EXPECT_EQ(E.Method, 8);
      E.Data = RawInflate(A.data() + Data, E.Compressed, E.Uncompressed);
    }
    R.Entries.push_back(std::move(E));
  }
  EXPECT_EQ(P, End);
  return R;
}

inline TParsedArchive ParseArchive(const std::string& A) { return ParseArchive(B(A)); }

}  // namespace qbtest
