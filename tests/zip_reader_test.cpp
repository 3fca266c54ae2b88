// Archive extraction: ExtractArchive, TUnZipper, TInflater and entry-name
// handling, over archives laid out byte by byte in the tests.
#include "zip/zip_reader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fs/file_services.h"
#include "fs/memory_stream.h"
#include "runtime/exceptions.h"
#include "tests/zip_read_support.h"
#include "zip/decompressor.h"
#include "zip/name_decoding.h"
#include "zip/utf8_text.h"

using namespace qbtest;

namespace {

// Z with its bytes from offset At on replaced by Patch.
Bytes Patched(Bytes Z, size_t At, const Bytes& Patch) {
  std::copy(Patch.begin(), Patch.end(), Z.begin() + static_cast<long>(At));
  return Z;
}

class ZipReader : public ::testing::Test {
 protected:
  // Writes the archive into the scratch folder and gives its path.
  std::string Archive(const Bytes& Data, const std::string& Name = "a.zip") {
    const std::string Path = FS.Path(Name);
    WriteFile(Path, Data);
    return Path;
  }
  std::string Out() {
    ForceFolders(FS.Path("out"));
    return FS.Path("out") + PathSeparator;
  }
  TScratchFolder FS;
};

}  // namespace

// ---------------------------------------------------------------------------
// The folder argument

TEST_F(ZipReader, FolderWithoutTrailingSeparatorGetsOne) {
  const std::string A = Archive(BuildArchive({{"x.txt", B("hello")}}));
  ForceFolders(FS.Path("out"));
  ExtractArchive(A, FS.Path("out"));
  EXPECT_EQ(ReadFile(FS.Path("out") + PathSeparator + "x.txt"), "hello");
  EXPECT_FALSE(FileExists(FS.Path("outx.txt")));
}

TEST_F(ZipReader, FolderWithTrailingSeparatorUsedAsIs) {
  const std::string A = Archive(BuildArchive({{"x.txt", B("hello")}}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "hello");
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"x.txt"});
}

TEST_F(ZipReader, MissingOutputFolderIsCreated) {
  const std::string A = Archive(BuildArchive({{"x.txt", B("1")}}));
  ExtractArchive(A, FS.Path("new") + PathSeparator + "deeper");
  EXPECT_EQ(ReadFile(FS.Path("new") + PathSeparator + "deeper" + PathSeparator + "x.txt"), "1");
}

// ---------------------------------------------------------------------------
// The directory

TEST_F(ZipReader, MissingArchiveFailsToOpen) {
  const std::string A = FS.Path("none.zip");
  EXPECT_EQ(FailureOf<EFOpenError>([&] { ExtractArchive(A, Out()); }), "Unable to open file \"" + A + "\"");
}

TEST_F(ZipReader, DamagedEndRecordsAreCorrupt) {
  const Bytes Z = BuildArchive({{"x.txt", B("hello")}});
  const std::vector<std::pair<const char*, Bytes>> Cases = {
      {"an archive comment", BuildArchive({{"x.txt", B("hello")}}, B("a comment"))},
      {"ten bytes", B("0123456789")},
      {"an empty file", {}},
      {"a wrong end signature", Patched(Z, Z.size() - 22, B("Q"))},
      {"65535 entries on this disk, more than the file holds", Patched(Z, Z.size() - 14, {0xFF, 0xFF})},
      {"a directory offset 0x7F?????? far past the end", Patched(Z, Z.size() - 3, {0x7F})},
  };
  for (const auto& [What, Data] : Cases) {
    SCOPED_TRACE(What);
    const std::string A = Archive(Data);
    EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }), "Corrupt ZIP file " + A);
    EXPECT_FALSE(FileExists(Out() + "x.txt"));
  }
}

TEST_F(ZipReader, WrongCentralSignatureIsCorrupt) {
  Bytes Z = BuildArchive({{"x.txt", B("hello")}, {"y.txt", B("world")}});
  // The second central record starts 46 + 5 bytes after the first.
  const uint32_t Dir = Le32(Z, Z.size() - 6);
  Z[Dir + 51] = 'X';
  const std::string A = Archive(Z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }), "Corrupt ZIP file " + A);
  // The directory is read whole before any entry is extracted.
  EXPECT_FALSE(FileExists(Out() + "x.txt"));
}

TEST_F(ZipReader, ZeroRecordsExtractNothing) {
  const std::string A = Archive(BuildArchive({}));
  ExtractArchive(A, Out());
  EXPECT_TRUE(ListFolder(Out()).empty());
}

TEST_F(ZipReader, WrappedEntryCountIsCorruptAndNothingIsExtracted) {
  // 70,000 entries: the 16-bit counts of the end record say 4,464.
  std::vector<TEntrySpec> Entries;
  Entries.reserve(70000);
  char Name[8];
  for (int I = 0; I < 70000; ++I) {
    std::snprintf(Name, sizeof Name, "%05x", I);
    Entries.emplace_back(Name);
  }
  const Bytes Z = BuildArchive(Entries);
  ASSERT_EQ(Le16(Z, Z.size() - 14), 70000 - 65536);
  const std::string A = Archive(Z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }), "Corrupt ZIP file " + A);
  EXPECT_TRUE(ListFolder(Out()).empty());
}

