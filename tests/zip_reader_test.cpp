// Archive extraction: ExtractArchive, TUnZipper, TInflater and entry-name
// handling, over archives laid out byte by byte in the tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_services.h"
#include "fs/memory_stream.h"
#include "runtime/exceptions.h"
#include "tests/zip_read_support.h"
#include "zip/decompressor.h"
#include "zip/name_decoding.h"
#include "zip/zip_reader.h"

using namespace zipr;

namespace {

// The message of the failure Fn raises as class E; a test failure when it
// raises nothing or something else.
template <class E, class F>
std::string FailureOf(F Fn) {
  try {
    Fn();
  } catch (const E& e) {
    return e.Message();
  } catch (const Exception& e) {
    ADD_FAILURE() << "other failure " << e.ClassName() << ": " << e.Message();
    return "";
  }
  ADD_FAILURE() << "no failure";
  return "";
}

class ZipReader : public ::testing::Test {
 protected:
  // Writes the archive into the scratch folder and gives its path.
  std::string Archive(const Bytes& Data, const std::string& Name = "a.zip") {
    const std::string path = S.Path(Name);
    WriteFile(path, Data);
    return path;
  }
  std::string Out() {
    ForceFolders(S.Path("out"));
    return S.Path("out") + PathSeparator;
  }
  TScratchFolder S;
};

}  // namespace

// ---------------------------------------------------------------------------
// The folder argument

TEST_F(ZipReader, FolderWithoutTrailingSeparatorGetsOne) {
  const std::string a = Archive(BuildArchive({{"x.txt", B("hello")}}));
  ForceFolders(S.Path("out"));
  ExtractArchive(a, S.Path("out"));
  EXPECT_EQ(ReadFile(S.Path("out") + PathSeparator + "x.txt"), "hello");
  EXPECT_FALSE(FileExists(S.Path("outx.txt")));
}

TEST_F(ZipReader, FolderWithTrailingSeparatorUsedAsIs) {
  const std::string a = Archive(BuildArchive({{"x.txt", B("hello")}}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "hello");
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"x.txt"});
}

TEST_F(ZipReader, MissingOutputFolderIsCreated) {
  const std::string a = Archive(BuildArchive({{"x.txt", B("1")}}));
  ExtractArchive(a, S.Path("new") + PathSeparator + "deeper");
  EXPECT_EQ(ReadFile(S.Path("new") + PathSeparator + "deeper" + PathSeparator + "x.txt"), "1");
}

// ---------------------------------------------------------------------------
// The directory

TEST_F(ZipReader, MissingArchiveFailsToOpen) {
  const std::string a = S.Path("none.zip");
  EXPECT_EQ(FailureOf<EFOpenError>([&] { ExtractArchive(a, Out()); }),
            "Unable to open file \"" + a + "\"");
}

TEST_F(ZipReader, ArchiveCommentMakesItCorrupt) {
  const std::string a = Archive(BuildArchive({{"x.txt", B("hello")}}, B("a comment")));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }), "Corrupt ZIP file " + a);
  EXPECT_FALSE(FileExists(Out() + "x.txt"));
}

TEST_F(ZipReader, TenByteFileIsCorrupt) {
  const std::string a = Archive(B("0123456789"));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }), "Corrupt ZIP file " + a);
}

TEST_F(ZipReader, EmptyFileIsCorrupt) {
  const std::string a = Archive({});
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }), "Corrupt ZIP file " + a);
}

TEST_F(ZipReader, WrongEndSignatureIsCorrupt) {
  Bytes z = BuildArchive({{"x.txt", B("hello")}});
  z[z.size() - 22] = 'Q';
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }), "Corrupt ZIP file " + a);
}

TEST_F(ZipReader, WrongCentralSignatureIsCorrupt) {
  Bytes z = BuildArchive({{"x.txt", B("hello")}, {"y.txt", B("world")}});
  // The second central record starts 46 + 5 bytes after the first.
  const uint32_t dir = z[z.size() - 6] | (z[z.size() - 5] << 8);
  z[dir + 51] = 'X';
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }), "Corrupt ZIP file " + a);
  // The directory is read whole before any entry is extracted.
  EXPECT_FALSE(FileExists(Out() + "x.txt"));
}

TEST_F(ZipReader, ZeroRecordsExtractNothing) {
  const std::string a = Archive(BuildArchive({}));
  ExtractArchive(a, Out());
  EXPECT_TRUE(ListFolder(Out()).empty());
}

TEST_F(ZipReader, CountBeyondFileSizeIsCorruptWithoutAllocating) {
  Bytes z = BuildArchive({{"x.txt", B("hello")}});
  z[z.size() - 14] = 0xFF;  // entries on this disk: 65535
  z[z.size() - 13] = 0xFF;
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }), "Corrupt ZIP file " + a);
}

TEST_F(ZipReader, WrappedEntryCountIsCorruptAndNothingIsExtracted) {
  // 70,000 entries: the 16-bit counts of the end record say 4,464.
  std::vector<TEntrySpec> entries;
  entries.reserve(70000);
  char name[8];
  for (int i = 0; i < 70000; ++i) {
    std::snprintf(name, sizeof name, "%05x", i);
    entries.emplace_back(name);
  }
  const Bytes z = BuildArchive(entries);
  ASSERT_EQ(z[z.size() - 14] | (z[z.size() - 13] << 8), 70000 - 65536);
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }), "Corrupt ZIP file " + a);
  EXPECT_TRUE(ListFolder(Out()).empty());
}

