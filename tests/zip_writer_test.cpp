// The archive writer: PackFolder and TZipper.
#include "zip/zip_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/memory_stream.h"
#include "runtime/exceptions.h"
#include "tests/zip_writer_support.h"

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace qbtest;

namespace {

// The order in which the folder listing gives the entries of Folder.
std::vector<std::string> ListingOrder(const std::string& Folder) {
  std::vector<std::string> Names;
  TSearchRecord R;
  for (int Rc = FindFirstEntry(Folder + "*", faAnyFile, R); Rc == 0; Rc = FindNextEntry(R))
    if (R.Name != "." && R.Name != "..") Names.push_back(R.Name);
  FindEnd(R);
  return Names;
}

}  // namespace

TEST(PackFolder, EmptyRandomAndTextFilesGetTheirMethods) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  Bytes Random = RandomBytes(20000, 1), Text = TextBytes(30000);
  WriteFile(F + "empty.bin", {});
  WriteFile(F + "random.bin", Random);
  WriteFile(F + "text.txt", Text);
  std::string A = S.Path("out.zip");
  PackFolder(F, A);

  TParsedArchive Z = ParseArchive(ReadFile(A));
  ASSERT_EQ(Z.Entries.size(), 3u);
  std::vector<std::string> Order = ListingOrder(F);
  ASSERT_EQ(Order.size(), 3u);
  // Each file's method and data; stored data keep their size, deflated data shrink.
  const std::map<std::string, std::pair<uint16_t, Bytes>> Expected = {
      {"empty.bin", {0, {}}}, {"random.bin", {0, Random}}, {"text.txt", {8, Text}}};
  for (size_t I = 0; I < 3; ++I) {
    const TParsedEntry& E = Z.Entries[I];
    EXPECT_EQ(E.Name, Order[I]);
    ASSERT_EQ(Expected.count(E.Name), 1u) << E.Name;
    const auto& [Method, Data] = Expected.at(E.Name);
    EXPECT_EQ(E.Method, Method) << E.Name;
    if (Method == 0)
      EXPECT_EQ(E.Compressed, Data.size()) << E.Name;
    else
      EXPECT_LT(E.Compressed, Data.size()) << E.Name;
    EXPECT_EQ(E.Uncompressed, Data.size()) << E.Name;
    EXPECT_EQ(E.Data, Data) << E.Name;
    EXPECT_EQ(E.Crc, ZlibCrc(Data)) << E.Name;
  }
}

TEST(PackFolder, EveryEntryCarriesTheFixedFields) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  WriteFile(F + "a.txt", TextBytes(5000));
  WriteFile(F + "b.bin", RandomBytes(100, 2));
  WriteFile(F + "c", {});
  std::string A = S.Path("out.zip");
  PackFolder(F, A);
  Bytes Raw = B(ReadFile(A));
  TParsedArchive Z = ParseArchive(Raw);
  ASSERT_EQ(Z.Entries.size(), 3u);
  EXPECT_EQ(Z.EntriesThisDisk, 3);
  EXPECT_EQ(Z.TotalEntries, 3);
  size_t Previous = 0;
  for (size_t I = 0; I < Z.Entries.size(); ++I) {
    const TParsedEntry& E = Z.Entries[I];
    const Bytes& L = E.LocalHeader;
    const Bytes& C = E.CentralHeader;
    EXPECT_EQ(Le16(L, 4), 10) << "version needed";
    EXPECT_EQ(Le16(L, 6), 0) << "flags";
    EXPECT_EQ(Le16(L, 10), 0x0000) << "time";
    EXPECT_EQ(Le16(L, 12), 0x5F9E) << "date";
    EXPECT_EQ(Le16(L, 28), 0) << "extra length";
    EXPECT_EQ(Le16(C, 4), 10) << "version made by";
    EXPECT_EQ(Le16(C, 32), 0) << "comment length";
    EXPECT_EQ(Le16(C, 34), 0) << "disk";
    EXPECT_EQ(Le16(C, 36), 0) << "internal attributes";
    EXPECT_EQ(Le32(C, 38), 0x20u) << "external attributes";
    EXPECT_TRUE(std::equal(L.begin() + 4, L.begin() + 30, C.begin() + 6)) << E.Name;
    EXPECT_EQ(E.Name.find_first_of("/\\:"), std::string::npos);
    // Central records follow the local headers' order, and the first local
    // header starts the file.
    if (I == 0)
      EXPECT_EQ(E.LocalOffset, 0u);
    else
      EXPECT_GT(E.LocalOffset, Previous);
    Previous = E.LocalOffset;
  }
  // The local entries are packed back to back up to the central directory.
  const TParsedEntry& Last = Z.Entries.back();
  EXPECT_EQ(Last.LocalOffset + 30 + Last.Name.size() + Last.Compressed, Z.CentralOffset);
}

