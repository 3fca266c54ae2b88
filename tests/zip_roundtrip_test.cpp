// A folder packed by PackFolder and extracted by ExtractArchive comes back
// with the same names and bytes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "tests/zip_writer_support.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

using namespace zipw;

namespace {

std::map<std::string, Bytes> FolderContents(const stdfs::path& Folder) {
  std::map<std::string, Bytes> files;
  for (const auto& e : stdfs::directory_iterator(Folder))
    files[e.path().filename().string()] = ReadFile(e.path().string());
  return files;
}

void RoundTrip(const TScratch& S, const std::map<std::string, Bytes>& Files) {
  std::string in = S.Folder("in");
  for (const auto& [name, data] : Files) WriteFile(in + name, data);
  std::string archive = S.Path("packed.zip");
  PackFolder(in, archive);
  std::string out = S.Folder("out");
  ExtractArchive(archive, out);
  EXPECT_EQ(FolderContents(S.Root / "out"), Files);
}

// A tree as relative names ("/" between levels, a final "/" for a folder)
// and the contents of the files. Made and read through the system's own
// services, so that names outside ASCII are UTF-8 on every platform.
using TTree = std::map<std::string, std::string>;

void MakeTree(const std::string& Root, const TTree& Tree) {
  for (const auto& [name, data] : Tree) {
    const std::string path = Root + NormalizeSeparators(name);
    if (name.back() == '/') {
      ASSERT_TRUE(ForceFolders(path)) << name;
      continue;
    }
    ForceFolders(ExtractFolderPart(path));
    TFileStream f(path, fmCreate);
    if (!data.empty()) f.WriteBuffer(data.data(), static_cast<int32_t>(data.size()));
  }
}

void ReadTree(const std::string& Folder, const std::string& Prefix, TTree& Tree) {
  std::vector<std::pair<std::string, bool>> children;
  TSearchRecord r;
  for (int rc = FindFirstEntry(Folder + "*", faAnyFile, r); rc == 0; rc = FindNextEntry(r))
    if (r.Name != "." && r.Name != "..") children.emplace_back(r.Name, (r.Attributes & faDirectory) != 0);
  FindEnd(r);
  for (const auto& [name, isFolder] : children) {
    if (isFolder) {
      Tree[Prefix + name + "/"] = "";
      ReadTree(Folder + name + PathSeparator, Prefix + name + "/", Tree);
    } else {
      TFileStream f(Folder + name, fmOpenRead);
      std::string data(static_cast<size_t>(f.Size()), '\0');
      if (!data.empty()) f.ReadBuffer(&data[0], static_cast<int32_t>(data.size()));
      Tree[Prefix + name] = data;
    }
  }
}

}  // namespace

TEST(PackAndExtract, SubfoldersEmptyFoldersAndNamesOutsideAscii) {
  TScratch s;
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
  TTree got;
  ReadTree(out, "", got);
  EXPECT_EQ(got, tree);
}

TEST(PackAndExtract, EmptyFolder) {
  TScratch s;
  PackFolder(s.Folder("in"), s.Path("packed.zip"));
  const std::string out = s.Folder("out");
  ExtractArchive(s.Path("packed.zip"), out);
  TTree got;
  ReadTree(out, "", got);
  EXPECT_TRUE(got.empty());
}

TEST(PackAndExtract, EmptyRandomAndTextFiles) {
  TScratch s;
  RoundTrip(s, {{"empty", {}},
                {"random.bin", RandomBytes(70000, 11)},
                {"text.txt", TextBytes(120000)},
                {"one.byte", {'!'}}});
}

TEST(PackAndExtract, InputAboveTheInMemoryLimit) {
  TScratch s;
  Bytes big = TextBytes(10240001 + 4096);
  Bytes noise = RandomBytes(10240001, 12);
  RoundTrip(s, {{"big.txt", big}, {"noise.bin", noise}, {"small.txt", TextBytes(10)}});
}