TEST_F(ZipReader, DirectoryMustEndWhereTheEndRecordSays) {
  const std::vector<TEntrySpec> entries = {{"a.txt", B("a")}, {"b.txt", B("b")}, {"c.txt", B("c")}};
  const Bytes good = BuildArchive(entries);
  const size_t end = good.size() - 22;
  const uint32_t dirSize = good[end + 12] | (good[end + 13] << 8);
  auto withEnd = [&](uint16_t Count, uint32_t Size) {
    Bytes z = good;
    z[end + 8] = z[end + 10] = static_cast<unsigned char>(Count);
    z[end + 12] = static_cast<unsigned char>(Size);
    z[end + 13] = static_cast<unsigned char>(Size >> 8);
    return z;
  };
  const uint32_t oneRecord = 46 + 5;
  struct TCase {
    const char* What;
    Bytes Data;
  };
  const std::vector<TCase> bad = {
      {"two records counted, three in the directory", withEnd(2, dirSize)},
      {"two records counted and sized, a third follows", withEnd(2, dirSize - oneRecord)},
      {"the size says less than the records fill", withEnd(3, dirSize - 1)},
      {"the size says more than the records fill", withEnd(3, dirSize + 1)},
  };
  for (const TCase& c : bad) {
    SCOPED_TRACE(c.What);
    const std::string a = Archive(c.Data);
    EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }), "Corrupt ZIP file " + a);
    EXPECT_TRUE(ListFolder(Out()).empty());
  }
  ExtractArchive(Archive(withEnd(3, dirSize)), Out());
  EXPECT_EQ(ListFolder(Out()), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST_F(ZipReader, DirectoryOffsetPastEndIsCorrupt) {
  Bytes z = BuildArchive({{"x.txt", B("hello")}});
  z[z.size() - 3] = 0x7F;  // offset 0x7F?????? is far past the end
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }), "Corrupt ZIP file " + a);
}

TEST_F(ZipReader, NameRunningPastDirectoryEndIsReadError) {
  Bytes z = BuildArchive({{"x.txt", B("hello")}});
  const uint32_t dir = z[z.size() - 6] | (z[z.size() - 5] << 8);
  z[dir + 28] = 0xFF;  // name length 65535 bytes, far more than remain
  z[dir + 29] = 0xFF;
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EReadError>([&] { ExtractArchive(a, Out()); }), "Stream read error");
}

TEST_F(ZipReader, LocalHeaderOffsetPastEndIsReadError) {
  Bytes z = BuildArchive({{"x.txt", B("hello")}});
  const uint32_t dir = z[z.size() - 6] | (z[z.size() - 5] << 8);
  z[dir + 44] = 0x10;  // local header at 0x100000
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EReadError>([&] { ExtractArchive(a, Out()); }), "Stream read error");
}

TEST_F(ZipReader, ExtraFieldsAndCommentsAreSkipped) {
  TEntrySpec e1{"one.txt", B("first")};
  e1.LocalExtra = B("UT\x05\x00\x01\x02\x03\x04\x05");
  e1.CentralExtra = B("ux\x0b\x00\x01\x04\x00\x00\x00\x00\x04\x00\x00\x00\x00");
  e1.Comment = B("file comment");
  TEntrySpec e2{"two.txt", TextBytes(5000), 8};
  e2.LocalExtra = B("abcd");
  e2.Comment = B("c2");
  const std::string a = Archive(BuildArchive({e1, e2}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ReadFile(Out() + "one.txt"), "first");
  EXPECT_EQ(B(ReadFile(Out() + "two.txt")), TextBytes(5000));
}

// ---------------------------------------------------------------------------
// Entries

TEST_F(ZipReader, StoredAndDeflatedEntries) {
  const Bytes big = RandomBytes(300000, 1);  // more than two 131,072-byte chunks
  const Bytes text = TextBytes(200000);      // many 16,384-byte inflate rounds
  const std::string a = Archive(BuildArchive({{"big.bin", big}, {"text.txt", text, 8},
                                              {"rand.bin", RandomBytes(40000, 2), 8}}));
  ExtractArchive(a, Out());
  EXPECT_EQ(B(ReadFile(Out() + "big.bin")), big);
  EXPECT_EQ(B(ReadFile(Out() + "text.txt")), text);
  EXPECT_EQ(B(ReadFile(Out() + "rand.bin")), RandomBytes(40000, 2));
}

TEST_F(ZipReader, FolderEntryCreatesFolderOnly) {
  const std::string a = Archive(BuildArchive({{"sub/", {}}}));
  ExtractArchive(a, Out());
  EXPECT_TRUE(FolderExists(Out() + "sub"));
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"sub/"});
  EXPECT_TRUE(ListFolder(Out() + "sub" + PathSeparator).empty());
}

TEST_F(ZipReader, FolderEntryEndingInABackslashIsAFolder) {
  const std::string a = Archive(BuildArchive({{"sub\\", {}}, {"sub\\deeper\\", {}},
                                              {"sub\\x.txt", B("x")}}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"sub/"});
  EXPECT_EQ(ListFolder(Out() + "sub" + PathSeparator), (std::vector<std::string>{"deeper/", "x.txt"}));
  EXPECT_TRUE(ListFolder(Out() + "sub" + PathSeparator + "deeper" + PathSeparator).empty());
}

