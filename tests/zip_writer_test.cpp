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

using namespace zipw;

namespace {

TMemoryStream* Fill(TMemoryStream& S, const Bytes& B) {
  S.Clear();
  if (!B.empty()) S.WriteBuffer(B.data(), static_cast<int32_t>(B.size()));
  S.SetPosition(0);
  return &S;
}

// The order in which the folder listing gives the entries of Folder.
std::vector<std::string> ListingOrder(const std::string& Folder) {
  std::vector<std::string> names;
  TSearchRecord r;
  for (int rc = FindFirstEntry(Folder + "*", faAnyFile, r); rc == 0; rc = FindNextEntry(r))
    if (r.Name != "." && r.Name != "..") names.push_back(r.Name);
  FindEnd(r);
  return names;
}

template <class E, class F>
std::string MessageOf(F&& Action) {
  try {
    Action();
  } catch (const E& e) {
    return e.Message();
  }
  ADD_FAILURE() << "no failure raised";
  return {};
}

}  // namespace

TEST(PackFolder, EmptyRandomAndTextFilesGetTheirMethods) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  Bytes random = RandomBytes(20000, 1), text = TextBytes(30000);
  WriteFile(f + "empty.bin", {});
  WriteFile(f + "random.bin", random);
  WriteFile(f + "text.txt", text);
  std::string a = s.Path("out.zip");
  PackFolder(f, a);

  TParsedArchive z = ParseArchive(ReadFile(a));
  ASSERT_EQ(z.Entries.size(), 3u);
  std::vector<std::string> order = ListingOrder(f);
  ASSERT_EQ(order.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const TParsedEntry& e = z.Entries[i];
    EXPECT_EQ(e.Name, order[i]);
    if (e.Name == "empty.bin") {
      EXPECT_EQ(e.Method, 0);
      EXPECT_EQ(e.Compressed, 0u);
      EXPECT_EQ(e.Uncompressed, 0u);
      EXPECT_EQ(e.Crc, 0u);
    } else if (e.Name == "random.bin") {
      EXPECT_EQ(e.Method, 0);
      EXPECT_EQ(e.Compressed, 20000u);
      EXPECT_EQ(e.Uncompressed, 20000u);
      EXPECT_EQ(e.Data, random);
      EXPECT_EQ(e.Crc, ZlibCrc(random));
    } else {
      EXPECT_EQ(e.Name, "text.txt");
      EXPECT_EQ(e.Method, 8);
      EXPECT_LT(e.Compressed, 30000u);
      EXPECT_EQ(e.Uncompressed, 30000u);
      EXPECT_EQ(e.Data, text);
      EXPECT_EQ(e.Crc, ZlibCrc(text));
    }
  }
}

TEST(PackFolder, EveryEntryCarriesTheFixedFields) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  WriteFile(f + "a.txt", TextBytes(5000));
  WriteFile(f + "b.bin", RandomBytes(100, 2));
  WriteFile(f + "c", {});
  std::string a = s.Path("out.zip");
  PackFolder(f, a);
  Bytes raw = B(ReadFile(a));
  TParsedArchive z = ParseArchive(raw);
  ASSERT_EQ(z.Entries.size(), 3u);
  EXPECT_EQ(z.EntriesThisDisk, 3);
  EXPECT_EQ(z.TotalEntries, 3);
  size_t previous = 0;
  for (size_t i = 0; i < z.Entries.size(); ++i) {
    const TParsedEntry& e = z.Entries[i];
    const Bytes& l = e.LocalHeader;
    const Bytes& c = e.CentralHeader;
    EXPECT_EQ(Get16(l, 4), 10) << "version needed";
    EXPECT_EQ(Get16(l, 6), 0) << "flags";
    EXPECT_EQ(Get16(l, 10), 0x0000) << "time";
    EXPECT_EQ(Get16(l, 12), 0x5F9E) << "date";
    EXPECT_EQ(Get16(l, 28), 0) << "extra length";
    EXPECT_EQ(Get16(c, 4), 10) << "version made by";
    EXPECT_EQ(Get16(c, 32), 0) << "comment length";
    EXPECT_EQ(Get16(c, 34), 0) << "disk";
    EXPECT_EQ(Get16(c, 36), 0) << "internal attributes";
    EXPECT_EQ(Get32(c, 38), 0x20u) << "external attributes";
    EXPECT_TRUE(std::equal(l.begin() + 4, l.begin() + 30, c.begin() + 6)) << e.Name;
    EXPECT_EQ(e.Name.find_first_of("/\\:"), std::string::npos);
    // Central records follow the local headers' order, and the first local
    // header starts the file.
    if (i == 0) EXPECT_EQ(e.LocalOffset, 0u);
    else EXPECT_GT(e.LocalOffset, previous);
    previous = e.LocalOffset;
  }
  // The local entries are packed back to back up to the central directory.
  const TParsedEntry& last = z.Entries.back();
  EXPECT_EQ(last.LocalOffset + 30 + last.Name.size() + last.Compressed, z.CentralOffset);
}

