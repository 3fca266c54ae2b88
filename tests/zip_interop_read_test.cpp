// Archives made by the standard zip tools (Info-ZIP zip, Python's zipfile,
// bsdtar, 7z) extract with ExtractArchive to exactly the bytes the tools put
// in, or fail with the reader's own failure classes where the archive lies
// outside what the reader accepts. Native only: the tools are Linux programs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>

#include "runtime/exceptions.h"
#include "tests/test_support.h"
#include "zip/zip_reader.h"

namespace fsys = qbtest::fsys;
using qbtest::FailureOf;
using qbtest::HaveTool;
using qbtest::ShellQuote;

namespace {

#define QB_REQUIRE_TOOL(tool) \
  if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed"

// Relative path -> content ("<dir>" for folders).
std::map<std::string, std::string> Tree(const fsys::path& Root) {
  std::map<std::string, std::string> T;
  for (const auto& E : fsys::recursive_directory_iterator(Root)) {
    const std::string Rel = fsys::relative(E.path(), Root).generic_string();
    T[Rel] = E.is_directory() ? "<dir>" : qbtest::ReadFile(E.path());
  }
  return T;
}

class ZipInteropRead : public ::testing::Test {
 protected:
  void SetUp() override {
    FSrc = FRoot / "src";
    FOut = FRoot / "out";
    fsys::create_directories(FSrc / "nested" / "deeper");
    fsys::create_directories(FSrc / "emptydir");
    std::mt19937 Gen(42);
    std::string Random(200000, '\0');  // more than one 131,072-byte stored chunk
    for (char& C : Random) C = static_cast<char>(Gen());
    std::string Text;
    for (int I = 0; Text.size() < 300000; ++I) Text += "entry " + std::to_string(I % 977) + " gloss\n";
    Put("random.bin", Random);
    Put("text.txt", Text);
    Put("empty.txt", "");
    Put("nested/one.txt", "1");
    Put("nested/deeper/two.txt", Text.substr(0, 12345));
    Put("caf\xc3\xa9.txt", "utf-8 name");
    Put("run.sh", "#!/bin/sh\necho hi\n");
    chmod((FSrc / "run.sh").c_str(), 0755);
  }
  void Put(const std::string& Rel, const std::string& Data) { qbtest::WriteFile(FSrc / Rel, Data); }
  // Runs Command in the source folder; the archive is Root/a.zip.
  void Make(const std::string& Command) {
    const std::string Cmd = "cd " + ShellQuote(FSrc.string()) + " && ( " + Command + " ) > /dev/null 2>&1";
    ASSERT_EQ(std::system(Cmd.c_str()), 0) << Cmd;
    ASSERT_TRUE(fsys::exists(Archive())) << Cmd;
  }
  std::string Archive() const { return (FRoot / "a.zip").string(); }
  // The message of the extraction's failure.
  std::string ExtractionFailure() const {
    return FailureOf<EZipError>([&] { ExtractArchive(Archive(), FOut.string()); });
  }
  void ExpectSameTree() {
    ExtractArchive(Archive(), FOut.string());
    const auto Want = Tree(FSrc), Got = Tree(FOut);
    EXPECT_EQ(Got.size(), Want.size());
    for (const auto& [Name, Data] : Want) {
      auto It = Got.find(Name);
      if (It == Got.end()) {
        ADD_FAILURE() << "missing " << Name;
        continue;
      }
      EXPECT_TRUE(It->second == Data) << "content differs: " << Name;
    }
  }
  void ExpectExecutable() {
    struct stat St {};
    ASSERT_EQ(stat((FOut / "run.sh").c_str(), &St), 0);
    EXPECT_NE(St.st_mode & 0100, 0u) << "run.sh lost its execute bit";
  }
  qbtest::TScratchFolder FScratch;
  const fsys::path& FRoot = FScratch.Root();
  fsys::path FSrc, FOut;
};

const char* PythonCommand = "python3";

std::string PythonZip(const std::string& Method, const std::string& Target) {
  // Folders get their own entries; files are added with their bytes.
  return std::string(PythonCommand) + " -c " +
         ShellQuote(
             "import os, sys, zipfile\n"
             "m = zipfile." +
             Method +
             "\n"
             "with zipfile.ZipFile(" +
             Target +
             ", 'w', m) as z:\n"
             "    for d, subs, files in sorted(os.walk('.')):\n"
             "        for s in sorted(subs):\n"
             "            z.write(os.path.join(d, s)[2:], os.path.join(d, s)[2:])\n"
             "        for f in sorted(files):\n"
             "            z.write(os.path.join(d, f)[2:], os.path.join(d, f)[2:])\n");
}

}  // namespace