TEST_F(ZipReader, FolderEntryWithADriveStaysInTheCurrentFolder) {
  // No output folder means the current folder. A folder entry keeps its ":"
  // (only file names lose their drive), so "X:/name/" must not become a
  // folder at the root of drive X.
  const std::string drive = ExtractDrivePart(S.Path(""));
  if (drive.empty()) GTEST_SKIP() << "no drive letters on this system";
  const std::string unique = ExtractNamePart(ExcludeTrailingSeparator(S.Path(""))) + "_escape";
  const std::string outside = drive + PathSeparator + unique;
  const std::string a = Archive(BuildArchive({{drive + "/" + unique + "/", {}}}));
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(S.Path(""));
  try {
    TUnZipper u;
    u.SetFileName(a);
    u.SetOutputPath("");
    u.ExtractAll();
  } catch (...) {
  }
  std::filesystem::current_path(previous);
  const bool escaped = FolderExists(outside);
  if (escaped) RemoveFolder(outside);
  EXPECT_FALSE(escaped) << outside;
}

TEST_F(ZipReader, NestedNamesWithoutFolderEntriesCreateTheFolders) {
  const std::string a = Archive(BuildArchive({{"sub/deeper/a.txt", B("A")},
                                              {"sub\\back\\b.txt", B("BB"), 8},
                                              {"sub\\mixed/", {}}}));
  ExtractArchive(a, Out());
  const std::string sub = Out() + "sub" + PathSeparator;
  EXPECT_EQ(ListFolder(sub), (std::vector<std::string>{"back/", "deeper/", "mixed/"}));
  EXPECT_EQ(ReadFile(sub + "deeper" + PathSeparator + "a.txt"), "A");
  EXPECT_EQ(ReadFile(sub + "back" + PathSeparator + "b.txt"), "BB");
}

TEST_F(ZipReader, DriveLetterNameKeepsOnlyTheLastPart) {
  const std::string a = Archive(BuildArchive({{"C:/other/x.txt", B("x")}}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"x.txt"});
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "x");
}