TEST(PackFolder, FolderWithoutEntriesGivesAnEmptyArchive) {
  TScratchFolder s;
  std::string f = s.Folder("empty");
  std::string a = s.Path("old.zip");
  WriteFile(a, TextBytes(100));
  PackFolder(f, a);
  Bytes endRecordOnly(22, 0);
  endRecordOnly[0] = 'P';
  endRecordOnly[1] = 'K';
  endRecordOnly[2] = 5;
  endRecordOnly[3] = 6;
  EXPECT_EQ(B(ReadFile(a)), endRecordOnly);
  EXPECT_EQ(FolderNames(s.Root()), (std::vector<std::string>{"empty", "old.zip"}));
  // Also where there was no archive before.
  PackFolder(f, s.Path("new.zip"));
  EXPECT_EQ(B(ReadFile(s.Path("new.zip"))), endRecordOnly);
}

TEST(PackFolder, PreviousArchiveIsReplacedNotMerged) {
  TScratchFolder s;
  std::string f1 = s.Folder("one"), f2 = s.Folder("two");
  WriteFile(f1 + "a.txt", TextBytes(100));
  WriteFile(f1 + "b.txt", TextBytes(200));
  WriteFile(f2 + "c.txt", TextBytes(300));
  std::string a = s.Path("out.zip");
  PackFolder(f1, a);
  ASSERT_EQ(ParseArchive(ReadFile(a)).Entries.size(), 2u);
  PackFolder(f2, a);
  TParsedArchive z = ParseArchive(ReadFile(a));
  ASSERT_EQ(z.Entries.size(), 1u);
  EXPECT_EQ(z.Entries[0].Name, "c.txt");
  EXPECT_EQ(z.Entries[0].Data, TextBytes(300));
  EXPECT_EQ(FolderNames(s.Root()), (std::vector<std::string>{"one", "out.zip", "two"}));
}

TEST(PackFolder, ArchiveInsideThePackedFolderIsNotPackedIntoItself) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  WriteFile(f + "a.txt", TextBytes(100));
  WriteFile(f + "self.zip", RandomBytes(300, 9));
  PackFolder(f, f + "self.zip");
  TParsedArchive z = ParseArchive(ReadFile(f + "self.zip"));
  ASSERT_EQ(z.Entries.size(), 1u);
  EXPECT_EQ(z.Entries[0].Name, "a.txt");
  EXPECT_EQ(FolderNames(s.Root() / "in"), (std::vector<std::string>{"a.txt", "self.zip"}));
  // Packed again, the archive still holds only the text file.
  PackFolder(f, f + "self.zip");
  EXPECT_EQ(ParseArchive(ReadFile(f + "self.zip")).Entries.size(), 1u);
}