TEST(PackFolder, FolderWithoutEntriesGivesAnEmptyArchive) {
  TScratchFolder S;
  std::string F = S.Folder("empty");
  std::string A = S.Path("old.zip");
  WriteFile(A, TextBytes(100));
  PackFolder(F, A);
  Bytes EndRecordOnly(22, 0);
  EndRecordOnly[0] = 'P';
  EndRecordOnly[1] = 'K';
  EndRecordOnly[2] = 5;
  EndRecordOnly[3] = 6;
  EXPECT_EQ(B(ReadFile(A)), EndRecordOnly);
  EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"empty", "old.zip"}));
  // Also where there was no archive before.
  PackFolder(F, S.Path("new.zip"));
  EXPECT_EQ(B(ReadFile(S.Path("new.zip"))), EndRecordOnly);
}

TEST(PackFolder, PreviousArchiveIsReplacedNotMerged) {
  TScratchFolder S;
  std::string F1 = S.Folder("one"), F2 = S.Folder("two");
  WriteFile(F1 + "a.txt", TextBytes(100));
  WriteFile(F1 + "b.txt", TextBytes(200));
  WriteFile(F2 + "c.txt", TextBytes(300));
  std::string A = S.Path("out.zip");
  PackFolder(F1, A);
  ASSERT_EQ(ParseArchive(ReadFile(A)).Entries.size(), 2u);
  PackFolder(F2, A);
  TParsedArchive Z = ParseArchive(ReadFile(A));
  ASSERT_EQ(Z.Entries.size(), 1u);
  EXPECT_EQ(Z.Entries[0].Name, "c.txt");
  EXPECT_EQ(Z.Entries[0].Data, TextBytes(300));
  EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"one", "out.zip", "two"}));
}

TEST(PackFolder, ArchiveInsideThePackedFolderIsNotPackedIntoItself) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  WriteFile(F + "a.txt", TextBytes(100));
  WriteFile(F + "self.zip", RandomBytes(300, 9));
  PackFolder(F, F + "self.zip");
  TParsedArchive Z = ParseArchive(ReadFile(F + "self.zip"));
  ASSERT_EQ(Z.Entries.size(), 1u);
  EXPECT_EQ(Z.Entries[0].Name, "a.txt");
  EXPECT_EQ(Names(S.Root() / "in"), (std::set<std::string>{"a.txt", "self.zip"}));
  // Packed again, the archive still holds only the text file.
  PackFolder(F, F + "self.zip");
  EXPECT_EQ(ParseArchive(ReadFile(F + "self.zip")).Entries.size(), 1u);
}

TEST(PackFolder, SubfoldersArePackedWithTheirRelativeNames) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  const std::string Sep(1, PathSeparator);
  WriteFile(F + "a.txt", TextBytes(1000));
  S.Folder("in/sub/deeper");
  S.Folder("in/sub/empty");
  S.Folder("in/emptytop");
  S.Folder("in/nested/onlyempty/inner");
  WriteFile(F + "sub" + Sep + "x.txt", TextBytes(2000));
  WriteFile(F + "sub" + Sep + "deeper" + Sep + "y.bin", RandomBytes(3000, 7));
  WriteFile(F + "sub" + Sep + "deeper" + Sep + "z", {});
  std::string A = S.Path("out.zip");
  PackFolder(F, A);

  const std::map<std::string, Bytes> Files = {{"a.txt", TextBytes(1000)},
                                              {"sub/x.txt", TextBytes(2000)},
                                              {"sub/deeper/y.bin", RandomBytes(3000, 7)},
                                              {"sub/deeper/z", {}}};
  const std::set<std::string> Folders = {"sub/empty/", "emptytop/", "nested/onlyempty/inner/"};
  TParsedArchive Z = ParseArchive(ReadFile(A));
  std::map<std::string, Bytes> GotFiles;
  std::set<std::string> GotFolders;
  for (const TParsedEntry& E : Z.Entries) {
    SCOPED_TRACE(E.Name);
    EXPECT_EQ(E.Name.find('\\'), std::string::npos);
    if (E.Name.back() == '/') {
      GotFolders.insert(E.Name);
      EXPECT_EQ(E.Method, 0);
      EXPECT_EQ(E.Compressed, 0u);
      EXPECT_EQ(E.Uncompressed, 0u);
      EXPECT_EQ(E.Crc, 0u);
      EXPECT_EQ(Le32(E.CentralHeader, 38), 0x10u) << "the DOS folder attribute";
    } else {
      GotFiles[E.Name] = E.Data;
      EXPECT_EQ(Le32(E.CentralHeader, 38), 0x20u);
    }
  }
  EXPECT_EQ(GotFiles, Files);
  EXPECT_EQ(GotFolders, Folders);
  EXPECT_EQ(Z.Entries.size(), Files.size() + Folders.size());
}

