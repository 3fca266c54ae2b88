// Archives written by PackFolder are accepted by the common zip tools, and
// each of them extracts the same bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

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
      files[stdfs::relative(e.path(), Folder).string()] = B(ReadFile(e.path()));
  return files;
}

// Relative names of the folders under Folder, each with a final "/".
std::set<std::string> Subfolders(const stdfs::path& Folder) {
  std::set<std::string> folders;
  for (const auto& e : stdfs::recursive_directory_iterator(Folder))
    if (e.is_directory()) folders.insert(stdfs::relative(e.path(), Folder).string() + "/");
  return folders;
}

// Relative name -> permission bits of everything under Folder.
std::map<std::string, unsigned> Modes(const stdfs::path& Folder) {
  std::map<std::string, unsigned> modes;
  for (const auto& e : stdfs::recursive_directory_iterator(Folder)) {
    struct stat st {};
    if (stat(e.path().c_str(), &st) == 0)
      modes[stdfs::relative(e.path(), Folder).string()] = st.st_mode & 07777;
  }
  return modes;
}

// The standard output of a shell command, and its exit code.
std::string Output(const std::string& Command, int& Code) {
  std::string out;
  FILE* p = popen((Command + " 2>&1").c_str(), "r");
  if (p == nullptr) {
    Code = -1;
    return out;
  }
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int rc = pclose(p);
  Code = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
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
  // Packs Files (names with "/" between folders) and the folders Empty,
  // and checks the tool's test and extraction.
  void Check(const std::map<std::string, Bytes>& Files, const std::set<std::string>& Empty = {}) {
    const TTool& tool = GetParam();
    if (!HaveTool(tool.Program)) GTEST_SKIP() << tool.Program << " is not installed";
    TScratchFolder s;
    std::string in = s.Folder("in");
    for (const std::string& folder : Empty) s.Folder("in/" + folder);
    for (const auto& [name, data] : Files) {
      stdfs::create_directories((s.Root() / "in" / name).parent_path());
      WriteFile(in + name, data);
    }
    std::string archive = s.Path("packed.zip");
    PackFolder(in, archive);
    EXPECT_EQ(RunShell(Fill(tool.Test, archive, "")), 0) << tool.Test;
    std::string out = s.Folder("out");
    EXPECT_EQ(RunShell(Fill(tool.Extract, archive, s.Path("out"))), 0) << tool.Extract;
    EXPECT_EQ(FolderContents(s.Root() / "out"), Files);
    EXPECT_EQ(Subfolders(s.Root() / "out"), Subfolders(s.Root() / "in"));
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

TEST_P(ZipToolsRead, SubfoldersEmptyFoldersAndNamesOutsideAscii) {
  Check({{"top.txt", TextBytes(100)},
         {"sub/x.txt", TextBytes(5000)},
         {"sub/deeper/random.bin", RandomBytes(3000, 23)},
         {"caf\xc3\xa9.txt", TextBytes(10)},
         {"\xc3\xbc/\xc3\x9f \xe2\x82\xac.txt", TextBytes(20)}},
        {"sub/empty", "vide", "\xc3\xa9t\xc3\xa9/hiver"});
}

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

// The names outside ASCII and the permission bits as Debian's unzip and
// Python's zipfile extract them: the UTF-8 names, and the tools' own
// defaults under the umask (no bits invented by the archive).
TEST(ZipToolsNames, UnzipAndPythonGiveUtf8NamesAndUmaskModes) {
  const mode_t oldMask = umask(022);
  TScratchFolder s;
  std::string in = s.Folder("in");
  s.Folder("in/vide");
  s.Folder("in/\xc3\xbc");
  WriteFile(in + "caf\xc3\xa9.txt", TextBytes(10));
  WriteFile(in + "\xc3\xbc/\xc3\x9f.txt", TextBytes(20));
  WriteFile(in + "plain.txt", TextBytes(30));
  std::string archive = s.Path("packed.zip");
  PackFolder(in, archive);
  const std::map<std::string, unsigned> want = {{"caf\xc3\xa9.txt", 0644}, {"\xc3\xbc", 0755},
                                                {"\xc3\xbc/\xc3\x9f.txt", 0644}, {"plain.txt", 0644},
                                                {"vide", 0755}};
  struct TExtractor {
    const char* Program;
    const char* Command;
  };
  for (const TExtractor& tool : {TExtractor{"unzip", "unzip -q -o %a -d %d"},
                                 TExtractor{"python3", "python3 -m zipfile -e %a %d"}}) {
    SCOPED_TRACE(tool.Program);
    if (!HaveTool(tool.Program)) continue;
    const std::string out = s.Path(std::string("out_") + tool.Program);
    EXPECT_EQ(RunShell(Fill(tool.Command, archive, out)), 0);
    EXPECT_EQ(Modes(out), want);
  }
  umask(oldMask);
}

TEST(ZipToolsNames, EmptyFolderGivesAnArchiveTheToolsReadAsEmpty) {
  TScratchFolder s;
  std::string archive = s.Path("empty.zip");
  PackFolder(s.Folder("in"), archive);
  int code = 0;
  if (HaveTool("unzip")) {
    const std::string out = Output("unzip -l " + Quote(archive), code);
    EXPECT_NE(out.find("zipfile is empty"), std::string::npos) << out;
    EXPECT_LE(code, 1) << out;  // 1: a warning, the archive is sound
  }
  if (HaveTool("python3")) {
    const std::string out = Output(
        "python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
            Quote(archive),
        code);
    EXPECT_EQ(out, "0\n");
    EXPECT_EQ(code, 0);
  }
  if (HaveTool("bsdtar")) {
    EXPECT_EQ(Output("bsdtar -tf " + Quote(archive), code), "");
    EXPECT_EQ(code, 0);
  }
}
