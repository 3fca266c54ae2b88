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

using namespace qbtest;

namespace {

int RunShell(const std::string& Command) {
  int Rc = std::system((Command + " >/dev/null 2>&1").c_str());
  return WIFEXITED(Rc) ? WEXITSTATUS(Rc) : -1;
}

std::map<std::string, Bytes> FolderContents(const fsys::path& Folder) {
  std::map<std::string, Bytes> Files;
  for (const auto& E : fsys::recursive_directory_iterator(Folder))
    if (E.is_regular_file()) Files[fsys::relative(E.path(), Folder).string()] = B(ReadFile(E.path()));
  return Files;
}

// Relative names of the folders under Folder, each with a final "/".
std::set<std::string> Subfolders(const fsys::path& Folder) {
  std::set<std::string> Folders;
  for (const auto& E : fsys::recursive_directory_iterator(Folder))
    if (E.is_directory()) Folders.insert(fsys::relative(E.path(), Folder).string() + "/");
  return Folders;
}

// Relative name -> permission bits of everything under Folder.
std::map<std::string, unsigned> Modes(const fsys::path& Folder) {
  std::map<std::string, unsigned> Modes;
  for (const auto& E : fsys::recursive_directory_iterator(Folder)) {
    struct stat St {};
    if (stat(E.path().c_str(), &St) == 0) Modes[fsys::relative(E.path(), Folder).string()] = St.st_mode & 07777;
  }
  return Modes;
}

// The standard output of a shell command, and its exit code.
std::string Output(const std::string& Command, int& Code) {
  std::string Out;
  FILE* P = popen((Command + " 2>&1").c_str(), "r");
  if (P == nullptr) {
    Code = -1;
    return Out;
  }
  char Buf[4096];
  for (size_t N; (N = fread(Buf, 1, sizeof Buf, P)) > 0;) Out.append(Buf, N);
  const int Rc = pclose(P);
  Code = WIFEXITED(Rc) ? WEXITSTATUS(Rc) : -1;
  return Out;
}

struct TTool {
  std::string Program;  // what must be installed
  std::string Test;     // %a: the archive
  std::string Extract;  // %a: the archive, %d: the output folder
};

void PrintTo(const TTool& Tool, std::ostream* Out) { *Out << Tool.Program; }

std::string Fill(std::string T, const std::string& Archive, const std::string& Folder) {
  for (size_t P; (P = T.find("%a")) != std::string::npos;) T.replace(P, 2, ShellQuote(Archive));
  for (size_t P; (P = T.find("%d")) != std::string::npos;) T.replace(P, 2, ShellQuote(Folder));
  return T;
}

class ZipToolsRead : public ::testing::TestWithParam<TTool> {
 protected:
  // Packs Files (names with "/" between folders) and the folders Empty,
  // and checks the tool's test and extraction.
  void Check(const std::map<std::string, Bytes>& Files, const std::set<std::string>& Empty = {}) {
    const TTool& Tool = GetParam();
    if (!HaveTool(Tool.Program)) GTEST_SKIP() << Tool.Program << " is not installed";
    TScratchFolder S;
    std::string In = S.Folder("in");
    for (const std::string& Folder : Empty) S.Folder("in/" + Folder);
    for (const auto& [Name, Data] : Files) {
      fsys::create_directories((S.Root() / "in" / Name).parent_path());
      WriteFile(In + Name, Data);
    }
    std::string Archive = S.Path("packed.zip");
    PackFolder(In, Archive);
    EXPECT_EQ(RunShell(Fill(Tool.Test, Archive, "")), 0) << Tool.Test;
    std::string Out = S.Folder("out");
    EXPECT_EQ(RunShell(Fill(Tool.Extract, Archive, S.Path("out"))), 0) << Tool.Extract;
    EXPECT_EQ(FolderContents(S.Root() / "out"), Files);
    EXPECT_EQ(Subfolders(S.Root() / "out"), Subfolders(S.Root() / "in"));
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

INSTANTIATE_TEST_SUITE_P(Tools, ZipToolsRead,
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
  const mode_t OldMask = umask(022);
  TScratchFolder S;
  std::string In = S.Folder("in");
  S.Folder("in/vide");
  S.Folder("in/\xc3\xbc");
  WriteFile(In + "caf\xc3\xa9.txt", TextBytes(10));
  WriteFile(In + "\xc3\xbc/\xc3\x9f.txt", TextBytes(20));
  WriteFile(In + "plain.txt", TextBytes(30));
  std::string Archive = S.Path("packed.zip");
  PackFolder(In, Archive);
  const std::map<std::string, unsigned> Want = {{"caf\xc3\xa9.txt", 0644},
                                                {"\xc3\xbc", 0755},
                                                {"\xc3\xbc/\xc3\x9f.txt", 0644},
                                                {"plain.txt", 0644},
                                                {"vide", 0755}};
  struct TExtractor {
    const char* Program;
    const char* Command;
  };
  for (const TExtractor& Tool :
       {TExtractor{"unzip", "unzip -q -o %a -d %d"}, TExtractor{"python3", "python3 -m zipfile -e %a %d"}}) {
    SCOPED_TRACE(Tool.Program);
    if (!HaveTool(Tool.Program)) continue;
    const std::string Out = S.Path(std::string("out_") + Tool.Program);
    EXPECT_EQ(RunShell(Fill(Tool.Command, Archive, Out)), 0);
    EXPECT_EQ(Modes(Out), Want);
  }
  umask(OldMask);
}

TEST(ZipToolsNames, EmptyFolderGivesAnArchiveTheToolsReadAsEmpty) {
  TScratchFolder S;
  std::string Archive = S.Path("empty.zip");
  PackFolder(S.Folder("in"), Archive);
  int Code = 0;
  if (HaveTool("unzip")) {
    const std::string Out = Output("unzip -l " + ShellQuote(Archive), Code);
    EXPECT_NE(Out.find("zipfile is empty"), std::string::npos) << Out;
    EXPECT_LE(Code, 1) << Out;  // 1: a warning, the archive is sound
  }
  if (HaveTool("python3")) {
    const std::string Out = Output(
        "python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).namelist()))' " + ShellQuote(Archive),
        Code);
    EXPECT_EQ(Out, "0\n");
    EXPECT_EQ(Code, 0);
  }
  if (HaveTool("bsdtar")) {
    EXPECT_EQ(Output("bsdtar -tf " + ShellQuote(Archive), Code), "");
    EXPECT_EQ(Code, 0);
  }
}