TEST_F(ZipReader, DirectoryMustEndWhereTheEndRecordSays) {
  const std::vector<TEntrySpec> Entries = {{"a.txt", B("a")}, {"b.txt", B("b")}, {"c.txt", B("c")}};
  const Bytes Whole = BuildArchive(Entries);
  const size_t End = Whole.size() - 22;
  const uint32_t DirSize = Le32(Whole, End + 12);
  auto WithEnd = [&](uint16_t Count, uint32_t Size) {
    Bytes Z = Whole;
    PutLe16(&Z[End + 8], Count);
    PutLe16(&Z[End + 10], Count);
    PutLe32(&Z[End + 12], Size);
    return Z;
  };
  const uint32_t OneRecord = 46 + 5;
  struct TCase {
    const char* What;
    Bytes Data;
  };
  const std::vector<TCase> Bad = {
      {"two records counted, three in the directory", WithEnd(2, DirSize)},
      {"two records counted and sized, a third follows", WithEnd(2, DirSize - OneRecord)},
      {"the size says less than the records fill", WithEnd(3, DirSize - 1)},
      {"the size says more than the records fill", WithEnd(3, DirSize + 1)},
  };
  for (const TCase& C : Bad) {
    SCOPED_TRACE(C.What);
    const std::string A = Archive(C.Data);
    EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }), "Corrupt ZIP file " + A);
    EXPECT_TRUE(ListFolder(Out()).empty());
  }
  ExtractArchive(Archive(WithEnd(3, DirSize)), Out());
  EXPECT_EQ(ListFolder(Out()), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

TEST_F(ZipReader, RecordsReachingPastTheDataAreReadErrors) {
  const Bytes Z = BuildArchive({{"x.txt", B("hello")}});
  const uint32_t Dir = Le32(Z, Z.size() - 6);
  const Bytes Stored = BuildArchive({{"x.bin", RandomBytes(1000, 3)}});
  const std::vector<std::pair<const char*, Bytes>> Cases = {
      {"a name of 65535 bytes, far more than remain", Patched(Z, Dir + 28, {0xFF, 0xFF})},
      {"a local header at 0x100000", Patched(Z, Dir + 44, {0x10})},
      {"stored sizes of 0x1010E8, more than the archive holds",
       Patched(Patched(Stored, 19, {0x10, 0x10}), 23, {0x10, 0x10})},
  };
  for (const auto& [What, Data] : Cases) {
    SCOPED_TRACE(What);
    const std::string A = Archive(Data);
    EXPECT_EQ(FailureOf<EReadError>([&] { ExtractArchive(A, Out()); }), "Stream read error");
  }
}

TEST_F(ZipReader, ExtraFieldsAndCommentsAreSkipped) {
  TEntrySpec E1{"one.txt", B("first")};
  E1.LocalExtra = B("UT\x05\x00\x01\x02\x03\x04\x05");
  E1.CentralExtra = B("ux\x0b\x00\x01\x04\x00\x00\x00\x00\x04\x00\x00\x00\x00");
  E1.Comment = B("file comment");
  TEntrySpec E2{"two.txt", TextBytes(5000), 8};
  E2.LocalExtra = B("abcd");
  E2.Comment = B("c2");
  const std::string A = Archive(BuildArchive({E1, E2}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ReadFile(Out() + "one.txt"), "first");
  EXPECT_EQ(B(ReadFile(Out() + "two.txt")), TextBytes(5000));
}

// ---------------------------------------------------------------------------
// Entries

TEST_F(ZipReader, StoredAndDeflatedEntries) {
  const Bytes Big = RandomBytes(300000, 1);  // more than two 131,072-byte chunks
  const Bytes Text = TextBytes(200000);      // many 16,384-byte inflate rounds
  const std::string A =
      Archive(BuildArchive({{"big.bin", Big}, {"text.txt", Text, 8}, {"rand.bin", RandomBytes(40000, 2), 8}}));
  ExtractArchive(A, Out());
  EXPECT_EQ(B(ReadFile(Out() + "big.bin")), Big);
  EXPECT_EQ(B(ReadFile(Out() + "text.txt")), Text);
  EXPECT_EQ(B(ReadFile(Out() + "rand.bin")), RandomBytes(40000, 2));
}

TEST_F(ZipReader, FolderEntryCreatesFolderOnly) {
  const std::string A = Archive(BuildArchive({{"sub/", {}}}));
  ExtractArchive(A, Out());
  EXPECT_TRUE(FolderExists(Out() + "sub"));
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"sub/"});
  EXPECT_TRUE(ListFolder(Out() + "sub" + PathSeparator).empty());
}

TEST_F(ZipReader, FolderEntryEndingInABackslashIsAFolder) {
  const std::string A = Archive(BuildArchive({{"sub\\", {}}, {"sub\\deeper\\", {}}, {"sub\\x.txt", B("x")}}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"sub/"});
  EXPECT_EQ(ListFolder(Out() + "sub" + PathSeparator), (std::vector<std::string>{"deeper/", "x.txt"}));
  EXPECT_TRUE(ListFolder(Out() + "sub" + PathSeparator + "deeper" + PathSeparator).empty());
}

TEST_F(ZipReader, FolderEntryWithADriveStaysInTheCurrentFolder) {
  // No output folder means the current folder. A folder entry keeps its ":"
  // (only file names lose their drive), so "X:/name/" must not become a
  // folder at the root of drive X.
  const std::string Drive = ExtractDrivePart(FS.Path(""));
  if (Drive.empty()) GTEST_SKIP() << "no drive letters on this system";
  const std::string Unique = ExtractNamePart(ExcludeTrailingSeparator(FS.Path(""))) + "_escape";
  const std::string Outside = Drive + PathSeparator + Unique;
  const std::string A = Archive(BuildArchive({{Drive + "/" + Unique + "/", {}}}));
  const fsys::path Previous = fsys::current_path();
  fsys::current_path(FS.Path(""));
  try {
    TUnZipper U;
    U.SetFileName(A);
    U.SetOutputPath("");
    U.ExtractAll();
  } catch (...) {
  }
  fsys::current_path(Previous);
  const bool Escaped = FolderExists(Outside);
  if (Escaped) RemoveFolder(Outside);
  EXPECT_FALSE(Escaped) << Outside;
}