TEST_F(ZipReader, ExistingFileReplacedOthersKept) {
  WriteFile(Out() + "x.txt", B("an older and much longer content"));
  WriteFile(Out() + "keep.txt", B("mine"));
  const std::string a = Archive(BuildArchive({{"x.txt", B("new")}}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "new");
  EXPECT_EQ(ReadFile(Out() + "keep.txt"), "mine");
}

TEST_F(ZipReader, EmptyStoredAndDeflatedEntries) {
  const std::string a = Archive(BuildArchive({{"empty.txt", {}}, {"empty2.txt", {}, 8}}));
  ExtractArchive(a, Out());
  EXPECT_TRUE(FileExists(Out() + "empty.txt"));
  EXPECT_TRUE(ReadFile(Out() + "empty.txt").empty());
  EXPECT_TRUE(ReadFile(Out() + "empty2.txt").empty());
}

TEST_F(ZipReader, UnsupportedMethodLeavesEmptyFile) {
  const std::string a = Archive(BuildArchive({{"first.txt", B("1")}, {"bz.bin", B("data"), 12},
                                              {"after.txt", B("2")}}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
            "Unsupported compression format 12");
  EXPECT_EQ(ReadFile(Out() + "first.txt"), "1");
  EXPECT_TRUE(FileExists(Out() + "bz.bin"));
  EXPECT_TRUE(ReadFile(Out() + "bz.bin").empty());
  EXPECT_FALSE(FileExists(Out() + "after.txt"));
}

TEST_F(ZipReader, ZeroDateTimeOfWrittenArchivesIsAccepted) {
  TEntrySpec e{"z.txt", B("z")};
  e.ModDate = 0x5F9E;
  e.ModTime = 0;
  const std::string a = Archive(BuildArchive({e}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ReadFile(Out() + "z.txt"), "z");
}

TEST_F(ZipReader, ZeroOrInvalidDosDateTimesExtractWithoutATime) {
  // date, time: the zero pair; 62 seconds; minute 60; month 13; 2001-02-29;
  // and one valid pair for comparison.
  const std::vector<std::pair<uint16_t, uint16_t>> stamps = {
      {0, 0}, {0x3CCF, 31}, {0x3CCF, 60 << 5}, {(30 << 9) | (13 << 5) | 1, 0},
      {(21 << 9) | (2 << 5) | 29, 0}, {0x3CCF, 0x6DEF}};
  std::vector<TEntrySpec> entries;
  for (size_t i = 0; i < stamps.size(); ++i) {
    TEntrySpec e{"t" + std::to_string(i) + ".txt", TextBytes(100 + i), static_cast<uint16_t>(i % 2 ? 8 : 0)};
    e.ModDate = stamps[i].first;
    e.ModTime = stamps[i].second;
    entries.push_back(e);
  }
  const std::string a = Archive(BuildArchive(entries));
  TUnZipper u;
  u.SetFileName(a);
  u.SetOutputPath(Out());
  u.ExtractAll();
  ASSERT_EQ(u.Entries().Count(), static_cast<int>(stamps.size()));
  for (size_t i = 0; i < stamps.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(B(ReadFile(Out() + "t" + std::to_string(i) + ".txt")), TextBytes(100 + i));
    if (i + 1 < stamps.size()) {
      EXPECT_EQ(u.Entries()[static_cast<int>(i)].DateTime, 0.0);
    }
  }
  EXPECT_NEAR(u.Entries()[5].DateTime, 40344.0 + (13 * 3600 + 47 * 60 + 30) / 86400.0, 1e-9);
}

TEST_F(ZipReader, OutputThatCannotBeCreated) {
  ForceFolders(Out() + "taken");  // a folder where the file should go
  const std::string a = Archive(BuildArchive({{"taken", B("x")}}));
  EXPECT_EQ(FailureOf<EFCreateError>([&] { ExtractArchive(a, Out()); }),
            "Unable to create file \"" + Out() + "taken\"");
}

TEST_F(ZipReader, TruncatedStoredDataIsReadError) {
  Bytes z = BuildArchive({{"x.bin", RandomBytes(1000, 3)}});
  // Claim more stored bytes than the archive holds.
  z[19] = z[23] = 0x10;  // compressed and uncompressed size 0x1003E8
  z[20] = z[24] = 0x10;
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EReadError>([&] { ExtractArchive(a, Out()); }), "Stream read error");
}

TEST_F(ZipReader, InvalidDeflateDataIsDecompressionError) {
  TEntrySpec e{"x.bin", B("anything")};
  e.Method = 0;
  Bytes z = BuildArchive({e});
  z[8] = 8;  // claim method 8 over bytes that are not Deflate data
  z[30 + 5] = 0xFF;  // first data byte: block type 3 (invalid)
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<Edecompressionerror>([&] { ExtractArchive(a, Out()); }), "data error");
}

TEST_F(ZipReader, TruncatedDeflateDataFailsInsteadOfHanging) {
  // A single deflated entry cut off in the middle, directory included: the
  // directory is rebuilt after the cut.
  const Bytes data = RandomBytes(50000, 4);
  const Bytes packed = RawDeflate(data);
  Bytes z = BuildArchive({{"x.bin", data, 8}});
  const size_t cut = 30 + 5 + packed.size() / 2;
  Bytes head(z.begin(), z.begin() + static_cast<long>(cut));
  // An end record right after the cut, with no entries... would extract
  // nothing, so instead keep the directory and point it at the cut data.
  const size_t dirLen = z.size() - (30 + 5 + packed.size());
  Bytes tail(z.end() - static_cast<long>(dirLen), z.end());
  const uint32_t newDir = static_cast<uint32_t>(cut);
  tail[tail.size() - 6] = static_cast<unsigned char>(newDir);
  tail[tail.size() - 5] = static_cast<unsigned char>(newDir >> 8);
  tail[tail.size() - 4] = static_cast<unsigned char>(newDir >> 16);
  tail[tail.size() - 3] = static_cast<unsigned char>(newDir >> 24);
  head.insert(head.end(), tail.begin(), tail.end());
  const std::string a = Archive(head);
  // The inflater runs on into the directory bytes; whatever it makes of
  // them, it must end with a decoder failure.
  const std::string msg = FailureOf<Edecompressionerror>([&] { ExtractArchive(a, Out()); });
  EXPECT_TRUE(msg == "data error" || msg == "buffer error") << msg;
}

// ---------------------------------------------------------------------------
// Entry data checked against the records

namespace {

std::string Damaged(const std::string& Entry, const std::string& Archive, const std::string& Reason) {
  return "Entry \"" + Entry + "\" of ZIP file " + Archive + " is damaged: " + Reason;
}

// A raw Deflate stream of Count zero bytes, made block by block.
Bytes DeflatedZeros(size_t Count) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  const Bytes zeros(1 << 20, 0);
  Bytes out;
  unsigned char buf[65536];
  for (size_t left = Count;;) {
    const size_t n = std::min(left, zeros.size());
    left -= n;
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(n);
    const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    int rc;
    do {
      z.next_out = buf;
      z.avail_out = sizeof buf;
      rc = deflate(&z, flush);
      out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    } while (z.avail_out == 0);
    if (rc == Z_STREAM_END) break;
  }
  deflateEnd(&z);
  return out;
}

// Inflates a raw Deflate stream with zlib; nothing when it is not valid.
std::optional<Bytes> Inflated(const Bytes& Packed, size_t Limit) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  inflateInit2(&z, -15);
  Bytes out(Limit);
  z.next_in = const_cast<Bytef*>(Packed.data());
  z.avail_in = static_cast<uInt>(Packed.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;
  return out;
}

// Deflate data of Original with one bit flipped where the stream stays valid
// and of the same length but decodes to other bytes: damage that only the
// CRC-32 can show.
Bytes SilentlyDamaged(const Bytes& Original) {
  const Bytes packed = RawDeflate(Original);
  for (size_t i = packed.size() / 2; i < packed.size(); ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes damaged = packed;
      damaged[i] ^= static_cast<unsigned char>(1 << bit);
      const std::optional<Bytes> out = Inflated(damaged, Original.size() + 1);
      if (out && out->size() == Original.size() && *out != Original) return damaged;
    }
  }
  ADD_FAILURE() << "no silent damage found";
  return packed;
}

}  // namespace

TEST_F(ZipReader, DamagedByteInStoredDataIsACrcMismatchNamingTheEntry) {
  const Bytes data = RandomBytes(5000, 21);
  Bytes z = BuildArchive({{"first.txt", B("1")}, {"dir/x.bin", data}, {"after.txt", B("2")}});
  z[30 + 9 + 1 + 30 + 9 + 2500] ^= 0x40;  // a byte in the middle of dir/x.bin
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
            Damaged("dir/x.bin", a, "CRC-32 mismatch"));
  EXPECT_EQ(ReadFile(Out() + "first.txt"), "1");
  EXPECT_FALSE(FileExists(Out() + "after.txt"));
}