TEST(PackFolder, MissingFolderRaisesAndLeavesTheArchiveAsItWas) {
  TScratchFolder S;
  std::string Target = S.Path("out.zip");
  Bytes Previous = RandomBytes(777, 8);
  WriteFile(Target, Previous);
  std::string Missing = S.Path("none") + PathSeparator;
  EXPECT_EQ(FailureOf<EInOutError>([&] { PackFolder(Missing, Target); }), "Unable to list folder \"" + Missing + "\"");
  EXPECT_EQ(B(ReadFile(Target)), Previous);
  // A file is no folder to list either.
  WriteFile(S.Path("file"), TextBytes(10));
  std::string NotFolder = S.Path("file") + PathSeparator;
  EXPECT_EQ(FailureOf<EInOutError>([&] { PackFolder(NotFolder, Target); }),
            "Unable to list folder \"" + NotFolder + "\"");
  EXPECT_EQ(B(ReadFile(Target)), Previous);
  EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"file", "out.zip"}));
}

TEST(PackFolder, NamesOutsideAsciiGetTheUtf8FlagAndAnNtfsHost) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  WriteFile(F + "plain.txt", TextBytes(100));
  WriteFile(F + "caf\xc3\xa9.txt", "caf\xc3\xa9");
  S.Folder("in/\xc3\xbc");
  std::string A = S.Path("out.zip");
  PackFolder(F, A);
  TParsedArchive Z = ParseArchive(ReadFile(A));
  ASSERT_EQ(Z.Entries.size(), 3u);
  for (const TParsedEntry& E : Z.Entries) {
    SCOPED_TRACE(E.Name);
    const bool Ascii = E.Name == "plain.txt";
    EXPECT_TRUE(Ascii || E.Name == "caf\xc3\xa9.txt" || E.Name == "\xc3\xbc/");
    EXPECT_EQ(Le16(E.LocalHeader, 6), Ascii ? 0 : 0x0800) << "flags";
    EXPECT_EQ(Le16(E.CentralHeader, 8), Ascii ? 0 : 0x0800) << "flags";
    EXPECT_EQ(Le16(E.CentralHeader, 4), Ascii ? 10 : 0x0B14) << "version made by";
    EXPECT_EQ(Le16(E.LocalHeader, 4), 10) << "version needed";
    EXPECT_EQ(Le16(E.LocalHeader, 10), 0x0000) << "time";
    EXPECT_EQ(Le16(E.LocalHeader, 12), 0x5F9E) << "date";
    EXPECT_EQ(Le32(E.CentralHeader, 38), E.Name.back() == '/' ? 0x10u : 0x20u);
  }
}

#ifndef _WIN32
TEST(PackFolder, LinksAreNeitherFollowedNorStored) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  S.Folder("outside");
  WriteFile(S.Path("secret.txt"), TextBytes(50));
  WriteFile(S.Path("outside/hidden.txt"), TextBytes(60));
  WriteFile(F + "a.txt", TextBytes(70));
  fsys::create_symlink(S.Root() / "secret.txt", S.Root() / "in" / "file_link");
  fsys::create_directory_symlink(S.Root() / "outside", S.Root() / "in" / "folder_link");
  fsys::create_symlink(S.Root() / "nowhere", S.Root() / "in" / "dangling");
  std::string A = S.Path("out.zip");
  PackFolder(F, A);
  TParsedArchive Z = ParseArchive(ReadFile(A));
  ASSERT_EQ(Z.Entries.size(), 1u);
  EXPECT_EQ(Z.Entries[0].Name, "a.txt");
}