TEST_F(ZipReader, NestedNamesWithoutFolderEntriesCreateTheFolders) {
  const std::string A =
      Archive(BuildArchive({{"sub/deeper/a.txt", B("A")}, {"sub\\back\\b.txt", B("BB"), 8}, {"sub\\mixed/", {}}}));
  ExtractArchive(A, Out());
  const std::string Sub = Out() + "sub" + PathSeparator;
  EXPECT_EQ(ListFolder(Sub), (std::vector<std::string>{"back/", "deeper/", "mixed/"}));
  EXPECT_EQ(ReadFile(Sub + "deeper" + PathSeparator + "a.txt"), "A");
  EXPECT_EQ(ReadFile(Sub + "back" + PathSeparator + "b.txt"), "BB");
}

TEST_F(ZipReader, DriveLetterNameKeepsOnlyTheLastPart) {
  const std::string A = Archive(BuildArchive({{"C:/other/x.txt", B("x")}}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"x.txt"});
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "x");
}

TEST_F(ZipReader, ExistingFileReplacedOthersKept) {
  WriteFile(Out() + "x.txt", B("an older and much longer content"));
  WriteFile(Out() + "keep.txt", B("mine"));
  const std::string A = Archive(BuildArchive({{"x.txt", B("new")}}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "new");
  EXPECT_EQ(ReadFile(Out() + "keep.txt"), "mine");
}

TEST_F(ZipReader, EmptyStoredAndDeflatedEntries) {
  const std::string A = Archive(BuildArchive({{"empty.txt", {}}, {"empty2.txt", {}, 8}}));
  ExtractArchive(A, Out());
  EXPECT_TRUE(FileExists(Out() + "empty.txt"));
  EXPECT_TRUE(ReadFile(Out() + "empty.txt").empty());
  EXPECT_TRUE(ReadFile(Out() + "empty2.txt").empty());
}

TEST_F(ZipReader, UnsupportedMethodLeavesEmptyFile) {
  const std::string A =
      Archive(BuildArchive({{"first.txt", B("1")}, {"bz.bin", B("data"), 12}, {"after.txt", B("2")}}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }), "Unsupported compression format 12");
  EXPECT_EQ(ReadFile(Out() + "first.txt"), "1");
  EXPECT_TRUE(FileExists(Out() + "bz.bin"));
  EXPECT_TRUE(ReadFile(Out() + "bz.bin").empty());
  EXPECT_FALSE(FileExists(Out() + "after.txt"));
}

