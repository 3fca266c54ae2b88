// Archives written by PackFolder are accepted by the common zip tools, and
// each of them extracts the same bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>

#include "tests/zip_writer_support.h"
#include "zip/zip_writer.h"

using namespace zipw;

namespace {

std::string Quote(const std::string& S) {
  std::string q = "'";
  for (char c : S) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool HaveTool(const std::string& Tool) {
  return std::system(("command -v " + Tool + " >/dev/null 2>&1").c_str()) == 0;
}

int RunShell(const std::string& Command) {
  int rc = std::system((Command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::map<std::string, Bytes> FolderContents(const stdfs::path& Folder) {
  std::map<std::string, Bytes> files;
  for (const auto& e : stdfs::recursive_directory_iterator(Folder))
    if (e.is_regular_file())
      files[stdfs::relative(e.path(), Folder).string()] = ReadFile(e.path().string());
  return files;
}

struct TTool {
  std::string Program;  // what must be installed
  std::string Test;     // %a: the archive
  std::string Extract;  // %a: the archive, %d: the output folder
};

void PrintTo(const TTool& Tool, std::ostream* Out) { *Out << Tool.Program; }

std::string Fill(std::string T, const std::string& Archive, const std::string& Folder) {
  for (size_t p; (p = T.find("%a")) != std::string::npos;) T.replace(p, 2, Quote(Archive));
  for (size_t p; (p = T.find("%d")) != std::string::npos;) T.replace(p, 2, Quote(Folder));
  return T;
}

class ZipToolsRead : public ::testing::TestWithParam<TTool> {
 protected:
  // Packs Files and checks the tool's test and extraction.
  void Check(const std::map<std::string, Bytes>& Files) {
    const TTool& tool = GetParam();
    if (!HaveTool(tool.Program)) GTEST_SKIP() << tool.Program << " is not installed";
    TScratch s;
    std::string in = s.Folder("in");
    for (const auto& [name, data] : Files) WriteFile(in + name, data);
    std::string archive = s.Path("packed.zip");
    PackFolder(in, archive);
    EXPECT_EQ(RunShell(Fill(tool.Test, archive, "")), 0) << tool.Test;
    std::string out = s.Folder("out");
    EXPECT_EQ(RunShell(Fill(tool.Extract, archive, s.Path("out"))), 0) << tool.Extract;
    EXPECT_EQ(FolderContents(s.Root / "out"), Files);
  }
};

}  // namespace

TEST_P(ZipToolsRead, EmptyRandomAndTextFiles) {
  Check({{"empty", {}},
         {"random.bin", RandomBytes(40000, 21)},
         {"text.txt", TextBytes(90000)},
         {"a name with spaces.txt", TextBytes(300)}});
}

TEST_P(ZipToolsRead, LargeEntriesOnBothSidesOfTheInMemoryLimit) {
  Check({{"big.txt", TextBytes(10500000)}, {"noise.bin", RandomBytes(10240001, 22)}});
}

TEST_P(ZipToolsRead, SingleEmptyFile) { Check({{"nothing", {}}}); }

INSTANTIATE_TEST_SUITE_P(
    Tools, ZipToolsRead,
    ::testing::Values(TTool{"unzip", "unzip -tq %a", "unzip -q -o %a -d %d"},
                      // zipfile -t reports a damaged member on its output, not in its
                      // exit code.
                      TTool{"python3",
                            "r=$(python3 -m zipfile -t %a 2>&1) && case \"$r\" in "
                            "*corrupted*) exit 1;; esac",
                            "python3 -m zipfile -e %a %d"},
                      TTool{"bsdtar", "bsdtar -tf %a", "bsdtar -xf %a -C %d"},
                      TTool{"7z", "7z t %a", "7z x -y -o%d %a"}),
    [](const ::testing::TestParamInfo<TTool>& Info) { return Info.param.Program; });