TEST(PackFolder, PathsLongerThan255BytesAreStoredWhole) {
  // A name of a folder tree is its path below the packed folder: cut to 255
  // bytes it would no longer extract to the same place.
  TScratchFolder S;
  std::string F = S.Folder("in");
  const std::string Folder(200, 'd'), File(60, 'f');
  S.Folder("in/" + Folder);
  WriteFile(F + Folder + "/" + File, TextBytes(10));
  std::string A = S.Path("out.zip");
  PackFolder(F, A);
  TParsedArchive Z = ParseArchive(ReadFile(A));
  ASSERT_EQ(Z.Entries.size(), 1u);
  EXPECT_EQ(Z.Entries[0].Name, Folder + "/" + File);
  EXPECT_EQ(Le16(Z.Entries[0].LocalHeader, 26), 261);
  EXPECT_EQ(Le16(Z.Entries[0].CentralHeader, 28), 261);
}

TEST(PackFolder, ManyFilesUnderALowOpenFileLimit) {
  // 1,100 files packed by a child process that may hold 256 files open, on
  // more workers than this machine may have.
  TScratchFolder S;
  std::string F = S.Folder("in");
  for (int I = 0; I < 1100; ++I) WriteFile(F + "w" + std::to_string(I) + ".txt", TextBytes(40 + I % 7));
  std::string A = S.Path("out.zip");
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    struct rlimit Limit {
      256, 256
    };
    int Code = setrlimit(RLIMIT_NOFILE, &Limit) == 0 ? 0 : 2;
    if (Code == 0) {
      try {
        PackFolder(F, A, 8);
      } catch (...) {
        Code = 1;
      }
    }
    _exit(Code);
  }
  int Status = 0;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status));
  ASSERT_EQ(WEXITSTATUS(Status), 0) << "1: PackFolder raised; 2: no limit set";
  TParsedArchive Z = ParseArchive(ReadFile(A));
  ASSERT_EQ(Z.Entries.size(), 1100u);
  std::set<std::string> Names;
  for (const TParsedEntry& E : Z.Entries) {
    Names.insert(E.Name);
    EXPECT_EQ(E.Data, TextBytes(40 + std::stoi(E.Name.substr(1)) % 7)) << E.Name;
  }
  EXPECT_EQ(Names.size(), 1100u);
}
#endif

TEST(PackFolder, MissingTargetFolderRaisesCreateErrorNamingTheArchive) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  WriteFile(F + "a.txt", TextBytes(10));
  std::string Target = S.Path("nowhere") + PathSeparator + "out.zip";
  EXPECT_EQ(FailureOf<EFCreateError>([&] { PackFolder(F, Target); }), "Unable to create file \"" + Target + "\"");
  EXPECT_TRUE(RemoveFile(F + "a.txt"));
}

namespace {

// A compressor that fails part-way, after writing some output.
class TFailingCompressor : public TCompressor {
 public:
  using TCompressor::TCompressor;
  void Compress() override {
    unsigned char B[100] = {};
    FOutput->WriteBuffer(B, sizeof B);
    throw Ecompressionerror("stream error");
  }
  uint16_t MethodId() const override { return 8; }
};

class TFailingZipper : public TZipper {
 public:
  int FailAt = 1;
  int Seen = 0;

 protected:
  std::unique_ptr<TCompressor> NewCompressor(TZipFileEntry& Entry, TStream* Input, TStream* Output) override {
    if (Seen++ == FailAt) return std::make_unique<TFailingCompressor>(Input, Output, BufferSize());
    return TZipper::NewCompressor(Entry, Input, Output);
  }
};

}  // namespace

TEST(TZipper, CompressorFailureKeepsThePreviousArchiveAndLeavesNoTemporaryFile) {
  TScratchFolder S;
  std::string A = S.Path("out.zip");
  Bytes Previous = RandomBytes(5000, 3);
  WriteFile(A, Previous);
  TMemoryStream M1, M2;
  TFailingZipper Z;
  Z.SetFileName(A);
  Z.AddStreamEntry(Fill(M1, TextBytes(4000)), "one.txt");
  Z.AddStreamEntry(Fill(M2, TextBytes(4000)), "two.txt");
  EXPECT_EQ(FailureOf<Ecompressionerror>([&] { Z.WriteArchive(); }), "stream error");
  EXPECT_FALSE(Z.Busy());
  EXPECT_EQ(B(ReadFile(A)), Previous);
  EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"out.zip"}));
}