TEST_F(ZipReader, ZeroDateTimeOfWrittenArchivesIsAccepted) {
  TEntrySpec E{"z.txt", B("z")};
  E.ModDate = 0x5F9E;
  E.ModTime = 0;
  const std::string A = Archive(BuildArchive({E}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ReadFile(Out() + "z.txt"), "z");
}

TEST_F(ZipReader, ZeroOrInvalidDosDateTimesExtractWithoutATime) {
  // date, time: the zero pair; 62 seconds; minute 60; month 13; 2001-02-29;
  // and one valid pair for comparison.
  const std::vector<std::pair<uint16_t, uint16_t>> Stamps = {
      {0, 0},          {0x3CCF, 31}, {0x3CCF, 60 << 5}, {(30 << 9) | (13 << 5) | 1, 0}, {(21 << 9) | (2 << 5) | 29, 0},
      {0x3CCF, 0x6DEF}};
  std::vector<TEntrySpec> Entries;
  for (size_t I = 0; I < Stamps.size(); ++I) {
    TEntrySpec E{"t" + std::to_string(I) + ".txt", TextBytes(100 + I), static_cast<uint16_t>(I % 2 ? 8 : 0)};
    E.ModDate = Stamps[I].first;
    E.ModTime = Stamps[I].second;
    Entries.push_back(E);
  }
  const std::string A = Archive(BuildArchive(Entries));
  TUnZipper U;
  U.SetFileName(A);
  U.SetOutputPath(Out());
  U.ExtractAll();
  ASSERT_EQ(U.Entries().Count(), static_cast<int>(Stamps.size()));
  for (size_t I = 0; I < Stamps.size(); ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(B(ReadFile(Out() + "t" + std::to_string(I) + ".txt")), TextBytes(100 + I));
    if (I + 1 < Stamps.size()) {
      EXPECT_EQ(U.Entries()[static_cast<int>(I)].DateTime, 0.0);
    }
  }
  EXPECT_NEAR(U.Entries()[5].DateTime, 40344.0 + (13 * 3600 + 47 * 60 + 30) / 86400.0, 1e-9);
}

TEST_F(ZipReader, OutputThatCannotBeCreated) {
  ForceFolders(Out() + "taken");  // a folder where the file should go
  const std::string A = Archive(BuildArchive({{"taken", B("x")}}));
  EXPECT_EQ(FailureOf<EFCreateError>([&] { ExtractArchive(A, Out()); }),
            "Unable to create file \"" + Out() + "taken\"");
}

TEST_F(ZipReader, InvalidDeflateDataIsDecompressionError) {
  TEntrySpec E{"x.bin", B("anything")};
  E.Method = 0;
  Bytes Z = BuildArchive({E});
  Z[8] = 8;          // claim method 8 over bytes that are not Deflate data
  Z[30 + 5] = 0xFF;  // first data byte: block type 3 (invalid)
  const std::string A = Archive(Z);
  EXPECT_EQ(FailureOf<Edecompressionerror>([&] { ExtractArchive(A, Out()); }), "data error");
}

TEST_F(ZipReader, TruncatedDeflateDataFailsInsteadOfHanging) {
  // A single deflated entry cut off in the middle, directory included: the
  // directory is rebuilt after the cut.
  const Bytes Data = RandomBytes(50000, 4);
  const Bytes Packed = RawDeflate(Data);
  Bytes Z = BuildArchive({{"x.bin", Data, 8}});
  const size_t Cut = 30 + 5 + Packed.size() / 2;
  Bytes Head(Z.begin(), Z.begin() + static_cast<long>(Cut));
  // An end record right after the cut, with no entries... would extract
  // nothing, so instead keep the directory and point it at the cut data.
  const size_t DirLen = Z.size() - (30 + 5 + Packed.size());
  Bytes Tail(Z.end() - static_cast<long>(DirLen), Z.end());
  PutLe32(&Tail[Tail.size() - 6], static_cast<uint32_t>(Cut));
  Head.insert(Head.end(), Tail.begin(), Tail.end());
  const std::string A = Archive(Head);
  // The inflater runs on into the directory bytes; whatever it makes of
  // them, it must end with a decoder failure.
  const std::string Msg = FailureOf<Edecompressionerror>([&] { ExtractArchive(A, Out()); });
  EXPECT_TRUE(Msg == "data error" || Msg == "buffer error") << Msg;
}

// ---------------------------------------------------------------------------
// Entry data checked against the records

namespace {

std::string Damaged(const std::string& Entry, const std::string& Archive, const std::string& Reason) {
  return "Entry \"" + Entry + "\" of ZIP file " + Archive + " is damaged: " + Reason;
}

// A raw Deflate stream of Count zero bytes, made block by block.
Bytes DeflatedZeros(size_t Count) {
  z_stream Z;
  std::memset(&Z, 0, sizeof Z);
  deflateInit2(&Z, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  const Bytes Zeros(1 << 20, 0);
  Bytes Out;
  unsigned char Buf[65536];
  for (size_t Left = Count;;) {
    const size_t N = std::min(Left, Zeros.size());
    Left -= N;
    Z.next_in = const_cast<Bytef*>(Zeros.data());
    Z.avail_in = static_cast<uInt>(N);
    const int Flush = Left == 0 ? Z_FINISH : Z_NO_FLUSH;
    int Rc;
    do {
      Z.next_out = Buf;
      Z.avail_out = sizeof Buf;
      Rc = deflate(&Z, Flush);
      Out.insert(Out.end(), Buf, Buf + (sizeof Buf - Z.avail_out));
    } while (Z.avail_out == 0);
    if (Rc == Z_STREAM_END) break;
  }
  deflateEnd(&Z);
  return Out;
}

// Deflate data of Original with one bit flipped where the stream stays valid
// and of the same length but decodes to other bytes: damage that only the
// CRC-32 can show.
Bytes SilentlyDamaged(const Bytes& Original) {
  const Bytes Packed = RawDeflate(Original);
  for (size_t I = Packed.size() / 2; I < Packed.size(); ++I) {
    for (int Bit = 0; Bit < 8; ++Bit) {
      Bytes Damaged = Packed;
      Damaged[I] ^= static_cast<unsigned char>(1 << Bit);
      const std::optional<Bytes> Out = Inflated(Damaged.data(), Damaged.size(), Original.size() + 1);
      if (Out && Out->size() == Original.size() && *Out != Original) return Damaged;
    }
  }
  ADD_FAILURE() << "no silent damage found";
  return Packed;
}

}  // namespace

TEST_F(ZipReader, DamagedByteInStoredDataIsACrcMismatchNamingTheEntry) {
  const Bytes Data = RandomBytes(5000, 21);
  Bytes Z = BuildArchive({{"first.txt", B("1")}, {"dir/x.bin", Data}, {"after.txt", B("2")}});
  Z[30 + 9 + 1 + 30 + 9 + 2500] ^= 0x40;  // a byte in the middle of dir/x.bin
  const std::string A = Archive(Z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }), Damaged("dir/x.bin", A, "CRC-32 mismatch"));
  EXPECT_EQ(ReadFile(Out() + "first.txt"), "1");
  EXPECT_FALSE(FileExists(Out() + "after.txt"));
}

TEST_F(ZipReader, DamagedByteInDeflatedDataIsACrcMismatchNamingTheEntry) {
  const Bytes Text = TextBytes(20000);
  TEntrySpec E{"dir/x.txt", Text, 8};
  E.Payload = SilentlyDamaged(Text);
  const std::string A = Archive(BuildArchive({{"first.txt", B("1")}, E}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }), Damaged("dir/x.txt", A, "CRC-32 mismatch"));
  EXPECT_EQ(ReadFile(Out() + "first.txt"), "1");
}