TEST_F(ZipReader, DamagedByteInDeflatedDataIsACrcMismatchNamingTheEntry) {
  const Bytes text = TextBytes(20000);
  TEntrySpec e{"dir/x.txt", text, 8};
  e.Payload = SilentlyDamaged(text);
  const std::string a = Archive(BuildArchive({{"first.txt", B("1")}, e}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
            Damaged("dir/x.txt", a, "CRC-32 mismatch"));
  EXPECT_EQ(ReadFile(Out() + "first.txt"), "1");
}

TEST_F(ZipReader, WrongCrcInRecordsIsRefused) {
  // The data are sound, the records' CRC is not: in the local header, and
  // for an entry with a data descriptor in the central directory.
  TEntrySpec stored{"s.txt", B("stored")}, deflated{"d.txt", TextBytes(3000), 8};
  TEntrySpec streamed{"streamed.txt", TextBytes(3000), 8};
  stored.WrongCrc = deflated.WrongCrc = streamed.WrongCrc = true;
  streamed.DataDescriptor = true;
  for (const TEntrySpec& e : {stored, deflated, streamed}) {
    SCOPED_TRACE(e.Name);
    const std::string a = Archive(BuildArchive({e}));
    EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
              Damaged(e.Name, a, "CRC-32 mismatch"));
  }
}

TEST_F(ZipReader, EntryInflatingPastItsDeclaredSizeStopsThere) {
  // 64 MiB of zeros in about 64 kB of Deflate data, declared as 1,000 bytes.
  TEntrySpec bomb{"bomb.bin", {}, 8};
  bomb.Payload = DeflatedZeros(64u << 20);
  bomb.DeclaredSize = 1000;
  ASSERT_LT(bomb.Payload->size(), 100000u);
  const std::string a = Archive(BuildArchive({bomb, {"after.txt", B("2")}}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
            Damaged("bomb.bin", a, "more data than its declared size of 1000 bytes"));
  EXPECT_LE(ReadFile(Out() + "bomb.bin").size(), 1000u);
  EXPECT_FALSE(FileExists(Out() + "after.txt"));
}

TEST_F(ZipReader, DeflatedEntryThatIsLargerOrSmallerThanDeclaredIsRefused) {
  const Bytes text = TextBytes(5000);
  TEntrySpec larger{"larger.txt", text, 8}, smaller{"smaller.txt", text, 8};
  larger.DeclaredSize = 4999;
  smaller.DeclaredSize = 5001;
  std::string a = Archive(BuildArchive({larger}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
            Damaged("larger.txt", a, "more data than its declared size of 4999 bytes"));
  EXPECT_EQ(ReadFile(Out() + "larger.txt").size(), 4999u);
  a = Archive(BuildArchive({smaller}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
            Damaged("smaller.txt", a, "5000 bytes of data for a declared size of 5001 bytes"));
}

TEST_F(ZipReader, StoredEntryWhoseSizesDifferIsRefusedBeforeItsFileIsMade) {
  TEntrySpec e{"s.bin", RandomBytes(100, 22)};
  e.DeclaredSize = 99;
  const std::string a = Archive(BuildArchive({e}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
            Damaged("s.bin", a, "stored data of 100 bytes for a declared size of 99 bytes"));
  EXPECT_FALSE(FileExists(Out() + "s.bin"));
}

// ---------------------------------------------------------------------------
// Names that would lead outside the output folder

TEST_F(ZipReader, TraversalNamesRejectedAndNothingWrittenOutside) {
  const std::vector<std::string> bad = {
      "../evil.txt", "sub/../../evil.txt", "..\\evil.txt", "sub\\..\\..\\evil.txt",
      "/evil.txt",   "\\evil.txt",         "..",           "sub/..",
      "../",         "a/.. /evil.txt",     "x:..",         "",
  };
  for (const std::string& name : bad) {
    SCOPED_TRACE(name);
    const std::string a = Archive(BuildArchive({{"ok.txt", B("ok")}, {name, B("evil")}}));
    EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out() + "sub" + PathSeparator); }),
              "Entry name \"" + name + "\" leads outside the output folder");
    EXPECT_EQ(ReadFile(Out() + "sub" + PathSeparator + "ok.txt"), "ok");
    // Only the archive and the output folder are in the scratch root, only
    // sub in the output folder, only ok.txt in sub.
    EXPECT_EQ(ListFolder(S.Path("")), (std::vector<std::string>{"a.zip", "out/"}));
    EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"sub/"});
    EXPECT_EQ(ListFolder(Out() + "sub" + PathSeparator), std::vector<std::string>{"ok.txt"});
    DeleteFolderTree(Out(), false);
  }
}

TEST_F(ZipReader, DeviceNamesAreRefusedOnWindowsOnly) {
  const std::vector<std::string> names = {"nul.txt",   "a/Com1.tar.gz/b", "CON",        "lpt9 . .txt",
                                          "conout$",   "CONIN$.x",        "aux/",       "sub\\Prn",
                                          "com0.",     "COM\xc2\xb9.log",   "lpt\xc2\xb3"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string a = Archive(BuildArchive({{"ok.txt", B("ok")}, {name, B("dev")}}));
#ifdef _WIN32
    EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
              "Entry name \"" + name + "\" leads outside the output folder");
    EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"ok.txt"});
#else
    ExtractArchive(a, Out());
    std::string path = Out() + name;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.back() == '/') EXPECT_TRUE(FolderExists(path));
    else EXPECT_EQ(ReadFile(path), "dev");
#endif
    DeleteFolderTree(Out(), false);
  }
}

