// A folder packed by PackFolder and extracted by ExtractArchive comes back
// with the same names and bytes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/zip_writer_support.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

using namespace qbtest;

namespace {

std::map<std::string, Bytes> FolderContents(const fsys::path& Folder) {
  std::map<std::string, Bytes> Files;
  for (const auto& E : fsys::directory_iterator(Folder)) Files[E.path().filename().u8string()] = B(ReadFile(E.path()));
  return Files;
}

void RoundTrip(const TScratchFolder& S, const std::map<std::string, Bytes>& Files) {
  std::string In = S.Folder("in");
  for (const auto& [Name, Data] : Files) WriteFile(In + Name, Data);
  std::string Archive = S.Path("packed.zip");
  PackFolder(In, Archive);
  std::string Out = S.Folder("out");
  ExtractArchive(Archive, Out);
  EXPECT_EQ(FolderContents(S.Root() / "out"), Files);
}

// A tree as relative names ("/" between levels, a final "/" for a folder)
// and the contents of the files, made and read through std::filesystem.
using TTree = std::map<std::string, std::string>;

void MakeTree(const std::string& Root, const TTree& Tree) {
  for (const auto& [Name, Data] : Tree) {
    const fsys::path Path = qbtest::U8(Root + Name);
    fsys::create_directories(Name.back() == '/' ? Path : Path.parent_path());
    if (Name.back() != '/') WriteFile(Path, Data);
  }
}

TTree ReadTree(const std::string& Folder) {
  TTree Tree;
  fsys::path Root = qbtest::U8(Folder);
  if (!Root.has_filename()) Root = Root.parent_path();  // a trailing separator
  for (const auto& E : fsys::recursive_directory_iterator(Root)) {
    const std::string Name = E.path().lexically_relative(Root).generic_u8string();
    if (E.is_directory())
      Tree[Name + "/"] = "";
    else
      Tree[Name] = ReadFile(E.path());
  }
  return Tree;
}

}  // namespace

TEST(PackAndExtract, SubfoldersEmptyFoldersAndNamesOutsideAscii) {
  TScratchFolder S;
  const Bytes Random = RandomBytes(30000, 13);
  const TTree Tree = {{"top.txt", "top"},
                      {"sub/", ""},
                      {"sub/a.txt", std::string(5000, 'a')},
                      {"sub/deeper/", ""},
                      {"sub/deeper/random.bin", std::string(Random.begin(), Random.end())},
                      {"sub/empty/", ""},
                      {"caf\xc3\xa9/", ""},
                      {"caf\xc3\xa9/\xc3\xbc\xc3\x9f.txt", "utf-8"},
                      {"vide/", ""},
                      {"vide/encore/", ""}};
  const std::string In = S.Folder("in");
  MakeTree(In, Tree);
  PackFolder(In, S.Path("packed.zip"));
  const std::string Out = S.Folder("out");
  ExtractArchive(S.Path("packed.zip"), Out);
  EXPECT_EQ(ReadTree(Out), Tree);
}

TEST(PackAndExtract, EmptyFolder) {
  TScratchFolder S;
  PackFolder(S.Folder("in"), S.Path("packed.zip"));
  const std::string Out = S.Folder("out");
  ExtractArchive(S.Path("packed.zip"), Out);
  EXPECT_TRUE(ReadTree(Out).empty());
}

TEST(PackAndExtract, EmptyRandomAndTextFiles) {
  TScratchFolder S;
  RoundTrip(
      S, {{"empty", {}}, {"random.bin", RandomBytes(70000, 11)}, {"text.txt", TextBytes(120000)}, {"one.byte", {'!'}}});
}

TEST(PackAndExtract, InputAboveTheInMemoryLimit) {
  TScratchFolder S;
  Bytes Big = TextBytes(10240001 + 4096);
  Bytes Noise = RandomBytes(10240001, 12);
  RoundTrip(S, {{"big.txt", Big}, {"noise.bin", Noise}, {"small.txt", TextBytes(10)}});
}

TEST(PackAndExtract, AnyNumberOfWorkersGivesTheSameArchiveAndTree) {
  // Files on both sides of what workers encode ahead, more than their
  // memory budget holds at once, data that is stored, and empty files.
  TScratchFolder S;
  TTree Tree = {{"big.txt", std::string(1100000, 'b')}, {"empty", ""}, {"sub/", ""}, {"sub/deep/", ""}};
  for (int I = 0; I < 8; ++I) {
    const Bytes Noise = RandomBytes(300000, 20 + I);
    Tree["sub/noise" + std::to_string(I) + ".bin"] = std::string(Noise.begin(), Noise.end());
  }
  for (int I = 0; I < 40; ++I)
    Tree["sub/deep/t" + std::to_string(I) + ".txt"] = std::string(100 + 37 * I, 'a' + I % 26);
  const std::string In = S.Folder("in");
  MakeTree(In, Tree);
  PackFolder(In, S.Path("one.zip"), 1);
  const std::string One = ReadFile(S.Path("one.zip"));
  for (int Workers : {1, 2, 8}) {
    SCOPED_TRACE(Workers);
    PackFolder(In, S.Path("many.zip"), Workers);
    EXPECT_TRUE(ReadFile(S.Path("many.zip")) == One);
    const std::string Out = S.Folder("out" + std::to_string(Workers));
    ExtractArchive(S.Path("many.zip"), Out, Workers);
    EXPECT_EQ(ReadTree(Out), Tree);
  }
}