TEST(PackFolder, SubfoldersArePackedWithTheirRelativeNames) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  const std::string sep(1, PathSeparator);
  WriteFile(f + "a.txt", TextBytes(1000));
  s.Folder("in/sub/deeper");
  s.Folder("in/sub/empty");
  s.Folder("in/emptytop");
  s.Folder("in/nested/onlyempty/inner");
  WriteFile(f + "sub" + sep + "x.txt", TextBytes(2000));
  WriteFile(f + "sub" + sep + "deeper" + sep + "y.bin", RandomBytes(3000, 7));
  WriteFile(f + "sub" + sep + "deeper" + sep + "z", {});
  std::string a = s.Path("out.zip");
  PackFolder(f, a);

  const std::map<std::string, Bytes> files = {{"a.txt", TextBytes(1000)},
                                              {"sub/x.txt", TextBytes(2000)},
                                              {"sub/deeper/y.bin", RandomBytes(3000, 7)},
                                              {"sub/deeper/z", {}}};
  const std::set<std::string> folders = {"sub/empty/", "emptytop/", "nested/onlyempty/inner/"};
  TParsedArchive z = ParseArchive(ReadFile(a));
  std::map<std::string, Bytes> gotFiles;
  std::set<std::string> gotFolders;
  for (const TParsedEntry& e : z.Entries) {
    SCOPED_TRACE(e.Name);
    EXPECT_EQ(e.Name.find('\\'), std::string::npos);
    if (e.Name.back() == '/') {
      gotFolders.insert(e.Name);
      EXPECT_EQ(e.Method, 0);
      EXPECT_EQ(e.Compressed, 0u);
      EXPECT_EQ(e.Uncompressed, 0u);
      EXPECT_EQ(e.Crc, 0u);
      EXPECT_EQ(Get32(e.CentralHeader, 38), 0x10u) << "the DOS folder attribute";
    } else {
      gotFiles[e.Name] = e.Data;
      EXPECT_EQ(Get32(e.CentralHeader, 38), 0x20u);
    }
  }
  EXPECT_EQ(gotFiles, files);
  EXPECT_EQ(gotFolders, folders);
  EXPECT_EQ(z.Entries.size(), files.size() + folders.size());
}

TEST(PackFolder, MissingFolderRaisesAndLeavesTheArchiveAsItWas) {
  TScratchFolder s;
  std::string a = s.Path("out.zip");
  Bytes previous = RandomBytes(777, 8);
  WriteFile(a, previous);
  std::string missing = s.Path("none") + PathSeparator;
  EXPECT_EQ(MessageOf<EInOutError>([&] { PackFolder(missing, a); }),
            "Unable to list folder \"" + missing + "\"");
  EXPECT_EQ(B(ReadFile(a)), previous);
  // A file is no folder to list either.
  WriteFile(s.Path("file"), TextBytes(10));
  std::string notFolder = s.Path("file") + PathSeparator;
  EXPECT_EQ(MessageOf<EInOutError>([&] { PackFolder(notFolder, a); }),
            "Unable to list folder \"" + notFolder + "\"");
  EXPECT_EQ(B(ReadFile(a)), previous);
  EXPECT_EQ(FolderNames(s.Root()), (std::vector<std::string>{"file", "out.zip"}));
}

TEST(PackFolder, NamesOutsideAsciiGetTheUtf8FlagAndAnNtfsHost) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  WriteFile(f + "plain.txt", TextBytes(100));
  WriteFile(f + "caf\xc3\xa9.txt", "caf\xc3\xa9");
  s.Folder("in/\xc3\xbc");
  std::string a = s.Path("out.zip");
  PackFolder(f, a);
  TParsedArchive z = ParseArchive(ReadFile(a));
  ASSERT_EQ(z.Entries.size(), 3u);
  for (const TParsedEntry& e : z.Entries) {
    SCOPED_TRACE(e.Name);
    const bool ascii = e.Name == "plain.txt";
    EXPECT_TRUE(ascii || e.Name == "caf\xc3\xa9.txt" || e.Name == "\xc3\xbc/");
    EXPECT_EQ(Get16(e.LocalHeader, 6), ascii ? 0 : 0x0800) << "flags";
    EXPECT_EQ(Get16(e.CentralHeader, 8), ascii ? 0 : 0x0800) << "flags";
    EXPECT_EQ(Get16(e.CentralHeader, 4), ascii ? 10 : 0x0B14) << "version made by";
    EXPECT_EQ(Get16(e.LocalHeader, 4), 10) << "version needed";
    EXPECT_EQ(Get16(e.LocalHeader, 10), 0x0000) << "time";
    EXPECT_EQ(Get16(e.LocalHeader, 12), 0x5F9E) << "date";
    EXPECT_EQ(Get32(e.CentralHeader, 38), e.Name.back() == '/' ? 0x10u : 0x20u);
  }
}