TEST_F(ZipReader, DotsInsideNamesAreFine) {
  const std::string a = Archive(BuildArchive({{"a..b/..c/d..", B("1")}, {"./x.txt", B("2")},
                                              {"v1.2/...txt", B("3")}}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ReadFile(Out() + "a..b" + PathSeparator + "..c" + PathSeparator + "d.."), "1");
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "2");
  EXPECT_EQ(ReadFile(Out() + "v1.2" + PathSeparator + "...txt"), "3");
}

TEST(EntryNameLeadsOutside, Rules) {
  EXPECT_TRUE(EntryNameLeadsOutside(""));
  EXPECT_TRUE(EntryNameLeadsOutside("/a"));
  EXPECT_TRUE(EntryNameLeadsOutside("\\a"));
  EXPECT_TRUE(EntryNameLeadsOutside(".."));
  EXPECT_TRUE(EntryNameLeadsOutside("a/../b"));
  EXPECT_TRUE(EntryNameLeadsOutside("a\\..\\b"));
  EXPECT_TRUE(EntryNameLeadsOutside("a/.."));
  EXPECT_TRUE(EntryNameLeadsOutside("C:.."));
  EXPECT_TRUE(EntryNameLeadsOutside("a/ ../b"));
  EXPECT_TRUE(EntryNameLeadsOutside("a/.../b"));  // Windows drops the trailing dots
  EXPECT_TRUE(EntryNameLeadsOutside(std::string("a\0/b", 4)));
  EXPECT_FALSE(EntryNameLeadsOutside("a"));
  EXPECT_FALSE(EntryNameLeadsOutside("a/b/c.txt"));
  EXPECT_FALSE(EntryNameLeadsOutside("./a"));
  EXPECT_FALSE(EntryNameLeadsOutside("..a/b.."));
  EXPECT_FALSE(EntryNameLeadsOutside("C:/other/x.txt"));
  EXPECT_FALSE(EntryNameLeadsOutside("sub/"));
  // Device names lead to a device on Windows and are ordinary names on POSIX.
  for (const char* name : {"nul", "a/NUL.txt/b", "x:con", "dir\\Lpt1 .tar.gz", "aux/"}) {
#ifdef _WIN32
    EXPECT_TRUE(EntryNameLeadsOutside(name)) << name;
#else
    EXPECT_FALSE(EntryNameLeadsOutside(name)) << name;
#endif
  }
  EXPECT_FALSE(EntryNameLeadsOutside("null/console.txt"));
}

// ---------------------------------------------------------------------------
// Flags

TEST_F(ZipReader, EncryptedEntryRejectedBeforeCreation) {
  TEntrySpec e{"secret.txt", B("ciphertext")};
  e.Flags = zfEncrypted;
  const std::string a = Archive(BuildArchive({e}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
            "Encrypted entry secret.txt is not supported");
  EXPECT_FALSE(FileExists(Out() + "secret.txt"));
}

TEST_F(ZipReader, DataDescriptorEntriesTakeSizesFromDirectory) {
  TEntrySpec s{"streamed.bin", RandomBytes(70000, 5)};
  s.DataDescriptor = true;
  TEntrySpec d{"streamed.txt", TextBytes(90000), 8};
  d.DataDescriptor = true;
  const std::string a = Archive(BuildArchive({s, d, {"plain.txt", B("p")}}));
  TUnZipper u;
  u.SetFileName(a);
  u.SetOutputPath(Out());
  u.ExtractAll();
  EXPECT_EQ(B(ReadFile(Out() + "streamed.bin")), RandomBytes(70000, 5));
  EXPECT_EQ(B(ReadFile(Out() + "streamed.txt")), TextBytes(90000));
  EXPECT_EQ(ReadFile(Out() + "plain.txt"), "p");
  EXPECT_EQ(u.Entries()[0].Size, 70000);
  EXPECT_EQ(u.Entries()[1].Size, 90000);
}

TEST_F(ZipReader, StoredEntryWithZeroSizeAndNoDescriptorBitStaysEmpty) {
  // Without the descriptor bit the local header is taken as written: no data,
  // whose CRC-32 is 0.
  Bytes z = BuildArchive({{"x.bin", B("12345")}});
  for (int i = 18; i < 26; ++i) z[i] = 0;  // local sizes 0
  const std::string a = Archive(z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(a, Out()); }),
            "Entry \"x.bin\" of ZIP file " + a + " is damaged: CRC-32 mismatch");
  EXPECT_TRUE(ReadFile(Out() + "x.bin").empty());
  for (int i = 14; i < 18; ++i) z[i] = 0;  // local CRC 0 as well
  WriteFile(a, z);
  ExtractArchive(a, Out());
  EXPECT_TRUE(ReadFile(Out() + "x.bin").empty());
}

// ---------------------------------------------------------------------------
// Names in other code pages