TEST_F(ZipReader, WrongCrcInRecordsIsRefused) {
  // The data are sound, the records' CRC is not: in the local header, and
  // for an entry with a data descriptor in the central directory.
  TEntrySpec Stored{"s.txt", B("stored")}, Deflated{"d.txt", TextBytes(3000), 8};
  TEntrySpec Streamed{"streamed.txt", TextBytes(3000), 8};
  Stored.WrongCrc = Deflated.WrongCrc = Streamed.WrongCrc = true;
  Streamed.DataDescriptor = true;
  for (const TEntrySpec& E : {Stored, Deflated, Streamed}) {
    SCOPED_TRACE(E.Name);
    const std::string A = Archive(BuildArchive({E}));
    EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }), Damaged(E.Name, A, "CRC-32 mismatch"));
  }
}

TEST_F(ZipReader, EntryInflatingPastItsDeclaredSizeStopsThere) {
  // 64 MiB of zeros in about 64 kB of Deflate data, declared as 1,000 bytes.
  TEntrySpec Bomb{"bomb.bin", {}, 8};
  Bomb.Payload = DeflatedZeros(64u << 20);
  Bomb.DeclaredSize = 1000;
  ASSERT_LT(Bomb.Payload->size(), 100000u);
  const std::string A = Archive(BuildArchive({Bomb, {"after.txt", B("2")}}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }),
            Damaged("bomb.bin", A, "more data than its declared size of 1000 bytes"));
  EXPECT_LE(ReadFile(Out() + "bomb.bin").size(), 1000u);
  EXPECT_FALSE(FileExists(Out() + "after.txt"));
}

TEST_F(ZipReader, DeflatedEntryThatIsLargerOrSmallerThanDeclaredIsRefused) {
  const Bytes Text = TextBytes(5000);
  TEntrySpec Larger{"larger.txt", Text, 8}, Smaller{"smaller.txt", Text, 8};
  Larger.DeclaredSize = 4999;
  Smaller.DeclaredSize = 5001;
  std::string A = Archive(BuildArchive({Larger}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }),
            Damaged("larger.txt", A, "more data than its declared size of 4999 bytes"));
  EXPECT_EQ(ReadFile(Out() + "larger.txt").size(), 4999u);
  A = Archive(BuildArchive({Smaller}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }),
            Damaged("smaller.txt", A, "5000 bytes of data for a declared size of 5001 bytes"));
}

TEST_F(ZipReader, StoredEntryWhoseSizesDifferIsRefusedBeforeItsFileIsMade) {
  TEntrySpec E{"s.bin", RandomBytes(100, 22)};
  E.DeclaredSize = 99;
  const std::string A = Archive(BuildArchive({E}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }),
            Damaged("s.bin", A, "stored data of 100 bytes for a declared size of 99 bytes"));
  EXPECT_FALSE(FileExists(Out() + "s.bin"));
}

// ---------------------------------------------------------------------------
// Names that would lead outside the output folder

TEST_F(ZipReader, TraversalNamesRejectedAndNothingWrittenOutside) {
  const std::vector<std::string> Bad = {
      "../evil.txt", "sub/../../evil.txt", "..\\evil.txt", "sub\\..\\..\\evil.txt",
      "/evil.txt",   "\\evil.txt",         "..",           "sub/..",
      "../",         "a/.. /evil.txt",     "x:..",         "",
  };
  for (const std::string& Name : Bad) {
    SCOPED_TRACE(Name);
    const std::string A = Archive(BuildArchive({{"ok.txt", B("ok")}, {Name, B("evil")}}));
    EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out() + "sub" + PathSeparator); }),
              "Entry name \"" + Name + "\" leads outside the output folder");
    EXPECT_EQ(ReadFile(Out() + "sub" + PathSeparator + "ok.txt"), "ok");
    // Only the archive and the output folder are in the scratch root, only
    // sub in the output folder, only ok.txt in sub.
    EXPECT_EQ(ListFolder(FS.Path("")), (std::vector<std::string>{"a.zip", "out/"}));
    EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"sub/"});
    EXPECT_EQ(ListFolder(Out() + "sub" + PathSeparator), std::vector<std::string>{"ok.txt"});
    DeleteFolderTree(Out(), false);
  }
}

TEST_F(ZipReader, DeviceNamesAreRefusedOnWindowsOnly) {
  const std::vector<std::string> Names = {"nul.txt", "a/Com1.tar.gz/b", "CON",        "lpt9 . .txt",
                                          "conout$", "CONIN$.x",        "aux/",       "sub\\Prn",
                                          "com0.",   "COM\xc2\xb9.log", "lpt\xc2\xb3"};
  for (const std::string& Name : Names) {
    SCOPED_TRACE(Name);
    const std::string A = Archive(BuildArchive({{"ok.txt", B("ok")}, {Name, B("dev")}}));
#ifdef _WIN32
    EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }),
              "Entry name \"" + Name + "\" leads outside the output folder");
    EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"ok.txt"});
#else
    ExtractArchive(A, Out());
    std::string Path = Out() + Name;
    std::replace(Path.begin(), Path.end(), '\\', '/');
    if (Path.back() == '/')
      EXPECT_TRUE(FolderExists(Path));
    else
      EXPECT_EQ(ReadFile(Path), "dev");
#endif
    DeleteFolderTree(Out(), false);
  }
}

TEST_F(ZipReader, DotsInsideNamesAreFine) {
  const std::string A = Archive(BuildArchive({{"a..b/..c/d..", B("1")}, {"./x.txt", B("2")}, {"v1.2/...txt", B("3")}}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ReadFile(Out() + "a..b" + PathSeparator + "..c" + PathSeparator + "d.."), "1");
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "2");
  EXPECT_EQ(ReadFile(Out() + "v1.2" + PathSeparator + "...txt"), "3");
}