#ifndef _WIN32
TEST(PackFolder, LinksAreNeitherFollowedNorStored) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  s.Folder("outside");
  WriteFile(s.Path("secret.txt"), TextBytes(50));
  WriteFile(s.Path("outside/hidden.txt"), TextBytes(60));
  WriteFile(f + "a.txt", TextBytes(70));
  stdfs::create_symlink(s.Root() / "secret.txt", s.Root() / "in" / "file_link");
  stdfs::create_directory_symlink(s.Root() / "outside", s.Root() / "in" / "folder_link");
  stdfs::create_symlink(s.Root() / "nowhere", s.Root() / "in" / "dangling");
  std::string a = s.Path("out.zip");
  PackFolder(f, a);
  TParsedArchive z = ParseArchive(ReadFile(a));
  ASSERT_EQ(z.Entries.size(), 1u);
  EXPECT_EQ(z.Entries[0].Name, "a.txt");
}

TEST(PackFolder, PathsLongerThan255BytesAreStoredWhole) {
  // A name of a folder tree is its path below the packed folder: cut to 255
  // bytes it would no longer extract to the same place.
  TScratchFolder s;
  std::string f = s.Folder("in");
  const std::string folder(200, 'd'), file(60, 'f');
  s.Folder("in/" + folder);
  WriteFile(f + folder + "/" + file, TextBytes(10));
  std::string a = s.Path("out.zip");
  PackFolder(f, a);
  TParsedArchive z = ParseArchive(ReadFile(a));
  ASSERT_EQ(z.Entries.size(), 1u);
  EXPECT_EQ(z.Entries[0].Name, folder + "/" + file);
  EXPECT_EQ(Get16(z.Entries[0].LocalHeader, 26), 261);
  EXPECT_EQ(Get16(z.Entries[0].CentralHeader, 28), 261);
}

TEST(PackFolder, ManyFilesUnderALowOpenFileLimit) {
  // 1,100 files packed by a child process that may hold 256 files open.
  TScratchFolder s;
  std::string f = s.Folder("in");
  for (int i = 0; i < 1100; ++i) WriteFile(f + "w" + std::to_string(i) + ".txt", TextBytes(40 + i % 7));
  std::string a = s.Path("out.zip");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct rlimit limit {256, 256};
    int code = setrlimit(RLIMIT_NOFILE, &limit) == 0 ? 0 : 2;
    if (code == 0) {
      try {
        PackFolder(f, a);
      } catch (...) {
        code = 1;
      }
    }
    _exit(code);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "1: PackFolder raised; 2: no limit set";
  TParsedArchive z = ParseArchive(ReadFile(a));
  ASSERT_EQ(z.Entries.size(), 1100u);
  std::set<std::string> names;
  for (const TParsedEntry& e : z.Entries) {
    names.insert(e.Name);
    EXPECT_EQ(e.Data, TextBytes(40 + std::stoi(e.Name.substr(1)) % 7)) << e.Name;
  }
  EXPECT_EQ(names.size(), 1100u);
}
#endif

TEST(PackFolder, MissingTargetFolderRaisesCreateErrorNamingTheArchive) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  WriteFile(f + "a.txt", TextBytes(10));
  std::string a = s.Path("nowhere") + PathSeparator + "out.zip";
  EXPECT_EQ(MessageOf<EFCreateError>([&] { PackFolder(f, a); }),
            "Unable to create file \"" + a + "\"");
  EXPECT_TRUE(RemoveFile(f + "a.txt"));
}

namespace {

// A compressor that fails part-way, after writing some output.
class TFailingCompressor : public TCompressor {
 public:
  using TCompressor::TCompressor;
  void Compress() override {
    unsigned char b[100] = {};
    FOutput->WriteBuffer(b, sizeof b);
    throw Ecompressionerror("stream error");
  }
  uint16_t MethodId() const override { return 8; }
};

class TFailingZipper : public TZipper {
 public:
  int FailAt = 1;
  int Seen = 0;

 protected:
  std::unique_ptr<TCompressor> NewCompressor(TZipFileEntry& Entry, TStream* Input,
                                             TStream* Output) override {
    if (Seen++ == FailAt) return std::make_unique<TFailingCompressor>(Input, Output, BufferSize());
    return TZipper::NewCompressor(Entry, Input, Output);
  }
};

}  // namespace