TEST_F(ZipReader, NonUtf8NamesAreReadAsCodePage437) {
  const std::string a = Archive(BuildArchive({{"caf\x82.txt", B("1")},
                                              {"\xe9t\xe9.txt", B("2")},
                                              {"na\xc3\xafve.txt", B("3")}}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ReadFile(Out() + "caf\xc3\xa9.txt"), "1");        // café
  EXPECT_EQ(ReadFile(Out() + "\xce\x98t\xce\x98.txt"), "2");  // ΘtΘ
  EXPECT_EQ(ReadFile(Out() + "na\xc3\xafve.txt"), "3");       // naïve, kept
}

TEST_F(ZipReader, Utf8FlaggedNamesOfNtfsAndUnixHostsAreRead) {
  TEntrySpec ntfs{"caf\xc3\xa9.txt", B("1")}, unix{"\xc3\xbc/\xc3\x9f.txt", TextBytes(300), 8};
  ntfs.Flags = unix.Flags = 0x0800;
  ntfs.VersionMadeBy = (11 << 8) | 20;
  unix.VersionMadeBy = (3 << 8) | 30;
  unix.ExternalAttributes = 0100644u << 16;
  const std::string a = Archive(BuildArchive({ntfs, unix}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ListFolder(Out()), (std::vector<std::string>{"caf\xc3\xa9.txt", "\xc3\xbc/"}));
  EXPECT_EQ(ReadFile(Out() + "caf\xc3\xa9.txt"), "1");
  EXPECT_EQ(B(ReadFile(Out() + "\xc3\xbc" + PathSeparator + "\xc3\x9f.txt")), TextBytes(300));
}

TEST(NameDecoding, Utf8Validity) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain/ascii.txt"));
  EXPECT_TRUE(IsValidUtf8("\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"));
  EXPECT_FALSE(IsValidUtf8("\x82"));
  EXPECT_FALSE(IsValidUtf8("\xc3"));              // cut short
  EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));          // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xe0\x80\xaf"));      // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xf4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xc3\x28"));
}

TEST(NameDecoding, Cp437) {
  EXPECT_EQ(Cp437ToUtf8("abc/\\"), "abc/\\");
  EXPECT_EQ(Cp437ToUtf8("\x80"), "\xc3\x87");          // Ç
  EXPECT_EQ(Cp437ToUtf8("\x9e"), "\xe2\x82\xa7");      // ₧
  EXPECT_EQ(Cp437ToUtf8("\xe1"), "\xc3\x9f");          // ß
  EXPECT_EQ(Cp437ToUtf8("\xff"), "\xc2\xa0");          // no-break space
  EXPECT_EQ(DecodeEntryName("\xc3\x87"), "\xc3\x87");  // valid UTF-8 kept
  EXPECT_EQ(DecodeEntryName("\x80"), "\xc3\x87");
  // Every decoded name is valid UTF-8.
  std::string all;
  for (int c = 1; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_TRUE(IsValidUtf8(Cp437ToUtf8(all)));
}

// ---------------------------------------------------------------------------
// TUnZipper

namespace {

// Tries to change the names while extracting.
class TProbingUnZipper : public TUnZipper {
 public:
  std::vector<std::string> Messages;
  bool SawBusy = false;

 protected:
  void ExtractEntry(TZipFileEntry& Entry) override {
    SawBusy = Busy();
    try {
      SetFileName("other.zip");
    } catch (const EZipError& e) {
      Messages.push_back(e.Message());
    }
    try {
      SetOutputPath("elsewhere");
    } catch (const EZipError& e) {
      Messages.push_back(e.Message());
    }
    TUnZipper::ExtractEntry(Entry);
  }
};

// Handles method 12 by copying the data reversed.
class TReversing : public TDeCompressor {
 public:
  TReversing(TStream* In, TStream* Out, uint32_t Count) : TDeCompressor(In, Out, 16384), Count(Count) {}
  void Decompress() override {
    Bytes b(Count);
    FInput->ReadBuffer(b.data(), static_cast<int32_t>(Count));
    std::reverse(b.begin(), b.end());
    FOutput->WriteBuffer(b.data(), static_cast<int32_t>(Count));
    FCrc32 = ~UpdateCrc32(0xFFFFFFFFu, b.data(), b.size());
  }
  uint16_t MethodId() const override { return 12; }
  uint32_t Count;
};

class TMethod12UnZipper : public TUnZipper {
 protected:
  std::unique_ptr<TDeCompressor> NewDecompressor(TZipFileEntry& Entry, uint16_t Method,
                                                 TStream* Input, TStream* Output) override {
    if (Method == 12) return std::make_unique<TReversing>(Input, Output, static_cast<uint32_t>(Entry.Size));
    return TUnZipper::NewDecompressor(Entry, Method, Input, Output);
  }
};

}  // namespace

TEST_F(ZipReader, NamesCannotChangeWhileBusy) {
  const std::string a = Archive(BuildArchive({{"x.txt", B("x")}}));
  TProbingUnZipper u;
  EXPECT_FALSE(u.Busy());
  u.SetFileName(a);
  u.SetOutputPath(Out());
  u.ExtractAll();
  EXPECT_TRUE(u.SawBusy);
  ASSERT_EQ(u.Messages.size(), 2u);
  EXPECT_EQ(u.Messages[0], "Changing output file name is not allowed while (un)zipping");
  EXPECT_EQ(u.Messages[1], "Changing output file name is not allowed while (un)zipping");
  EXPECT_EQ(u.FileName(), a);
  EXPECT_FALSE(u.Busy());
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "x");
}

TEST_F(ZipReader, NotBusyAfterFailure) {
  const std::string a = Archive(B("0123456789"));
  TUnZipper u;
  u.SetFileName(a);
  u.SetOutputPath(Out());
  EXPECT_THROW(u.ExtractAll(), EZipError);
  EXPECT_FALSE(u.Busy());
  u.SetFileName(S.Path("b.zip"));  // allowed again
  EXPECT_EQ(u.FileName(), S.Path("b.zip"));
}