TEST(TZipper, InputOfExactlyTheLimitStaysInMemory) {
  TScratchFolder S;
  std::string A = S.Path("big.zip");
  // A folder in place of the spill file makes any attempt to spill fail.
  fsys::create_directories(S.Path("big.tmp2"));
  TMemoryStream M;
  TZipper Z;
  Z.SetFileName(A);
  ASSERT_EQ(Z.InMemSize(), 10240000);
  Bytes Data(10240000, 'x');
  Data[5] = 'y';
  Z.AddStreamEntry(Fill(M, Data), "big.dat");
  Z.WriteArchive();
  TParsedArchive P = ParseArchive(ReadFile(A));
  ASSERT_EQ(P.Entries.size(), 1u);
  EXPECT_EQ(P.Entries[0].Method, 8);
  EXPECT_EQ(P.Entries[0].Data, Data);
}

TEST(TZipper, InputAboveTheLimitSpillsBesideTheArchive) {
  TScratchFolder S;
  std::string A = S.Path("big.zip");
  std::string Spill = S.Path("big.tmp2");
  fsys::create_directories(Spill);
  TMemoryStream M;
  Bytes Data(10240001, 'x');
  Data[10240000] = 'z';
  {
    TZipper Z;
    Z.SetFileName(A);
    EXPECT_EQ(Z.SpillFileName(), Spill);
    Z.AddStreamEntry(Fill(M, Data), "big.dat");
    EXPECT_EQ(FailureOf<EFCreateError>([&] { Z.WriteArchive(); }), "Unable to create file \"" + Spill + "\"");
    EXPECT_FALSE(fsys::exists(A));
  }
  fsys::remove(Spill);
  TZipper Z;
  Z.SetFileName(A);
  Z.AddStreamEntry(Fill(M, Data), "big.dat");
  Z.WriteArchive();
  EXPECT_FALSE(fsys::exists(Spill));
  EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"big.zip"}));
  TParsedArchive P = ParseArchive(ReadFile(A));
  ASSERT_EQ(P.Entries.size(), 1u);
  EXPECT_EQ(P.Entries[0].Method, 8);
  EXPECT_EQ(P.Entries[0].Data, Data);
}

TEST(TZipper, SpillNameReplacesOrAppendsTheExtension) {
  TZipper Z;
  Z.SetFileName("dir.d/archive");
  EXPECT_EQ(Z.SpillFileName(), "dir.d/archive.tmp2");
  Z.SetFileName("dir.d\\archive");
  EXPECT_EQ(Z.SpillFileName(), "dir.d\\archive.tmp2");
  Z.SetFileName("dir/a.b.zip");
  EXPECT_EQ(Z.SpillFileName(), "dir/a.b.tmp2");
  Z.SpillFolder = "work";
  EXPECT_EQ(Z.SpillFileName(), std::string("work") + PathSeparator + "a.b.tmp2");
}

namespace {

// Checks the Busy rule from inside WriteArchive.
class TBusyProbe : public TZipper {
 public:
  int Calls = 0;

 protected:
  void WriteEntry(TZipFileEntry& Entry) override {
    ++Calls;
    EXPECT_TRUE(Busy());
    std::string Before = FileName();
    EXPECT_EQ(FailureOf<EZipError>([&] { SetFileName("elsewhere.zip"); }),
              "Changing output file name is not allowed while (un)zipping");
    EXPECT_EQ(FileName(), Before);
    TZipper::WriteEntry(Entry);
  }
};

}  // namespace

TEST(TZipper, FileNameCannotChangeWhileBusy) {
  TScratchFolder S;
  TMemoryStream M;
  TBusyProbe Z;
  EXPECT_FALSE(Z.Busy());
  Z.SetFileName(S.Path("a.zip"));
  Z.AddStreamEntry(Fill(M, TextBytes(10)), "a.txt");
  Z.WriteArchive();
  EXPECT_EQ(Z.Calls, 1);
  EXPECT_FALSE(Z.Busy());
  Z.SetFileName(S.Path("b.zip"));
  EXPECT_EQ(Z.FileName(), S.Path("b.zip"));
}