TEST(TZipper, CompressorFailureKeepsThePreviousArchiveAndLeavesNoTemporaryFile) {
  TScratchFolder s;
  std::string a = s.Path("out.zip");
  Bytes previous = RandomBytes(5000, 3);
  WriteFile(a, previous);
  TMemoryStream m1, m2;
  TFailingZipper z;
  z.SetFileName(a);
  z.AddStreamEntry(Fill(m1, TextBytes(4000)), "one.txt");
  z.AddStreamEntry(Fill(m2, TextBytes(4000)), "two.txt");
  EXPECT_EQ(MessageOf<Ecompressionerror>([&] { z.WriteArchive(); }), "stream error");
  EXPECT_FALSE(z.Busy());
  EXPECT_EQ(B(ReadFile(a)), previous);
  EXPECT_EQ(FolderNames(s.Root()), std::vector<std::string>{"out.zip"});
}

TEST(TZipper, InputOfExactlyTheLimitStaysInMemory) {
  TScratchFolder s;
  std::string a = s.Path("big.zip");
  // A folder in place of the spill file makes any attempt to spill fail.
  stdfs::create_directories(s.Path("big.tmp2"));
  TMemoryStream m;
  TZipper z;
  z.SetFileName(a);
  ASSERT_EQ(z.InMemSize(), 10240000);
  Bytes data(10240000, 'x');
  data[5] = 'y';
  z.AddStreamEntry(Fill(m, data), "big.dat");
  z.WriteArchive();
  TParsedArchive p = ParseArchive(ReadFile(a));
  ASSERT_EQ(p.Entries.size(), 1u);
  EXPECT_EQ(p.Entries[0].Method, 8);
  EXPECT_EQ(p.Entries[0].Data, data);
}

TEST(TZipper, InputAboveTheLimitSpillsBesideTheArchive) {
  TScratchFolder s;
  std::string a = s.Path("big.zip");
  std::string spill = s.Path("big.tmp2");
  stdfs::create_directories(spill);
  TMemoryStream m;
  Bytes data(10240001, 'x');
  data[10240000] = 'z';
  {
    TZipper z;
    z.SetFileName(a);
    EXPECT_EQ(z.SpillFileName(), spill);
    z.AddStreamEntry(Fill(m, data), "big.dat");
    EXPECT_EQ(MessageOf<EFCreateError>([&] { z.WriteArchive(); }),
              "Unable to create file \"" + spill + "\"");
    EXPECT_FALSE(stdfs::exists(a));
  }
  stdfs::remove(spill);
  TZipper z;
  z.SetFileName(a);
  z.AddStreamEntry(Fill(m, data), "big.dat");
  z.WriteArchive();
  EXPECT_FALSE(stdfs::exists(spill));
  EXPECT_EQ(FolderNames(s.Root()), std::vector<std::string>{"big.zip"});
  TParsedArchive p = ParseArchive(ReadFile(a));
  ASSERT_EQ(p.Entries.size(), 1u);
  EXPECT_EQ(p.Entries[0].Method, 8);
  EXPECT_EQ(p.Entries[0].Data, data);
}

TEST(TZipper, SpillNameReplacesOrAppendsTheExtension) {
  TZipper z;
  z.SetFileName("dir.d/archive");
  EXPECT_EQ(z.SpillFileName(), "dir.d/archive.tmp2");
  z.SetFileName("dir.d\\archive");
  EXPECT_EQ(z.SpillFileName(), "dir.d\\archive.tmp2");
  z.SetFileName("dir/a.b.zip");
  EXPECT_EQ(z.SpillFileName(), "dir/a.b.tmp2");
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
    std::string before = FileName();
    EXPECT_EQ(MessageOf<EZipError>([&] { SetFileName("elsewhere.zip"); }),
              "Changing output file name is not allowed while (un)zipping");
    EXPECT_EQ(FileName(), before);
    TZipper::WriteEntry(Entry);
  }
};

}  // namespace