TEST(EntryNameLeadsOutside, Rules) {
  // "a/.../b": Windows drops the trailing dots.
  for (const char* Name : {"", "/a", "\\a", "..", "a/../b", "a\\..\\b", "a/..", "C:..", "a/ ../b", "a/.../b"}) {
    EXPECT_TRUE(EntryNameLeadsOutside(Name)) << Name;
  }
  EXPECT_TRUE(EntryNameLeadsOutside(std::string("a\0/b", 4)));
  for (const char* Name : {"a", "a/b/c.txt", "./a", "..a/b..", "C:/other/x.txt", "sub/", "null/console.txt"}) {
    EXPECT_FALSE(EntryNameLeadsOutside(Name)) << Name;
  }
  // Device names lead to a device on Windows and are ordinary names on POSIX.
  for (const char* Name : {"nul", "a/NUL.txt/b", "x:con", "dir\\Lpt1 .tar.gz", "aux/"}) {
#ifdef _WIN32
    EXPECT_TRUE(EntryNameLeadsOutside(Name)) << Name;
#else
    EXPECT_FALSE(EntryNameLeadsOutside(Name)) << Name;
#endif
  }
}

// ---------------------------------------------------------------------------
// Flags

TEST_F(ZipReader, EncryptedEntryRejectedBeforeCreation) {
  TEntrySpec E{"secret.txt", B("ciphertext")};
  E.Flags = zfEncrypted;
  const std::string A = Archive(BuildArchive({E}));
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }), "Encrypted entry secret.txt is not supported");
  EXPECT_FALSE(FileExists(Out() + "secret.txt"));
}

TEST_F(ZipReader, DataDescriptorEntriesTakeSizesFromDirectory) {
  TEntrySpec S{"streamed.bin", RandomBytes(70000, 5)};
  S.DataDescriptor = true;
  TEntrySpec D{"streamed.txt", TextBytes(90000), 8};
  D.DataDescriptor = true;
  const std::string A = Archive(BuildArchive({S, D, {"plain.txt", B("p")}}));
  TUnZipper U;
  U.SetFileName(A);
  U.SetOutputPath(Out());
  U.ExtractAll();
  EXPECT_EQ(B(ReadFile(Out() + "streamed.bin")), RandomBytes(70000, 5));
  EXPECT_EQ(B(ReadFile(Out() + "streamed.txt")), TextBytes(90000));
  EXPECT_EQ(ReadFile(Out() + "plain.txt"), "p");
  EXPECT_EQ(U.Entries()[0].Size, 70000);
  EXPECT_EQ(U.Entries()[1].Size, 90000);
}

TEST_F(ZipReader, StoredEntryWithZeroSizeAndNoDescriptorBitStaysEmpty) {
  // Without the descriptor bit the local header is taken as written: no data,
  // whose CRC-32 is 0.
  Bytes Z = BuildArchive({{"x.bin", B("12345")}});
  for (int I = 18; I < 26; ++I) Z[I] = 0;  // local sizes 0
  const std::string A = Archive(Z);
  EXPECT_EQ(FailureOf<EZipError>([&] { ExtractArchive(A, Out()); }),
            "Entry \"x.bin\" of ZIP file " + A + " is damaged: CRC-32 mismatch");
  EXPECT_TRUE(ReadFile(Out() + "x.bin").empty());
  for (int I = 14; I < 18; ++I) Z[I] = 0;  // local CRC 0 as well
  WriteFile(A, Z);
  ExtractArchive(A, Out());
  EXPECT_TRUE(ReadFile(Out() + "x.bin").empty());
}

// ---------------------------------------------------------------------------
// Names in other code pages

TEST_F(ZipReader, NonUtf8NamesAreReadAsCodePage437) {
  const std::string A =
      Archive(BuildArchive({{"caf\x82.txt", B("1")}, {"\xe9t\xe9.txt", B("2")}, {"na\xc3\xafve.txt", B("3")}}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ReadFile(Out() + "caf\xc3\xa9.txt"), "1");        // café
  EXPECT_EQ(ReadFile(Out() + "\xce\x98t\xce\x98.txt"), "2");  // ΘtΘ
  EXPECT_EQ(ReadFile(Out() + "na\xc3\xafve.txt"), "3");       // naïve, kept
}

TEST_F(ZipReader, Utf8FlaggedNamesOfNtfsAndUnixHostsAreRead) {
  TEntrySpec Ntfs{"caf\xc3\xa9.txt", B("1")}, Unix{"\xc3\xbc/\xc3\x9f.txt", TextBytes(300), 8};
  Ntfs.Flags = Unix.Flags = 0x0800;
  Ntfs.VersionMadeBy = (11 << 8) | 20;
  Unix.VersionMadeBy = (3 << 8) | 30;
  Unix.ExternalAttributes = 0100644u << 16;
  const std::string A = Archive(BuildArchive({Ntfs, Unix}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ListFolder(Out()), (std::vector<std::string>{"caf\xc3\xa9.txt", "\xc3\xbc/"}));
  EXPECT_EQ(ReadFile(Out() + "caf\xc3\xa9.txt"), "1");
  EXPECT_EQ(B(ReadFile(Out() + "\xc3\xbc" + PathSeparator + "\xc3\x9f.txt")), TextBytes(300));
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
  std::string All;
  for (int C = 1; C < 256; ++C) All += static_cast<char>(C);
  EXPECT_TRUE(IsValidUtf8(Cp437ToUtf8(All)));
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
    } catch (const EZipError& E) {
      Messages.push_back(E.Message());
    }
    try {
      SetOutputPath("elsewhere");
    } catch (const EZipError& E) {
      Messages.push_back(E.Message());
    }
    TUnZipper::ExtractEntry(Entry);
  }
};