TEST_F(ZipReader, EntriesDescribeTheArchive) {
  TEntrySpec e{"dir/y.txt", TextBytes(1234), 8};
  const std::string a = Archive(BuildArchive({{"x.txt", B("abc")}, e}));
  TUnZipper u;
  EXPECT_EQ(u.BufferSize(), 16384u);
  u.SetFileName(a);
  u.SetOutputPath(Out());
  u.ExtractAll();
  ASSERT_EQ(u.Entries().Count(), 2);
  EXPECT_EQ(u.Entries()[0].ArchiveFileName(), "x.txt");
  EXPECT_EQ(u.Entries()[0].DiskFileName, "x.txt");
  EXPECT_EQ(u.Entries()[0].Size, 3);
  EXPECT_EQ(u.Entries()[0].HeaderPosition, 0);
  EXPECT_EQ(u.Entries()[1].ArchiveFileName(), "dir/y.txt");
  EXPECT_EQ(u.Entries()[1].Size, 1234);
  EXPECT_EQ(u.Entries()[1].HeaderPosition, 30 + 5 + 3);
  EXPECT_NEAR(u.Entries()[1].DateTime, 40344.0 + (13 * 3600 + 47 * 60 + 30) / 86400.0, 1e-9);
}

TEST_F(ZipReader, LocalNameIsTheOneUsed) {
  TEntrySpec e{"local.txt", B("L")};
  e.CentralName = "central.txt";
  const std::string a = Archive(BuildArchive({e}));
  ExtractArchive(a, Out());
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"local.txt"});
}

TEST_F(ZipReader, NewDecompressorIsTheHookForMethods) {
  // Method 12 entries here hold their data reversed; the records describe
  // the data as it comes out.
  TEntrySpec r{"r.bin", B("fedcba"), 12};
  r.Payload = B("abcdef");
  const std::string a = Archive(BuildArchive({r, {"d.txt", TextBytes(999), 8}}));
  TMethod12UnZipper u;
  u.SetFileName(a);
  u.SetOutputPath(Out());
  u.ExtractAll();
  EXPECT_EQ(ReadFile(Out() + "r.bin"), "fedcba");
  EXPECT_EQ(B(ReadFile(Out() + "d.txt")), TextBytes(999));
}

// ---------------------------------------------------------------------------
// TInflater over memory streams

namespace {

TMemoryStream Memory(const Bytes& Data) {
  TMemoryStream s;
  if (!Data.empty()) s.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
  s.SetPosition(0);
  return s;
}

Bytes Contents(TMemoryStream& S) { return Bytes(S.Memory(), S.Memory() + S.Size()); }

// Takes at most Limit bytes in all, then refuses more.
class TFullStream : public TMemoryStream {
 public:
  explicit TFullStream(int32_t Limit) : Left(Limit) {}
  int32_t Write(const void* Buffer, int32_t Count) override {
    const int32_t n = Count < Left ? Count : Left;
    Left -= n;
    return n > 0 ? TMemoryStream::Write(Buffer, n) : 0;
  }
  int32_t Left;
};

}  // namespace

TEST(Inflater, DecodesAndKeepsCrc) {
  const Bytes data = TextBytes(100000);
  TMemoryStream in = Memory(RawDeflate(data)), out;
  TInflater inflater(&in, &out, 16384);
  EXPECT_EQ(inflater.MethodId(), 8);
  EXPECT_EQ(inflater.BufferSize(), 16384u);
  EXPECT_EQ(inflater.Crc32(), 0xFFFFFFFFu);
  inflater.Decompress();
  EXPECT_EQ(Contents(out), data);
  EXPECT_EQ(inflater.Crc32(), Crc(data));
}

TEST(Inflater, StopsAtEndOfStreamWithTrailingBytes) {
  Bytes packed = RawDeflate(B("short text"));
  const Bytes trailing = RandomBytes(50000, 9);
  packed.insert(packed.end(), trailing.begin(), trailing.end());
  TMemoryStream in = Memory(packed), out;
  TInflater(&in, &out, 16384).Decompress();
  EXPECT_EQ(Contents(out), B("short text"));
}

TEST(Inflater, EmptyInputIsBufferError) {
  TMemoryStream in, out;
  TInflater inflater(&in, &out, 16384);
  EXPECT_EQ(FailureOf<Edecompressionerror>([&] { inflater.Decompress(); }), "buffer error");
}

TEST(Inflater, TruncatedInputIsBufferError) {
  const Bytes data = RandomBytes(60000, 10);
  Bytes packed = RawDeflate(data);
  packed.resize(packed.size() - 100);
  TMemoryStream in = Memory(packed), out;
  TInflater inflater(&in, &out, 16384);
  EXPECT_EQ(FailureOf<Edecompressionerror>([&] { inflater.Decompress(); }), "buffer error");
}

TEST(Inflater, InvalidDataIsDataError) {
  TMemoryStream in = Memory(B("\xff\xff\xff\xff")), out;
  TInflater inflater(&in, &out, 16384);
  EXPECT_EQ(FailureOf<Edecompressionerror>([&] { inflater.Decompress(); }), "data error");
}

TEST(Inflater, ShortWriteIsWriteError) {
  const Bytes data = TextBytes(100000);
  TMemoryStream in = Memory(RawDeflate(data));
  TFullStream out(20000);
  TInflater inflater(&in, &out, 16384);
  EXPECT_EQ(FailureOf<EWriteError>([&] { inflater.Decompress(); }), "Stream write error");
}

TEST(Inflater, SmallBuffersGiveTheSameResult) {
  const Bytes data = RandomBytes(20000, 11);
  TMemoryStream in = Memory(RawDeflate(data)), out;
  TInflater inflater(&in, &out, 7);
  inflater.Decompress();
  EXPECT_EQ(Contents(out), data);
  EXPECT_EQ(inflater.Crc32(), Crc(data));
}