TEST(TZipper, FileNameCannotChangeWhileBusy) {
  TScratchFolder s;
  TMemoryStream m;
  TBusyProbe z;
  EXPECT_FALSE(z.Busy());
  z.SetFileName(s.Path("a.zip"));
  z.AddStreamEntry(Fill(m, TextBytes(10)), "a.txt");
  z.WriteArchive();
  EXPECT_EQ(z.Calls, 1);
  EXPECT_FALSE(z.Busy());
  z.SetFileName(s.Path("b.zip"));
  EXPECT_EQ(z.FileName(), s.Path("b.zip"));
}

TEST(TZipper, StreamEntryWithoutNameIsRefusedBeforeWriting) {
  TScratchFolder s;
  TMemoryStream m1, m2;
  TZipper z;
  z.SetFileName(s.Path("a.zip"));
  z.AddStreamEntry(Fill(m1, TextBytes(10)), "a.txt");
  z.AddStreamEntry(Fill(m2, TextBytes(10)), "");
  EXPECT_EQ(MessageOf<EZipError>([&] { z.WriteArchive(); }),
            "Missing archive filename in streamed entry 1");
  EXPECT_FALSE(z.Busy());
  EXPECT_TRUE(FolderNames(s.Root()).empty());
}

TEST(TZipper, EmptyEntryListWritesNothing) {
  TScratchFolder s;
  TZipper z;
  z.SetFileName(s.Path("a.zip"));
  z.WriteArchive();
  EXPECT_TRUE(FolderNames(s.Root()).empty());
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
    std::string held;
    for (int i = 0; i < Entries().Count(); ++i) {
      try {
        TFileStream probe(Entries()[i].DiskFileName, fmOpenRead);
      } catch (const EFOpenError&) {
        held += Entries()[i].ArchiveFileName();
      }
    }
    Held.push_back(held);
    TZipper::WriteEntry(Entry);
  }
};

}  // namespace

TEST(TZipper, EntriesWithoutStreamAreOpenedOneAtATime) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  TOpenFilesProbe z;
  z.SetFileName(s.Path("a.zip"));
  for (const char* name : {"1", "2", "3"}) {
    WriteFile(f + name, TextBytes(1000));
    TZipFileEntry& e = z.Entries().Add();
    e.DiskFileName = f + name;
    e.SetArchiveFileName(name);
  }
  z.WriteArchive();
  EXPECT_EQ(z.Held, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(ParseArchive(ReadFile(s.Path("a.zip"))).Entries.size(), 3u);
  // None stays open afterwards.
  for (const char* name : {"1", "2", "3"}) EXPECT_TRUE(RemoveFile(f + name));
}

TEST(TZipper, EmptyEntryListWritesTheEndRecordWhenAsked) {
  TScratchFolder s;
  TZipper z;
  z.SetFileName(s.Path("a.zip"));
  z.WriteEmptyArchive = true;
  z.WriteArchive();
  TParsedArchive p = ParseArchive(ReadFile(s.Path("a.zip")));
  EXPECT_EQ(ReadFile(s.Path("a.zip")).size(), 22u);
  EXPECT_TRUE(p.Entries.empty());
  EXPECT_EQ(p.CentralOffset, 0u);
  EXPECT_EQ(FolderNames(s.Root()), std::vector<std::string>{"a.zip"});
}

TEST(TZipper, LongNameOutsideAsciiIsCutBetweenCharacters) {
  TScratchFolder s;
  TMemoryStream m;
  TZipper z;
  z.SetFileName(s.Path("a.zip"));
  std::string name;
  for (int i = 0; i < 150; ++i) name += "\xc3\xa9";  // 300 bytes
  z.AddStreamEntry(Fill(m, TextBytes(10)), name);
  z.WriteArchive();
  TParsedArchive p = ParseArchive(ReadFile(s.Path("a.zip")));
  ASSERT_EQ(p.Entries.size(), 1u);
  EXPECT_EQ(p.Entries[0].Name, name.substr(0, 254));
  EXPECT_EQ(Get16(p.Entries[0].LocalHeader, 6), 0x0800);
}

TEST(TZipper, LongNameIsCutTo255Bytes) {
  TScratchFolder s;
  TMemoryStream m;
  TZipper z;
  z.SetFileName(s.Path("a.zip"));
  std::string name(300, 'n');
  z.AddStreamEntry(Fill(m, TextBytes(10)), name);
  z.WriteArchive();
  TParsedArchive p = ParseArchive(ReadFile(s.Path("a.zip")));
  ASSERT_EQ(p.Entries.size(), 1u);
  EXPECT_EQ(p.Entries[0].Name, name.substr(0, 255));
  EXPECT_EQ(Get16(p.Entries[0].LocalHeader, 26), 255);
  EXPECT_EQ(Get16(p.Entries[0].CentralHeader, 28), 255);
}

