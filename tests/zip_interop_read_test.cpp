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

namespace stdfs = std::filesystem;

namespace {

bool HaveTool(const std::string& Tool) {
  return std::system(("command -v " + Tool + " > /dev/null 2>&1").c_str()) == 0;
}

#define REQUIRE_TOOL(tool) \
  if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed"

std::string Quote(const std::string& S) {
  std::string q = "'";
  for (char c : S) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Relative path -> content ("<dir>" for folders).
std::map<std::string, std::string> Tree(const stdfs::path& Root) {
  std::map<std::string, std::string> t;
  for (const auto& e : stdfs::recursive_directory_iterator(Root)) {
    const std::string rel = stdfs::relative(e.path(), Root).generic_string();
    t[rel] = e.is_directory() ? "<dir>" : qbtest::ReadFile(e.path());
  }
  return t;
}

class ZipInteropRead : public ::testing::Test {
 protected:
  void SetUp() override {
    Src = Root / "src";
    Out = Root / "out";
    stdfs::create_directories(Src / "nested" / "deeper");
    stdfs::create_directories(Src / "emptydir");
    std::mt19937 gen(42);
    std::string random(200000, '\0');  // more than one 131,072-byte stored chunk
    for (char& c : random) c = static_cast<char>(gen());
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) text += "entry " + std::to_string(i % 977) + " gloss\n";
    Put("random.bin", random);
    Put("text.txt", text);
    Put("empty.txt", "");
    Put("nested/one.txt", "1");
    Put("nested/deeper/two.txt", text.substr(0, 12345));
    Put("caf\xc3\xa9.txt", "utf-8 name");
    Put("run.sh", "#!/bin/sh\necho hi\n");
    chmod((Src / "run.sh").c_str(), 0755);
  }
  void Put(const std::string& Rel, const std::string& Data) { qbtest::WriteFile(Src / Rel, Data); }
  // Runs Command in the source folder; the archive is Root/a.zip.
  void Make(const std::string& Command) {
    const std::string cmd = "cd " + Quote(Src.string()) + " && ( " + Command + " ) > /dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    ASSERT_TRUE(stdfs::exists(Archive())) << cmd;
  }
  std::string Archive() const { return (Root / "a.zip").string(); }
  void ExpectSameTree() {
    ExtractArchive(Archive(), Out.string());
    const auto want = Tree(Src), got = Tree(Out);
    EXPECT_EQ(got.size(), want.size());
    for (const auto& [name, data] : want) {
      auto it = got.find(name);
      if (it == got.end()) {
        ADD_FAILURE() << "missing " << name;
        continue;
      }
      EXPECT_TRUE(it->second == data) << "content differs: " << name;
    }
  }
  void ExpectExecutable() {
    struct stat st {};
    ASSERT_EQ(stat((Out / "run.sh").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0100, 0u) << "run.sh lost its execute bit";
  }
  qbtest::TScratchFolder Scratch;
  const stdfs::path& Root = Scratch.Root();
  stdfs::path Src, Out;
};

const char* kPython = "python3";

std::string PythonZip(const std::string& Method, const std::string& Target) {
  // Folders get their own entries; files are added with their bytes.
  return std::string(kPython) + " -c " +
         Quote("import os, sys, zipfile\n"
               "m = zipfile." + Method + "\n"
               "with zipfile.ZipFile(" + Target + ", 'w', m) as z:\n"
               "    for d, subs, files in sorted(os.walk('.')):\n"
               "        for s in sorted(subs):\n"
               "            z.write(os.path.join(d, s)[2:], os.path.join(d, s)[2:])\n"
               "        for f in sorted(files):\n"
               "            z.write(os.path.join(d, f)[2:], os.path.join(d, f)[2:])\n");
}

}  // namespace

TEST_F(ZipInteropRead, InfoZipDeflated) {
  REQUIRE_TOOL("zip");
  Make("zip -q -r ../a.zip .");
  ExpectSameTree();
  ExpectExecutable();
}

TEST_F(ZipInteropRead, InfoZipStored) {
  REQUIRE_TOOL("zip");
  Make("zip -q -0 -r ../a.zip .");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, InfoZipStreamedThroughPipe) {
  REQUIRE_TOOL("zip");
  // Written to a pipe, zip cannot seek back: sizes go in data descriptors.
  Make("zip -q -r - . | cat > ../a.zip");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, InfoZipStoredStreamedThroughPipe) {
  REQUIRE_TOOL("zip");
  Make("zip -q -0 -r - . | cat > ../a.zip");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, PythonStored) {
  REQUIRE_TOOL(kPython);
  Make(PythonZip("ZIP_STORED", "'../a.zip'"));
  ExpectSameTree();
  ExpectExecutable();
}

TEST_F(ZipInteropRead, PythonDeflated) {
  REQUIRE_TOOL(kPython);
  Make(PythonZip("ZIP_DEFLATED", "'../a.zip'"));
  ExpectSameTree();
}

TEST_F(ZipInteropRead, PythonStreamed) {
  REQUIRE_TOOL(kPython);
  Make(PythonZip("ZIP_STORED", "sys.stdout.buffer") + " | cat > ../a.zip");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, Bsdtar) {
  REQUIRE_TOOL("bsdtar");
  Make("bsdtar --format zip -cf ../a.zip *");
  ExpectSameTree();
  ExpectExecutable();
}

TEST_F(ZipInteropRead, BsdtarStored) {
  REQUIRE_TOOL("bsdtar");
  Make("bsdtar --format zip --options zip:compression=store -cf ../a.zip *");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, SevenZip) {
  REQUIRE_TOOL("7z");
  Make("7z a -tzip ../a.zip .");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, SevenZipStored) {
  REQUIRE_TOOL("7z");
  Make("7z a -tzip -mx=0 ../a.zip .");
  ExpectSameTree();
}

TEST_F(ZipInteropRead, ArchiveCommentIsCorrupt) {
  REQUIRE_TOOL("zip");
  Make("zip -q -r ../a.zip . && echo 'a comment' | zip -q -z ../a.zip");
  try {
    ExtractArchive(Archive(), Out.string());
    FAIL() << "no failure";
  } catch (const EZipError& e) {
    EXPECT_EQ(e.Message(), "Corrupt ZIP file " + Archive());
  }
}

TEST_F(ZipInteropRead, EncryptedEntriesRefused) {
  REQUIRE_TOOL("zip");
  Make("zip -q -P secret ../a.zip text.txt");
  try {
    ExtractArchive(Archive(), Out.string());
    FAIL() << "no failure";
  } catch (const EZipError& e) {
    EXPECT_EQ(e.Message(), "Encrypted entry text.txt is not supported");
  }
  EXPECT_FALSE(stdfs::exists(Out / "text.txt"));
}

TEST_F(ZipInteropRead, OtherMethodsUnsupported) {
  REQUIRE_TOOL("7z");
  Make("7z a -tzip -mm=BZip2 ../a.zip text.txt");
  try {
    ExtractArchive(Archive(), Out.string());
    FAIL() << "no failure";
  } catch (const EZipError& e) {
    EXPECT_EQ(e.Message(), "Unsupported compression format 12");
  }
  EXPECT_TRUE(stdfs::exists(Out / "text.txt"));
  EXPECT_EQ(stdfs::file_size(Out / "text.txt"), 0u);
}

TEST_F(ZipInteropRead, DamagedStoredDataIsRefusedAsUnzipRefusesIt) {
  REQUIRE_TOOL("zip");
  REQUIRE_TOOL("unzip");
  Make("zip -q -0 ../a.zip random.bin");
  {
    std::fstream f(Archive(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekg(100000);
    const char c = static_cast<char>(f.get());
    f.seekp(100000);
    f.put(static_cast<char>(c ^ 0x10));
  }
  EXPECT_NE(std::system(("unzip -tq " + Quote(Archive()) + " > /dev/null 2>&1").c_str()), 0);
  try {
    ExtractArchive(Archive(), Out.string());
    FAIL() << "no failure";
  } catch (const EZipError& e) {
    EXPECT_EQ(e.Message(), "Entry \"random.bin\" of ZIP file " + Archive() + " is damaged: CRC-32 mismatch");
  }
}
