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

using namespace zipw;

namespace {

std::map<std::string, Bytes> FolderContents(const stdfs::path& Folder) {
  std::map<std::string, Bytes> files;
  for (const auto& e : stdfs::directory_iterator(Folder)) files[e.path().filename().u8string()] = B(ReadFile(e.path()));
  return files;
}

void RoundTrip(const TScratchFolder& S, const std::map<std::string, Bytes>& Files) {
  std::string in = S.Folder("in");
  for (const auto& [name, data] : Files) WriteFile(in + name, data);
  std::string archive = S.Path("packed.zip");
  PackFolder(in, archive);
  std::string out = S.Folder("out");
  ExtractArchive(archive, out);
  EXPECT_EQ(FolderContents(S.Root() / "out"), Files);
}

// A tree as relative names ("/" between levels, a final "/" for a folder)
// and the contents of the files, made and read through std::filesystem.
using TTree = std::map<std::string, std::string>;

void MakeTree(const std::string& Root, const TTree& Tree) {
  for (const auto& [name, data] : Tree) {
    const stdfs::path path = qbtest::U8(Root + name);
    stdfs::create_directories(name.back() == '/' ? path : path.parent_path());
    if (name.back() != '/') WriteFile(path, data);
  }
}

TTree ReadTree(const std::string& Folder) {
  TTree tree;
  stdfs::path root = qbtest::U8(Folder);
  if (!root.has_filename()) root = root.parent_path();  // a trailing separator
  for (const auto& e : stdfs::recursive_directory_iterator(root)) {
    const std::string name = e.path().lexically_relative(root).generic_u8string();
    if (e.is_directory())
      tree[name + "/"] = "";
    else
      tree[name] = ReadFile(e.path());
  }
  return tree;
}

}  // namespace

TEST(PackAndExtract, SubfoldersEmptyFoldersAndNamesOutsideAscii) {
  TScratchFolder s;
  const Bytes random = RandomBytes(30000, 13);
  const TTree tree = {{"top.txt", "top"},
                      {"sub/", ""},
                      {"sub/a.txt", std::string(5000, 'a')},
                      {"sub/deeper/", ""},
                      {"sub/deeper/random.bin", std::string(random.begin(), random.end())},
                      {"sub/empty/", ""},
                      {"caf\xc3\xa9/", ""},
                      {"caf\xc3\xa9/\xc3\xbc\xc3\x9f.txt", "utf-8"},
                      {"vide/", ""},
                      {"vide/encore/", ""}};
  const std::string in = s.Folder("in");
  MakeTree(in, tree);
  PackFolder(in, s.Path("packed.zip"));
  const std::string out = s.Folder("out");
  ExtractArchive(s.Path("packed.zip"), out);
  EXPECT_EQ(ReadTree(out), tree);
}

TEST(PackAndExtract, EmptyFolder) {
  TScratchFolder s;
  PackFolder(s.Folder("in"), s.Path("packed.zip"));
  const std::string out = s.Folder("out");
  ExtractArchive(s.Path("packed.zip"), out);
  EXPECT_TRUE(ReadTree(out).empty());
}

TEST(PackAndExtract, EmptyRandomAndTextFiles) {
  TScratchFolder s;
  RoundTrip(s, {{"empty", {}},
                {"random.bin", RandomBytes(70000, 11)},
                {"text.txt", TextBytes(120000)},
                {"one.byte", {'!'}}});
}

TEST(PackAndExtract, InputAboveTheInMemoryLimit) {
  TScratchFolder s;
  Bytes big = TextBytes(10240001 + 4096);
  Bytes noise = RandomBytes(10240001, 12);
  RoundTrip(s, {{"big.txt", big}, {"noise.bin", noise}, {"small.txt", TextBytes(10)}});
}