TEST_F(ZipInteropRead, InfoZipDeflated) {
  QB_REQUIRE_TOOL("zip");
  Make("zip -q -r ../a.zip .");
  ExpectSameTree();
  ExpectExecutable();
}

TEST_F(ZipInteropRead, InfoZipStored) {
  QB_REQUIRE_TOOL("zip");
  Make("zip -q -0 -r ../a.zip .");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, InfoZipStreamedThroughPipe) {
  QB_REQUIRE_TOOL("zip");
  // Written to a pipe, zip cannot seek back: sizes go in data descriptors.
  Make("zip -q -r - . | cat > ../a.zip");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, InfoZipStoredStreamedThroughPipe) {
  QB_REQUIRE_TOOL("zip");
  Make("zip -q -0 -r - . | cat > ../a.zip");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, PythonStored) {
  QB_REQUIRE_TOOL(PythonCommand);
  Make(PythonZip("ZIP_STORED", "'../a.zip'"));
  ExpectSameTree();
  ExpectExecutable();
}

TEST_F(ZipInteropRead, PythonDeflated) {
  QB_REQUIRE_TOOL(PythonCommand);
  Make(PythonZip("ZIP_DEFLATED", "'../a.zip'"));
  ExpectSameTree();
}

TEST_F(ZipInteropRead, PythonStreamed) {
  QB_REQUIRE_TOOL(PythonCommand);
  Make(PythonZip("ZIP_STORED", "sys.stdout.buffer") + " | cat > ../a.zip");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, Bsdtar) {
  QB_REQUIRE_TOOL("bsdtar");
  Make("bsdtar --format zip -cf ../a.zip *");
  ExpectSameTree();
  ExpectExecutable();
}

TEST_F(ZipInteropRead, BsdtarStored) {
  QB_REQUIRE_TOOL("bsdtar");
  Make("bsdtar --format zip --options zip:compression=store -cf ../a.zip *");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, SevenZip) {
  QB_REQUIRE_TOOL("7z");
  Make("7z a -tzip ../a.zip .");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, SevenZipStored) {
  QB_REQUIRE_TOOL("7z");
  Make("7z a -tzip -mx=0 ../a.zip .");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, ArchiveCommentIsCorrupt) {
  QB_REQUIRE_TOOL("zip");
  Make("zip -q -r ../a.zip . && echo 'a comment' | zip -q -z ../a.zip");
  EXPECT_EQ(ExtractionFailure(), "Corrupt ZIP file " + Archive());
}

TEST_F(ZipInteropRead, EncryptedEntriesRefused) {
  QB_REQUIRE_TOOL("zip");
  Make("zip -q -P secret ../a.zip text.txt");
  EXPECT_EQ(ExtractionFailure(), "Encrypted entry text.txt is not supported");
  EXPECT_FALSE(fsys::exists(FOut / "text.txt"));
}

TEST_F(ZipInteropRead, OtherMethodsUnsupported) {
  QB_REQUIRE_TOOL("7z");
  Make("7z a -tzip -mm=BZip2 ../a.zip text.txt");
  EXPECT_EQ(ExtractionFailure(), "Unsupported compression format 12");
  EXPECT_TRUE(fsys::exists(FOut / "text.txt"));
  EXPECT_EQ(fsys::file_size(FOut / "text.txt"), 0u);
}

TEST_F(ZipInteropRead, DamagedStoredDataIsRefusedAsUnzipRefusesIt) {
  QB_REQUIRE_TOOL("zip");
  QB_REQUIRE_TOOL("unzip");
  Make("zip -q -0 ../a.zip random.bin");
  {
    std::fstream F(Archive(), std::ios::in | std::ios::out | std::ios::binary);
    F.seekg(100000);
    const char C = static_cast<char>(F.get());
    F.seekp(100000);
    F.put(static_cast<char>(C ^ 0x10));
  }
  EXPECT_NE(std::system(("unzip -tq " + ShellQuote(Archive()) + " > /dev/null 2>&1").c_str()), 0);
  EXPECT_EQ(ExtractionFailure(), "Entry \"random.bin\" of ZIP file " + Archive() + " is damaged: CRC-32 mismatch");
}
