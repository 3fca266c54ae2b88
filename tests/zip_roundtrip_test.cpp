// A folder packed by PackFolder and extracted by ExtractArchive comes back
// with the same names and bytes.
#include <gtest/gtest.h>

#include <map>

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

}  // namespace

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