TEST(TZipper, StreamIsWrittenWholeWhateverItsPosition) {
  TScratchFolder s;
  TMemoryStream stored, deflated;
  Bytes random = RandomBytes(3000, 4), text = TextBytes(3000);
  Fill(stored, random)->SetPosition(1000);
  Fill(deflated, text)->SetPosition(2999);
  TZipper z;
  z.SetFileName(s.Path("a.zip"));
  z.AddStreamEntry(&stored, "r");
  z.AddStreamEntry(&deflated, "t");
  z.WriteArchive();
  TParsedArchive p = ParseArchive(ReadFile(s.Path("a.zip")));
  ASSERT_EQ(p.Entries.size(), 2u);
  EXPECT_EQ(p.Entries[0].Data, random);
  EXPECT_EQ(p.Entries[1].Data, text);
}

namespace {

// A stream that claims a size without holding the data.
class TClaimedSizeStream : public TStream {
 public:
  explicit TClaimedSizeStream(int64_t Size) : Size_(Size) {}
  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    Pos_ = (Origin == soEnd ? Size_ : Origin == soCurrent ? Pos_ : 0) + Offset;
    return Pos_;
  }
  bool SetSize(int64_t) override { return false; }

 private:
  int64_t Size_;
  int64_t Pos_ = 0;
};

class TSmallLimitZipper : public TZipper {
 public:
  explicit TSmallLimitZipper(int64_t Limit) { FMaxArchiveSize = Limit; }
};

}  // namespace

TEST(TZipper, InputOf2GiBIsRefusedBeforeWriting) {
  TScratchFolder s;
  TMemoryStream small;
  TClaimedSizeStream huge(int64_t{1} << 31);
  TZipper z;
  z.SetFileName(s.Path("a.zip"));
  z.AddStreamEntry(Fill(small, TextBytes(10)), "small");
  z.AddStreamEntry(&huge, "huge.bin");
  EXPECT_EQ(MessageOf<EZipError>([&] { z.WriteArchive(); }),
            "File huge.bin is too large for a ZIP archive");
  EXPECT_TRUE(FolderNames(s.Root()).empty());
}

TEST(TZipper, MoreThan65535EntriesAreRefusedBeforeWriting) {
  TScratchFolder s;
  TMemoryStream m;
  TZipper z;
  z.SetFileName(s.Path("a.zip"));
  for (int i = 0; i < 65536; ++i) z.AddStreamEntry(&m, "e");
  EXPECT_EQ(MessageOf<EZipError>([&] { z.WriteArchive(); }),
            "Too many entries for a ZIP archive: 65536");
  EXPECT_TRUE(FolderNames(s.Root()).empty());
}

TEST(TZipper, ArchivePassingTheOffsetLimitIsRefusedAndTheOldOneKept) {
  TScratchFolder s;
  std::string a = s.Path("a.zip");
  WriteFile(a, TextBytes(50));
  TMemoryStream m1, m2;
  Bytes r1 = RandomBytes(600, 5), r2 = RandomBytes(600, 6);
  {
    // Two stored entries of 600 bytes need 30 + 1 + 600 each.
    TSmallLimitZipper z(1200);
    z.SetFileName(a);
    z.AddStreamEntry(Fill(m1, r1), "1");
    z.AddStreamEntry(Fill(m2, r2), "2");
    EXPECT_EQ(MessageOf<EZipError>([&] { z.WriteArchive(); }),
              "ZIP archive " + a + " would exceed 2 GiB");
    EXPECT_EQ(B(ReadFile(a)), TextBytes(50));
    EXPECT_EQ(FolderNames(s.Root()), std::vector<std::string>{"a.zip"});
  }
  {
    // The entries fit, the central directory does not.
    TSmallLimitZipper z(2 * 631 + 46);
    z.SetFileName(a);
    z.AddStreamEntry(Fill(m1, r1), "1");
    z.AddStreamEntry(Fill(m2, r2), "2");
    EXPECT_THROW(z.WriteArchive(), EZipError);
    EXPECT_EQ(B(ReadFile(a)), TextBytes(50));
  }
  TSmallLimitZipper z(2 * 631 + 2 * 47 + 22);
  z.SetFileName(a);
  z.AddStreamEntry(Fill(m1, r1), "1");
  z.AddStreamEntry(Fill(m2, r2), "2");
  z.WriteArchive();
  Bytes raw = B(ReadFile(a));
  EXPECT_EQ(raw.size(), 2u * 631 + 2 * 47 + 22);
  EXPECT_EQ(ParseArchive(raw).Entries.size(), 2u);
}