TEST(TZipper, StreamEntryWithoutNameIsRefusedBeforeWriting) {
  TScratchFolder S;
  TMemoryStream M1, M2;
  TZipper Z;
  Z.SetFileName(S.Path("a.zip"));
  Z.AddStreamEntry(Fill(M1, TextBytes(10)), "a.txt");
  Z.AddStreamEntry(Fill(M2, TextBytes(10)), "");
  EXPECT_EQ(FailureOf<EZipError>([&] { Z.WriteArchive(); }), "Missing archive filename in streamed entry 1");
  EXPECT_FALSE(Z.Busy());
  EXPECT_TRUE(Names(S.Root()).empty());
}

TEST(TZipper, EmptyEntryListWritesNothing) {
  TScratchFolder S;
  TZipper Z;
  Z.SetFileName(S.Path("a.zip"));
  Z.WriteArchive();
  EXPECT_TRUE(Names(S.Root()).empty());
}

namespace {

// Before every entry, tries to open each entry's disk file the way the
// writer does (a reader that shares with no one): only the file of the entry
// being written may be held.
class TOpenFilesProbe : public TZipper {
 public:
  std::vector<std::string> Held;  // per entry: the files that could not be opened

 protected:
  void WriteEntry(TZipFileEntry& Entry) override {
    std::string HeldNow;
    for (int I = 0; I < Entries().Count(); ++I) {
      try {
        TFileStream Probe(Entries()[I].DiskFileName, fmOpenRead);
      } catch (const EFOpenError&) {
        HeldNow += Entries()[I].ArchiveFileName();
      }
    }
    Held.push_back(HeldNow);
    TZipper::WriteEntry(Entry);
  }
};

}  // namespace

TEST(TZipper, EntriesWithoutStreamAreOpenedOneAtATime) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  TOpenFilesProbe Z;
  Z.SetFileName(S.Path("a.zip"));
  for (const char* Name : {"1", "2", "3"}) {
    WriteFile(F + Name, TextBytes(1000));
    TZipFileEntry& E = Z.Entries().Add();
    E.DiskFileName = F + Name;
    E.SetArchiveFileName(Name);
  }
  Z.WriteArchive();
  EXPECT_EQ(Z.Held, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(ParseArchive(ReadFile(S.Path("a.zip"))).Entries.size(), 3u);
  // None stays open afterwards.
  for (const char* Name : {"1", "2", "3"}) EXPECT_TRUE(RemoveFile(F + Name));
}

TEST(TZipper, EmptyEntryListWritesTheEndRecordWhenAsked) {
  TScratchFolder S;
  TZipper Z;
  Z.SetFileName(S.Path("a.zip"));
  Z.WriteEmptyArchive = true;
  Z.WriteArchive();
  TParsedArchive P = ParseArchive(ReadFile(S.Path("a.zip")));
  EXPECT_EQ(ReadFile(S.Path("a.zip")).size(), 22u);
  EXPECT_TRUE(P.Entries.empty());
  EXPECT_EQ(P.CentralOffset, 0u);
  EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"a.zip"}));
}

TEST(TZipper, LongNamesAreCutTo255BytesBetweenCharacters) {
  std::string Accents;
  for (int I = 0; I < 150; ++I) Accents += "\xc3\xa9";  // 300 bytes
  const struct {
    std::string Name;
    size_t Kept;
    uint16_t Flags;
  } Cases[] = {{std::string(300, 'n'), 255, 0}, {Accents, 254, 0x0800}};
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Kept);
    TScratchFolder S;
    TMemoryStream M;
    TZipper Z;
    Z.SetFileName(S.Path("a.zip"));
    Z.AddStreamEntry(Fill(M, TextBytes(10)), C.Name);
    Z.WriteArchive();
    TParsedArchive P = ParseArchive(ReadFile(S.Path("a.zip")));
    ASSERT_EQ(P.Entries.size(), 1u);
    EXPECT_EQ(P.Entries[0].Name, C.Name.substr(0, C.Kept));
    EXPECT_EQ(Le16(P.Entries[0].LocalHeader, 6), C.Flags);
    EXPECT_EQ(Le16(P.Entries[0].LocalHeader, 26), C.Kept);
    EXPECT_EQ(Le16(P.Entries[0].CentralHeader, 28), C.Kept);
  }
}