// Handles method 12 by copying the data reversed.
class TReversing : public TDeCompressor {
 public:
  TReversing(TStream* In, TStream* Out, uint32_t Count) : TDeCompressor(In, Out, 16384), Count(Count) {}
  void Decompress() override {
    Bytes B(Count);
    FInput->ReadBuffer(B.data(), static_cast<int32_t>(Count));
    std::reverse(B.begin(), B.end());
    FOutput->WriteBuffer(B.data(), static_cast<int32_t>(Count));
    FCrc32 = ~UpdateCrc32(0xFFFFFFFFu, B.data(), B.size());
  }
  uint16_t MethodId() const override { return 12; }
  uint32_t Count;
};

class TMethod12UnZipper : public TUnZipper {
 protected:
  std::unique_ptr<TDeCompressor> NewDecompressor(TZipFileEntry& Entry, uint16_t Method, TStream* Input,
                                                 TStream* Output) override {
    if (Method == 12) return std::make_unique<TReversing>(Input, Output, static_cast<uint32_t>(Entry.Size));
    return TUnZipper::NewDecompressor(Entry, Method, Input, Output);
  }
};

}  // namespace

TEST_F(ZipReader, NamesCannotChangeWhileBusy) {
  const std::string A = Archive(BuildArchive({{"x.txt", B("x")}}));
  TProbingUnZipper U;
  EXPECT_FALSE(U.Busy());
  U.SetFileName(A);
  U.SetOutputPath(Out());
  U.ExtractAll();
  EXPECT_TRUE(U.SawBusy);
  ASSERT_EQ(U.Messages.size(), 2u);
  EXPECT_EQ(U.Messages[0], "Changing output file name is not allowed while (un)zipping");
  EXPECT_EQ(U.Messages[1], "Changing output file name is not allowed while (un)zipping");
  EXPECT_EQ(U.FileName(), A);
  EXPECT_FALSE(U.Busy());
  EXPECT_EQ(ReadFile(Out() + "x.txt"), "x");
}

TEST_F(ZipReader, NotBusyAfterFailure) {
  const std::string A = Archive(B("0123456789"));
  TUnZipper U;
  U.SetFileName(A);
  U.SetOutputPath(Out());
  EXPECT_THROW(U.ExtractAll(), EZipError);
  EXPECT_FALSE(U.Busy());
  U.SetFileName(FS.Path("b.zip"));  // allowed again
  EXPECT_EQ(U.FileName(), FS.Path("b.zip"));
}

TEST_F(ZipReader, EntriesDescribeTheArchive) {
  TEntrySpec E{"dir/y.txt", TextBytes(1234), 8};
  const std::string A = Archive(BuildArchive({{"x.txt", B("abc")}, E}));
  TUnZipper U;
  EXPECT_EQ(U.BufferSize(), 16384u);
  U.SetFileName(A);
  U.SetOutputPath(Out());
  U.ExtractAll();
  ASSERT_EQ(U.Entries().Count(), 2);
  EXPECT_EQ(U.Entries()[0].ArchiveFileName(), "x.txt");
  EXPECT_EQ(U.Entries()[0].DiskFileName, "x.txt");
  EXPECT_EQ(U.Entries()[0].Size, 3);
  EXPECT_EQ(U.Entries()[0].HeaderPosition, 0);
  EXPECT_EQ(U.Entries()[1].ArchiveFileName(), "dir/y.txt");
  EXPECT_EQ(U.Entries()[1].Size, 1234);
  EXPECT_EQ(U.Entries()[1].HeaderPosition, 30 + 5 + 3);
  EXPECT_NEAR(U.Entries()[1].DateTime, 40344.0 + (13 * 3600 + 47 * 60 + 30) / 86400.0, 1e-9);
}

TEST_F(ZipReader, LocalNameIsTheOneUsed) {
  TEntrySpec E{"local.txt", B("L")};
  E.CentralName = "central.txt";
  const std::string A = Archive(BuildArchive({E}));
  ExtractArchive(A, Out());
  EXPECT_EQ(ListFolder(Out()), std::vector<std::string>{"local.txt"});
}

TEST_F(ZipReader, NewDecompressorIsTheHookForMethods) {
  // Method 12 entries here hold their data reversed; the records describe
  // the data as it comes out.
  TEntrySpec R{"r.bin", B("fedcba"), 12};
  R.Payload = B("abcdef");
  const std::string A = Archive(BuildArchive({R, {"d.txt", TextBytes(999), 8}}));
  TMethod12UnZipper U;
  U.SetFileName(A);
  U.SetOutputPath(Out());
  U.ExtractAll();
  EXPECT_EQ(ReadFile(Out() + "r.bin"), "fedcba");
  EXPECT_EQ(B(ReadFile(Out() + "d.txt")), TextBytes(999));
}

namespace {

// Makes entry "late.bin" fail at once and holds entry "early.bin" back
// until then, so that on two workers the later entry fails first in time.
class TLateFailsFirst : public TUnZipper {
 public:
  std::atomic<bool> LateFailed{false};

 protected:
  std::unique_ptr<TDeCompressor> NewDecompressor(TZipFileEntry& Entry, uint16_t Method, TStream* Input,
                                                 TStream* Output) override {
    if (Entry.ArchiveFileName() == "late.bin") {
      LateFailed = true;
      throw EZipError("late.bin failed");
    }
    if (Entry.ArchiveFileName() == "early.bin") {
      for (int I = 0; I < 200 && !LateFailed; ++I) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      std::this_thread::sleep_for(std::chrono::milliseconds(100));  // its failure is recorded meanwhile
      throw EZipError("early.bin failed");
    }
    return TUnZipper::NewDecompressor(Entry, Method, Input, Output);
  }
};

}  // namespace