TEST(TZipper, EntryWithoutStreamIsReadFromItsDiskFile) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  Bytes text = TextBytes(2000);
  WriteFile(f + "d.txt", text);
  TZipper z;
  z.SetFileName(s.Path("a.zip"));
  TZipFileEntry& e = z.Entries().Add();
  e.DiskFileName = f + "d.txt";
  e.SetArchiveFileName("d.txt");
  z.WriteArchive();
  TParsedArchive p = ParseArchive(ReadFile(s.Path("a.zip")));
  ASSERT_EQ(p.Entries.size(), 1u);
  EXPECT_EQ(p.Entries[0].Name, "d.txt");
  EXPECT_EQ(p.Entries[0].Data, text);
}

TEST(PackFolder, LockedFileFailsAndKeepsThePreviousArchive) {
  TScratchFolder s;
  std::string f = s.Folder("in");
  WriteFile(f + "a.txt", TextBytes(100));
  WriteFile(f + "locked.txt", TextBytes(100));
  std::string a = s.Path("out.zip");
  Bytes previous = TextBytes(321);
  WriteFile(a, previous);
  {
    TFileStream holder(f + "locked.txt", fmOpenRead);
    EXPECT_EQ(MessageOf<EFOpenError>([&] { PackFolder(f, a); }),
              "Unable to open file \"" + f + "locked.txt\"");
  }
  EXPECT_EQ(B(ReadFile(a)), previous);
  EXPECT_EQ(FolderNames(s.Root()), (std::vector<std::string>{"in", "out.zip"}));
  // Once released, the same folder packs.
  PackFolder(f, a);
  EXPECT_EQ(ParseArchive(ReadFile(a)).Entries.size(), 2u);
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
  for (const Bytes& data : {TextBytes(3000), RandomBytes(3000, 10)}) {
    TScratchFolder s;
    std::string a = s.Path("a.zip");
    WriteFile(a, TextBytes(10));
    TShrunkStream m;
    m.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
    TZipper z;
    z.SetFileName(a);
    z.AddStreamEntry(&m, "short");
    EXPECT_EQ(MessageOf<EReadError>([&] { z.WriteArchive(); }), "Stream read error");
    EXPECT_EQ(B(ReadFile(a)), TextBytes(10));
    EXPECT_EQ(FolderNames(s.Root()), std::vector<std::string>{"a.zip"});
  }
}

TEST(TZipper, DamagedLocalHeadersStopTheDirectoryWithAnError) {
  // Junk that does and junk that does not look like a record.
  for (const Bytes& junk : {Bytes(40, 0), Bytes{'P', 'K', 1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                            Bytes{'P', 'K', 3, 4}}) {
    TScratchFolder s;
    std::string a = s.Path("a.zip");
    WriteFile(a, TextBytes(10));
    TMemoryStream m1, m2;
    TJunkZipper z;
    z.Junk = junk;
    z.SetFileName(a);
    z.AddStreamEntry(Fill(m1, TextBytes(500)), "1");
    z.AddStreamEntry(Fill(m2, TextBytes(500)), "2");
    try {
      z.WriteArchive();
      ADD_FAILURE() << "no failure raised";
    } catch (const EZipError& e) {
      EXPECT_EQ(e.Message(), "Corrupt ZIP file " + a);
    } catch (const EReadError&) {
      // a header cut short by the end of the file
    }
    EXPECT_EQ(B(ReadFile(a)), TextBytes(10));
    EXPECT_EQ(FolderNames(s.Root()), std::vector<std::string>{"a.zip"});
  }
}