TEST(TZipper, StreamIsWrittenWholeWhateverItsPosition) {
  TScratchFolder S;
  TMemoryStream Stored, Deflated;
  Bytes Random = RandomBytes(3000, 4), Text = TextBytes(3000);
  Fill(Stored, Random)->SetPosition(1000);
  Fill(Deflated, Text)->SetPosition(2999);
  TZipper Z;
  Z.SetFileName(S.Path("a.zip"));
  Z.AddStreamEntry(&Stored, "r");
  Z.AddStreamEntry(&Deflated, "t");
  Z.WriteArchive();
  TParsedArchive P = ParseArchive(ReadFile(S.Path("a.zip")));
  ASSERT_EQ(P.Entries.size(), 2u);
  EXPECT_EQ(P.Entries[0].Data, Random);
  EXPECT_EQ(P.Entries[1].Data, Text);
}

namespace {

// A stream that claims a size without holding the data.
class TClaimedSizeStream : public TStream {
 public:
  explicit TClaimedSizeStream(int64_t Size) : FSize(Size) {}
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    FPos = (Origin == soEnd ? FSize : Origin == soCurrent ? FPos : 0) + Offset;
    return FPos;
  }
  bool SetSize(int64_t) override { return false; }

 private:
  int64_t FSize;
  int64_t FPos = 0;
};

class TSmallLimitZipper : public TZipper {
 public:
  explicit TSmallLimitZipper(int64_t Limit) { FMaxArchiveSize = Limit; }
};

}  // namespace

TEST(TZipper, InputOf2GiBIsRefusedBeforeWriting) {
  TScratchFolder S;
  TMemoryStream Small;
  TClaimedSizeStream Huge(int64_t{1} << 31);
  TZipper Z;
  Z.SetFileName(S.Path("a.zip"));
  Z.AddStreamEntry(Fill(Small, TextBytes(10)), "small");
  Z.AddStreamEntry(&Huge, "huge.bin");
  EXPECT_EQ(FailureOf<EZipError>([&] { Z.WriteArchive(); }), "File huge.bin is too large for a ZIP archive");
  EXPECT_TRUE(Names(S.Root()).empty());
}

TEST(TZipper, MoreThan65535EntriesAreRefusedBeforeWriting) {
  TScratchFolder S;
  TMemoryStream M;
  TZipper Z;
  Z.SetFileName(S.Path("a.zip"));
  for (int I = 0; I < 65536; ++I) Z.AddStreamEntry(&M, "e");
  EXPECT_EQ(FailureOf<EZipError>([&] { Z.WriteArchive(); }), "Too many entries for a ZIP archive: 65536");
  EXPECT_TRUE(Names(S.Root()).empty());
}

TEST(TZipper, ArchivePassingTheOffsetLimitIsRefusedAndTheOldOneKept) {
  TScratchFolder S;
  std::string A = S.Path("a.zip");
  WriteFile(A, TextBytes(50));
  TMemoryStream M1, M2;
  Bytes R1 = RandomBytes(600, 5), R2 = RandomBytes(600, 6);
  {
    // Two stored entries of 600 bytes need 30 + 1 + 600 each.
    TSmallLimitZipper Z(1200);
    Z.SetFileName(A);
    Z.AddStreamEntry(Fill(M1, R1), "1");
    Z.AddStreamEntry(Fill(M2, R2), "2");
    EXPECT_EQ(FailureOf<EZipError>([&] { Z.WriteArchive(); }), "ZIP archive " + A + " would exceed 2 GiB");
    EXPECT_EQ(B(ReadFile(A)), TextBytes(50));
    EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"a.zip"}));
  }
  {
    // The entries fit, the central directory does not.
    TSmallLimitZipper Z(2 * 631 + 46);
    Z.SetFileName(A);
    Z.AddStreamEntry(Fill(M1, R1), "1");
    Z.AddStreamEntry(Fill(M2, R2), "2");
    EXPECT_THROW(Z.WriteArchive(), EZipError);
    EXPECT_EQ(B(ReadFile(A)), TextBytes(50));
  }
  TSmallLimitZipper Z(2 * 631 + 2 * 47 + 22);
  Z.SetFileName(A);
  Z.AddStreamEntry(Fill(M1, R1), "1");
  Z.AddStreamEntry(Fill(M2, R2), "2");
  Z.WriteArchive();
  Bytes Raw = B(ReadFile(A));
  EXPECT_EQ(Raw.size(), 2u * 631 + 2 * 47 + 22);
  EXPECT_EQ(ParseArchive(Raw).Entries.size(), 2u);
}