TEST_F(ZipReader, FirstFailingEntryInArchiveOrderIsRaisedWhateverTheTiming) {
  const std::string A = Archive(BuildArchive({{"first.txt", TextBytes(3000), 8},
                                              {"early.bin", TextBytes(2000), 8},
                                              {"late.bin", TextBytes(2000), 8},
                                              {"after.txt", TextBytes(3000), 8}}));
  TLateFailsFirst U;
  U.Workers = 2;
  U.SetFileName(A);
  U.SetOutputPath(Out());
  EXPECT_EQ(FailureOf<EZipError>([&] { U.ExtractAll(); }), "early.bin failed");
  EXPECT_TRUE(U.LateFailed);
  // The files are those of the entries before the failing one, as with one
  // worker.
  EXPECT_EQ(B(ReadFile(Out() + "first.txt")), TextBytes(3000));
  EXPECT_FALSE(FileExists(Out() + "late.bin"));
  EXPECT_FALSE(FileExists(Out() + "after.txt"));
}

TEST_F(ZipReader, EntriesNamingOneFileLeaveTheLastOnAnyNumberOfWorkers) {
  std::vector<TEntrySpec> Entries{{"same.txt", B("first")}, {"dir/SAME.TXT", B("other")}};
  for (int I = 0; I < 20; ++I) Entries.push_back({"f" + std::to_string(I) + ".txt", TextBytes(500 + I), 8});
  Entries.push_back({"same.txt", B("last"), 8});
  Entries.push_back({"dir//same.txt", B("dir last")});
  const std::string A = Archive(BuildArchive(Entries));
  for (int Workers : {1, 2, 8}) {
    SCOPED_TRACE(Workers);
    DeleteFolderTree(Out(), false);
    ExtractArchive(A, Out(), Workers);
    EXPECT_EQ(ReadFile(Out() + "same.txt"), "last");
    EXPECT_EQ(ReadFile(Out() + "dir/same.txt"), "dir last");
    EXPECT_EQ(B(ReadFile(Out() + "f19.txt")), TextBytes(519));
  }
}

// ---------------------------------------------------------------------------
// TInflater over memory streams

namespace {

// Takes at most Limit bytes in all, then refuses more.
class TFullStream : public TMemoryStream {
 public:
  explicit TFullStream(int32_t Limit) : Left(Limit) {}
  int32_t Write(const void* Buffer, int32_t Count) override {
    const int32_t N = Count < Left ? Count : Left;
    Left -= N;
    return N > 0 ? TMemoryStream::Write(Buffer, N) : 0;
  }
  int32_t Left;
};

}  // namespace

TEST(Inflater, DecodesAndKeepsCrc) {
  const Bytes Data = TextBytes(100000);
  TMemoryStream In = StreamOf(RawDeflate(Data)), Out;
  TInflater Inflater(&In, &Out, 16384);
  EXPECT_EQ(Inflater.MethodId(), 8);
  EXPECT_EQ(Inflater.BufferSize(), 16384u);
  EXPECT_EQ(Inflater.Crc32(), 0xFFFFFFFFu);
  Inflater.Decompress();
  EXPECT_EQ(Contents(Out), Data);
  EXPECT_EQ(Inflater.Crc32(), ZlibCrc(Data));
}

TEST(Inflater, StopsAtEndOfStreamWithTrailingBytes) {
  Bytes Packed = RawDeflate(B("short text"));
  const Bytes Trailing = RandomBytes(50000, 9);
  Packed.insert(Packed.end(), Trailing.begin(), Trailing.end());
  TMemoryStream In = StreamOf(Packed), Out;
  TInflater(&In, &Out, 16384).Decompress();
  EXPECT_EQ(Contents(Out), B("short text"));
}

TEST(Inflater, BadInputIsADecompressionError) {
  Bytes Truncated = RawDeflate(RandomBytes(60000, 10));
  Truncated.resize(Truncated.size() - 100);
  const struct {
    const char* What;
    Bytes Packed;
    const char* Message;
  } Cases[] = {
      {"empty input", {}, "buffer error"},
      {"truncated input", Truncated, "buffer error"},
      {"invalid data", B("\xff\xff\xff\xff"), "data error"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    TMemoryStream In = StreamOf(C.Packed), Out;
    TInflater Inflater(&In, &Out, 16384);
    EXPECT_EQ(FailureOf<Edecompressionerror>([&] { Inflater.Decompress(); }), C.Message);
  }
}

TEST(Inflater, ShortWriteIsWriteError) {
  const Bytes Data = TextBytes(100000);
  TMemoryStream In = StreamOf(RawDeflate(Data));
  TFullStream Out(20000);
  TInflater Inflater(&In, &Out, 16384);
  EXPECT_EQ(FailureOf<EWriteError>([&] { Inflater.Decompress(); }), "Stream write error");
}

TEST(Inflater, SmallBuffersGiveTheSameResult) {
  const Bytes Data = RandomBytes(20000, 11);
  TMemoryStream In = StreamOf(RawDeflate(Data)), Out;
  TInflater Inflater(&In, &Out, 7);
  Inflater.Decompress();
  EXPECT_EQ(Contents(Out), Data);
  EXPECT_EQ(Inflater.Crc32(), ZlibCrc(Data));
}