TEST(TZipper, EntryWithoutStreamIsReadFromItsDiskFile) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  Bytes Text = TextBytes(2000);
  WriteFile(F + "d.txt", Text);
  TZipper Z;
  Z.SetFileName(S.Path("a.zip"));
  TZipFileEntry& E = Z.Entries().Add();
  E.DiskFileName = F + "d.txt";
  E.SetArchiveFileName("d.txt");
  Z.WriteArchive();
  TParsedArchive P = ParseArchive(ReadFile(S.Path("a.zip")));
  ASSERT_EQ(P.Entries.size(), 1u);
  EXPECT_EQ(P.Entries[0].Name, "d.txt");
  EXPECT_EQ(P.Entries[0].Data, Text);
}

TEST(PackFolder, LockedFileFailsAndKeepsThePreviousArchive) {
  TScratchFolder S;
  std::string F = S.Folder("in");
  WriteFile(F + "a.txt", TextBytes(100));
  WriteFile(F + "locked.txt", TextBytes(100));
  std::string Target = S.Path("out.zip");
  Bytes Previous = TextBytes(321);
  WriteFile(Target, Previous);
  {
    TFileStream Holder(F + "locked.txt", fmOpenRead);
    EXPECT_EQ(FailureOf<EFOpenError>([&] { PackFolder(F, Target); }), "Unable to open file \"" + F + "locked.txt\"");
  }
  EXPECT_EQ(B(ReadFile(Target)), Previous);
  EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"in", "out.zip"}));
  // Once released, the same folder packs.
  PackFolder(F, Target);
  EXPECT_EQ(ParseArchive(ReadFile(Target)).Entries.size(), 2u);
}

namespace {

// A stream whose data runs out before the size it reports.
class TShrunkStream : public TMemoryStream {
 public:
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    if (Origin == soEnd) return TMemoryStream::Seek(0, soEnd) + 500 + Offset;
    return TMemoryStream::Seek(Offset, Origin);
  }
};

// Appends bytes after each entry, as a damaged holding place would, so that
// the local headers no longer follow one another.
class TJunkZipper : public TZipper {
 public:
  Bytes Junk;

 protected:
  void WriteEntry(TZipFileEntry& Entry) override {
    TZipper::WriteEntry(Entry);
    OutputStream()->WriteBuffer(Junk.data(), static_cast<int32_t>(Junk.size()));
  }
};

}  // namespace

TEST(TZipper, InputShorterThanItsSizeIsAReadError) {
  for (const Bytes& Data : {TextBytes(3000), RandomBytes(3000, 10)}) {
    TScratchFolder S;
    std::string A = S.Path("a.zip");
    WriteFile(A, TextBytes(10));
    TShrunkStream M;
    M.WriteBuffer(Data.data(), static_cast<int32_t>(Data.size()));
    TZipper Z;
    Z.SetFileName(A);
    Z.AddStreamEntry(&M, "short");
    EXPECT_EQ(FailureOf<EReadError>([&] { Z.WriteArchive(); }), "Stream read error");
    EXPECT_EQ(B(ReadFile(A)), TextBytes(10));
    EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"a.zip"}));
  }
}

TEST(TZipper, DamagedLocalHeadersStopTheDirectoryWithAnError) {
  // Junk that does and junk that does not look like a record.
  for (const Bytes& Junk : {Bytes(40, 0), Bytes{'P', 'K', 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                            Bytes{'P', 'K', 3, 4}}) {
    TScratchFolder S;
    std::string A = S.Path("a.zip");
    WriteFile(A, TextBytes(10));
    TMemoryStream M1, M2;
    TJunkZipper Z;
    Z.Junk = Junk;
    Z.SetFileName(A);
    Z.AddStreamEntry(Fill(M1, TextBytes(500)), "1");
    Z.AddStreamEntry(Fill(M2, TextBytes(500)), "2");
    try {
      Z.WriteArchive();
      ADD_FAILURE() << "no failure raised";
    } catch (const EZipError& E) {
      EXPECT_EQ(E.Message(), "Corrupt ZIP file " + A);
    } catch (const EReadError&) {
      // a header cut short by the end of the file
    }
    EXPECT_EQ(B(ReadFile(A)), TextBytes(10));
    EXPECT_EQ(Names(S.Root()), (std::set<std::string>{"a.zip"}));
  }
}
