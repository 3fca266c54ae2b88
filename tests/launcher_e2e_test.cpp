// End-to-end runs of the launcher built with the probe bundle: each test
// makes a user folder and a TEMP of its own, starts the launcher there as a
// child process and checks what the probe application saw and what the run
// left behind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "tests/file_test_support.h"
#include "tests/launcher_test_support.h"
#include "zip/zip_reader.h"

namespace fs = std::filesystem;

namespace {

using TEntries = std::map<std::string, std::string>;

fs::path U8(const std::string& Text) { return fs::u8path(Text); }
std::string Text(const fs::path& Path) { return Path.u8string(); }

using qbtest::ReadFile;
using qbtest::WriteFile;

void Put16(std::string& Out, uint32_t V) {
  Out += static_cast<char>(V & 0xFF);
  Out += static_cast<char>((V >> 8) & 0xFF);
}
void Put32(std::string& Out, uint32_t V) {
  Put16(Out, V & 0xFFFF);
  Put16(Out, V >> 16);
}

// A stored zip archive made byte by byte, independent of the code under test.
std::string MakeZip(const TEntries& Entries) {
  std::string Archive, Central;
  for (const auto& [Name, Data] : Entries) {
    uint32_t Crc = static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(Data.data()), static_cast<uInt>(Data.size())));
    uint32_t Offset = static_cast<uint32_t>(Archive.size());
    Put32(Archive, 0x04034B50); Put16(Archive, 10); Put16(Archive, 0); Put16(Archive, 0);
    Put16(Archive, 0); Put16(Archive, 0x5821);
    Put32(Archive, Crc); Put32(Archive, Data.size()); Put32(Archive, Data.size());
    Put16(Archive, Name.size()); Put16(Archive, 0);
    Archive += Name + Data;
    Put32(Central, 0x02014B50); Put16(Central, 10); Put16(Central, 10); Put16(Central, 0);
    Put16(Central, 0); Put16(Central, 0); Put16(Central, 0x5821);
    Put32(Central, Crc); Put32(Central, Data.size()); Put32(Central, Data.size());
    Put16(Central, Name.size()); Put16(Central, 0); Put16(Central, 0); Put16(Central, 0);
    Put16(Central, 0); Put32(Central, 0x20); Put32(Central, Offset);
    Central += Name;
  }
  uint32_t CentralOffset = static_cast<uint32_t>(Archive.size());
  Archive += Central;
  Put32(Archive, 0x06054B50); Put16(Archive, 0); Put16(Archive, 0);
  Put16(Archive, Entries.size()); Put16(Archive, Entries.size());
  Put32(Archive, Central.size()); Put32(Archive, CentralOffset); Put16(Archive, 0);
  return Archive;
}

std::set<std::string> Names(const fs::path& Folder) {
  std::set<std::string> Result;
  std::error_code Error;
  for (fs::directory_iterator It(Folder, Error), End; !Error && It != End; It.increment(Error))
    Result.insert(It->path().filename().u8string());
  return Result;
}

// What the probe application wrote about its run: every key with its values.
struct TReport {
  std::multimap<std::string, std::string> Facts;
  std::string One(const std::string& Key) const {
    auto It = Facts.find(Key);
    return It == Facts.end() ? "<missing " + Key + ">" : It->second;
  }
  std::vector<std::string> All(const std::string& Key) const {
    std::vector<std::string> Values;
    for (auto [It, End] = Facts.equal_range(Key); It != End; ++It) Values.push_back(It->second);
    return Values;
  }
};

TReport ParseReport(const std::string& Content) {
  TReport Report;
  size_t Start = 0;
  while (Start < Content.size()) {
    size_t End = Content.find('\n', Start);
    if (End == std::string::npos) End = Content.size();
    std::string Line = Content.substr(Start, End - Start);
    size_t Equals = Line.find('=');
    if (Equals != std::string::npos) Report.Facts.emplace(Line.substr(0, Equals), Line.substr(Equals + 1));
    Start = End + 1;
  }
  return Report;
}

const std::string ProbeDefaultDictionary[] = {"autre.txt:chat;cat\\n", "base.txt:bonjour;hello\\n"};

class LauncherRun : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 Random(std::random_device{}() ^
                           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    Root = U8(ScratchRoot()) /
           U8(std::string("qb-e2e-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
              std::to_string(Random() % 1000000000));
    User = Root / "user";
    Temp = Root / "temp";
    fs::create_directories(User);
    fs::create_directories(Temp);
    Environment.Set = {{"TEMP", Text(Temp)}, {"TMP", Text(Temp)}};
  }
  void TearDown() override {
    std::error_code Error;
    fs::remove_all(Root, Error);
  }

  fs::path WorkFolder() const { return Temp / "quintabel5"; }

  intptr_t Start(const std::vector<std::string>& Arguments, const fs::path& Folder,
                 const std::string& Launcher = QB_PROBE_LAUNCHER) {
    return StartChild(BuildTreePath(Launcher), Arguments, Text(Folder), Environment, Text(Root / "stderr.txt"));
  }
  int Run(const std::vector<std::string>& Arguments, const std::string& Launcher = QB_PROBE_LAUNCHER) {
    return WaitChild(Start(Arguments, User, Launcher));
  }
  std::string StdErr() const { return ReadFile(Root / "stderr.txt"); }
  TReport Report(const fs::path& Folder) const { return ParseReport(ReadFile(Folder / "probe_report.txt")); }
  TReport Report() const { return Report(User); }
  void Control(const std::string& Commands) { WriteFile(User / "probe_control.txt", Commands); }

  // The entries of an archive, read back through the extraction code.
  TEntries ZipEntries(const fs::path& Archive) {
    fs::path Out = Root / "unpacked";
    fs::remove_all(Out);
    fs::create_directories(Out);
    ExtractArchive(Text(Archive), Text(Out) + std::string(1, fs::path::preferred_separator));
    TEntries Entries;
    for (const std::string& Name : Names(Out)) Entries[Name] = ReadFile(Out / U8(Name));
    return Entries;
  }

  // Nothing of the run is left in the temporary folder.
  void ExpectTempClean() {
    EXPECT_FALSE(fs::exists(WorkFolder()));
    EXPECT_FALSE(fs::exists(Temp / "quintabel"));
    EXPECT_FALSE(fs::exists(Temp / "swipl.home"));
  }

  fs::path Root, User, Temp;
  TChildEnvironment Environment;
};

TEST_F(LauncherRun, FirstRunWithoutUserFilesInstallsAndLeavesNothing) {
  fs::create_directories(Temp / "quintabel" / "sub");
  WriteFile(Temp / "quintabel" / "sub" / "old.txt", "from elsewhere");
  ASSERT_EQ(Run({"alpha"}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("arg"), "alpha");
  EXPECT_EQ(R.One("cwd"), Text(User));
  EXPECT_EQ(R.One("self"), Text(WorkFolder()));
  EXPECT_EQ(R.One("temp"), Text(Temp));
  EXPECT_EQ(R.One("marker"), "yes");
  EXPECT_EQ(R.One("beside"), "dereroz,dereroz.zip,lib,quintabel.exe,quintabel.lock,quintabelprincipal.zip,swipl.home");
  EXPECT_EQ(R.One("csv"), "<none>");
  EXPECT_EQ(R.One("nested"), "yes");
  EXPECT_EQ(R.All("dict"), std::vector<std::string>(std::begin(ProbeDefaultDictionary),
                                                     std::end(ProbeDefaultDictionary)));
  // No user archive: nothing is packed, and no trad_dyn.pl was written.
  EXPECT_EQ(Names(User), (std::set<std::string>{"probe_report.txt"}));
  ExpectTempClean();
  EXPECT_TRUE(Names(Temp).empty());
}

TEST_F(LauncherRun, FirstRunWithBothUserFilesImportsAndExports) {
  const std::string UserArchive = MakeZip({{"mots.txt", "maison;house\n"}, {"deux.txt", "eau;water\n"}});
  WriteFile(User / "dereroz.zip", UserArchive);
  WriteFile(User / "trad_dyn.csv", "arbre;tree\n");
  WriteFile(User / "trad_dyn.pl", "old output\n");
  Control("pl trad_dyn('arbre', 'tree').\ndict appris.txt arbre;tree\n");
  ASSERT_EQ(Run({"beta"}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("csv"), "arbre;tree\\n");
  EXPECT_EQ(R.All("dict"), (std::vector<std::string>{"deux.txt:eau;water\\n", "mots.txt:maison;house\\n"}));
  EXPECT_EQ(ReadFile(User / "trad_dyn.pl"), "trad_dyn('arbre', 'tree').\n");
  EXPECT_EQ(ZipEntries(User / "dereroz.zip"),
            (TEntries{{"appris.txt", "arbre;tree\n"}, {"deux.txt", "eau;water\n"}, {"mots.txt", "maison;house\n"}}));
  // The export left no temporary file beside the user's files.
  EXPECT_EQ(Names(User), (std::set<std::string>{"dereroz.zip", "probe_control.txt", "probe_report.txt",
                                                "trad_dyn.csv", "trad_dyn.pl"}));
  EXPECT_EQ(ReadFile(User / "trad_dyn.csv"), "arbre;tree\n");
  ExpectTempClean();
}

TEST_F(LauncherRun, OnlyCsvGiven) {
  WriteFile(User / "trad_dyn.csv", "lune;moon\n");
  Control("dict appris.txt lune;moon\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("csv"), "lune;moon\\n");
  EXPECT_EQ(R.All("dict"), std::vector<std::string>(std::begin(ProbeDefaultDictionary),
                                                     std::end(ProbeDefaultDictionary)));
  // Without a user archive the changed dictionary goes with the work folder.
  EXPECT_FALSE(fs::exists(User / "dereroz.zip"));
  EXPECT_FALSE(fs::exists(User / "trad_dyn.pl"));
  ExpectTempClean();
}

TEST_F(LauncherRun, OnlyArchiveGivenAndNoOutputKeepsOldTradDyn) {
  WriteFile(User / "dereroz.zip", MakeZip({{"mots.txt", "soleil;sun\n"}}));
  WriteFile(User / "trad_dyn.pl", "older output\n");
  fs::create_directories(User / "trad_dyn.csv");  // a folder counts as absent
  Control("empty\ndict neu.txt ciel;sky\n");
  ASSERT_EQ(Run({"x"}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("csv"), "<none>");
  EXPECT_EQ(R.All("dict"), (std::vector<std::string>{"mots.txt:soleil;sun\\n"}));
  EXPECT_EQ(ZipEntries(User / "dereroz.zip"), (TEntries{{"neu.txt", "ciel;sky\n"}}));
  EXPECT_EQ(ReadFile(User / "trad_dyn.pl"), "older output\n");
  ExpectTempClean();
}

TEST_F(LauncherRun, OnlyTheFirstOfSeveralArgumentsArrives) {
  ASSERT_EQ(Run({"first word", "second", "third"}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("argc"), "1");
  EXPECT_EQ(R.All("arg"), std::vector<std::string>{"first word"});
}

TEST_F(LauncherRun, NoArgumentGivesOneEmptyArgument) {
  ASSERT_EQ(Run({}), 0) << StdErr();
  TReport R = Report();
  const std::string CommandLine = R.One("cmdline");
  if (CommandLine.empty()) {
    // An argument vector: the empty parameter is one empty argument.
    EXPECT_EQ(R.One("argc"), "1");
    EXPECT_EQ(R.All("arg"), std::vector<std::string>{""});
  } else {
    // A command line: the quoted path and one separating space.
    EXPECT_EQ(CommandLine, "\"" + Text(WorkFolder() / "quintabel.exe") + "\" ");
    EXPECT_EQ(R.One("argc"), "0");
  }
}

TEST_F(LauncherRun, ReusedWorkFolderIsNotInstalledAgain) {
  // A work folder left over from an earlier run, with its own dictionary.
  fs::create_directories(WorkFolder() / "dereroz");
  fs::permissions(WorkFolder(), fs::perms::owner_all, fs::perm_options::replace);
  fs::copy_file(U8(BuildTreePath(QB_PROBE_APP)), WorkFolder() / "quintabel.exe");
  WriteFile(WorkFolder() / "dereroz" / "reste.txt", "vieux;old\n");
  WriteFile(WorkFolder() / "trad_dyn.pl", "stale\n");
  WriteFile(Temp / "swipl.home", "marker of another run\n");
  WriteFile(User / "trad_dyn.csv", "not;imported\n");
  WriteFile(User / "dereroz.zip", MakeZip({{"ignored.txt", "no;no\n"}}));
  ASSERT_EQ(Run({"given"}), 0) << StdErr();
  TReport R = Report();
  const std::string CommandLine = R.One("cmdline");
  if (CommandLine.empty()) {
    EXPECT_EQ(R.All("arg"), std::vector<std::string>{""});
  } else {
    EXPECT_EQ(R.One("argc"), "0");
  }
  EXPECT_EQ(R.One("beside"), "dereroz,quintabel.exe,quintabel.lock");
  EXPECT_EQ(R.One("csv"), "<none>");
  EXPECT_EQ(R.All("dict"), std::vector<std::string>{"reste.txt:vieux;old\\n"});
  // The stale output was removed before the application ran, so none came back.
  EXPECT_FALSE(fs::exists(User / "trad_dyn.pl"));
  EXPECT_EQ(ZipEntries(User / "dereroz.zip"), (TEntries{{"reste.txt", "vieux;old\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, ApplicationThatCannotStartFailsAfterCleanUp) {
  fs::create_directories(Temp / "quintabel");
  WriteFile(User / "dereroz.zip", MakeZip({{"mots.txt", "a;b\n"}}));
  const std::string Before = ReadFile(User / "dereroz.zip");
  EXPECT_EQ(Run({"arg"}, QB_PROBE_LAUNCHER_BROKEN), 217);
  if (ReportOnStdErr()) {
    const std::string Report = StdErr();
    EXPECT_NE(Report.find("An unhandled exception occurred at $"), std::string::npos) << Report;
    EXPECT_NE(Report.find("EProcess: Failed to execute \"" + Text(WorkFolder() / "quintabel.exe") + "\" arg : "),
              std::string::npos)
        << Report;
  }
  EXPECT_FALSE(fs::exists(WorkFolder()));
  EXPECT_FALSE(fs::exists(Temp / "quintabel"));
  // The run ended before its export: the marker stays, the archive is untouched.
  EXPECT_TRUE(fs::exists(Temp / "swipl.home"));
  EXPECT_EQ(ReadFile(User / "dereroz.zip"), Before);
  EXPECT_FALSE(fs::exists(User / "probe_report.txt"));
}

TEST_F(LauncherRun, CorruptUserArchiveFailsAndStaysUntouched) {
  const std::string Corrupt = "PK\x03\x04 this archive is broken beyond repair";
  WriteFile(User / "dereroz.zip", Corrupt);
  EXPECT_EQ(Run({}), 217);
  if (ReportOnStdErr()) {
    EXPECT_NE(StdErr().find("An unhandled exception occurred"), std::string::npos) << StdErr();
  }
  EXPECT_EQ(ReadFile(User / "dereroz.zip"), Corrupt);
  EXPECT_FALSE(fs::exists(User / "probe_report.txt"));
  EXPECT_FALSE(fs::exists(WorkFolder()));
}

TEST_F(LauncherRun, DictionaryThatCannotBePackedKeepsThePreviousArchive) {
  WriteFile(User / "dereroz.zip", MakeZip({{"mots.txt", "chien;dog\n"}}));
  const std::string Before = ReadFile(User / "dereroz.zip");
  // The application removed its dictionary folder: there is nothing to list.
  Control("pl exported first\nnodict\n");
  EXPECT_EQ(Run({}), 217);
  if (ReportOnStdErr()) {
    EXPECT_NE(StdErr().find("EInOutError: Unable to list folder"), std::string::npos) << StdErr();
  }
  EXPECT_EQ(ReadFile(User / "dereroz.zip"), Before);
  // trad_dyn.pl was exported before the packing failed.
  EXPECT_EQ(ReadFile(User / "trad_dyn.pl"), "exported first\n");
  EXPECT_EQ(Names(User), (std::set<std::string>{"dereroz.zip", "probe_control.txt", "probe_report.txt",
                                                "trad_dyn.pl"}));
  EXPECT_FALSE(fs::exists(WorkFolder()));
}

TEST_F(LauncherRun, DictionarySubfoldersArePackedBack) {
  WriteFile(User / "dereroz.zip", MakeZip({{"mots.txt", "chien;dog\n"}}));
  Control("subfolder dedans\ndict dedans/plus.txt x;y\nsubfolder vide\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  const fs::path Out = Root / "unpacked";
  fs::create_directories(Out);
  ExtractArchive(Text(User / "dereroz.zip"), Text(Out) + std::string(1, fs::path::preferred_separator));
  EXPECT_EQ(Names(Out), (std::set<std::string>{"dedans", "mots.txt", "vide"}));
  EXPECT_EQ(ReadFile(Out / "dedans" / "plus.txt"), "x;y\n");
  EXPECT_TRUE(fs::is_directory(Out / "vide"));
  EXPECT_TRUE(fs::is_empty(Out / "vide"));
  ExpectTempClean();
}

TEST_F(LauncherRun, NonZeroExitOfTheApplicationStillExports) {
  WriteFile(User / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  Control("pl exit three\ndict fin.txt deux;two\nexit 3\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(ReadFile(User / "trad_dyn.pl"), "exit three\n");
  EXPECT_EQ(ZipEntries(User / "dereroz.zip"), (TEntries{{"fin.txt", "deux;two\n"}, {"mots.txt", "un;one\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, CrashOfTheApplicationStillExports) {
  WriteFile(User / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  Control("pl before crash\ndict fin.txt trois;three\ncrash\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(ReadFile(User / "trad_dyn.pl"), "before crash\n");
  EXPECT_EQ(ZipEntries(User / "dereroz.zip"), (TEntries{{"fin.txt", "trois;three\n"}, {"mots.txt", "un;one\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, CurrentFolderWithNamesOutsideAscii) {
  User = Root / U8("donn\xC3\xA9" "es \xC3\xBC\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC");
  fs::create_directories(User);
  WriteFile(User / "dereroz.zip", MakeZip({{"mots.txt", "\xC3\xA9t\xC3\xA9;summer\n"}}));
  WriteFile(User / "trad_dyn.csv", "\xC3\xA9t\xC3\xA9;summer\n");
  Control("pl trad_dyn('\xC3\xA9t\xC3\xA9', 'summer').\ndict \xC3\xA9" "cole.txt \xC3\xA9" "cole;school\n");
  ASSERT_EQ(Run({"\xC3\xA9l\xC3\xA8ve"}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("cwd"), Text(User));
  EXPECT_EQ(R.One("csv"), "\xC3\xA9t\xC3\xA9;summer\\n");
  EXPECT_EQ(ReadFile(User / "trad_dyn.pl"), "trad_dyn('\xC3\xA9t\xC3\xA9', 'summer').\n");
  EXPECT_EQ(ZipEntries(User / "dereroz.zip"),
            (TEntries{{"\xC3\xA9" "cole.txt", "\xC3\xA9" "cole;school\n"}, {"mots.txt", "\xC3\xA9t\xC3\xA9;summer\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, WithoutTempOrTmpThePlatformFolderIsUsed) {
  fs::path Fallback = Root / "platform-temp";
  fs::create_directories(Fallback);
  Environment.Set = {{"TMPDIR", Text(Fallback)}};
  Environment.Unset = {"TEMP", "TMP"};
  ASSERT_EQ(Run({}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("temp"), "<unset>");
  EXPECT_EQ(R.One("tmp"), "<unset>");
  const std::string Self = R.One("self");
  // Never the current folder.
  EXPECT_NE(Self.rfind(Text(User), 0), 0u) << Self;
  EXPECT_EQ(R.One("marker"), "yes");
  const std::string Expected = FallbackTempFolder(Environment);
  if (!Expected.empty()) {
    EXPECT_EQ(Self, Expected + "quintabel5");
    EXPECT_TRUE(Names(Fallback).empty());
  }
  EXPECT_FALSE(fs::exists(U8(Self)));
  EXPECT_EQ(Names(User), (std::set<std::string>{"probe_report.txt"}));
}

TEST_F(LauncherRun, TwoLaunchersAtOnceKeepTheFirstOnesDictionary) {
  fs::path SecondUser = Root / "second";
  fs::create_directories(SecondUser);
  WriteFile(User / "dereroz.zip", MakeZip({{"mots.txt", "premier;first\n"}}));
  // The first application signals that it runs, waits for the test, and
  // only then changes the dictionary and writes its output.
  Control("signal running\nwait go\ndict ajout.txt tard;late\npl first done\n");
  intptr_t First = Start({"one"}, User);
  for (int i = 0; i < 6000 && !fs::exists(User / "running"); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_TRUE(fs::exists(User / "running"));

  WriteFile(SecondUser / "probe_control.txt", "pl second done\n");
  EXPECT_EQ(WaitChild(Start({"two"}, SecondUser)), 0);
  EXPECT_EQ(ReadFile(SecondUser / "trad_dyn.pl"), "second done\n");
  // The second application ran from the first one's work folder.
  EXPECT_EQ(Report(SecondUser).All("dict"), std::vector<std::string>{"mots.txt:premier;first\\n"});
  // Its clean-up left the work folder to the first launcher.
  EXPECT_TRUE(fs::exists(WorkFolder() / "dereroz" / "mots.txt"));

  WriteFile(User / "go", "");
  EXPECT_EQ(WaitChild(First), 0);
  EXPECT_EQ(ReadFile(User / "trad_dyn.pl"), "first done\n");
  EXPECT_EQ(ZipEntries(User / "dereroz.zip"),
            (TEntries{{"ajout.txt", "tard;late\n"}, {"mots.txt", "premier;first\n"}}));
  EXPECT_FALSE(fs::exists(WorkFolder()));
}

TEST_F(LauncherRun, LinkInPlaceOfTheWorkFolderIsRefused) {
  if (!WorkFolderOwnershipChecked()) GTEST_SKIP() << "the temporary folder is the user's own here";
  // Someone else's folder, made to look like a ready work folder.
  fs::path Elsewhere = Root / "elsewhere";
  fs::create_directories(Elsewhere);
  fs::copy_file(U8(BuildTreePath(QB_PROBE_APP)), Elsewhere / "quintabel.exe");
  WriteFile(Elsewhere / "trad_dyn.pl", "not ours\n");
  fs::create_directory_symlink(Elsewhere, WorkFolder());
  EXPECT_EQ(Run({}), 217);
  EXPECT_NE(StdErr().find("EInOutError: Unsafe work folder \"" + Text(WorkFolder()) + "/\""), std::string::npos)
      << StdErr();
  // Nothing was started, read, removed or deleted through the link; the
  // clean-up removed the link itself.
  EXPECT_FALSE(fs::exists(User / "probe_report.txt"));
  EXPECT_EQ(Names(Elsewhere), (std::set<std::string>{"quintabel.exe", "trad_dyn.pl"}));
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(WorkFolder())));
  EXPECT_FALSE(fs::exists(fs::symlink_status(WorkFolder())));
}

TEST_F(LauncherRun, LinkAsTheWorkFolderIsNotEnteredByTheCleanUp) {
  if (WorkFolderOwnershipChecked()) GTEST_SKIP() << "a link there is refused before the run (see above)";
  // The temporary folder is the user's own: the run goes through the link,
  // and the clean-up removes the link but nothing behind it.
  fs::path Elsewhere = Root / "elsewhere";
  fs::create_directories(Elsewhere);
  if (!MakeFolderLink(Text(Elsewhere), Text(WorkFolder()))) GTEST_SKIP() << "no folder links here";
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(Report().One("beside"),
            "dereroz,dereroz.zip,lib,quintabel.exe,quintabel.lock,quintabelprincipal.zip,swipl.home");
  EXPECT_FALSE(fs::exists(fs::symlink_status(WorkFolder())));
  EXPECT_TRUE(fs::exists(Elsewhere / "quintabel.exe"));
  EXPECT_TRUE(fs::exists(Elsewhere / "dereroz" / "base.txt"));
}

TEST_F(LauncherRun, LinkAsTheSecondFolderIsRemovedNotFollowed) {
  fs::path Elsewhere = Root / "elsewhere";
  fs::create_directories(Elsewhere / "deeper");
  WriteFile(Elsewhere / "deeper" / "keep.txt", "someone's file\n");
  if (!MakeFolderLink(Text(Elsewhere), Text(Temp / "quintabel"))) GTEST_SKIP() << "no folder links here";
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_FALSE(fs::exists(fs::symlink_status(Temp / "quintabel")));
  EXPECT_EQ(ReadFile(Elsewhere / "deeper" / "keep.txt"), "someone's file\n");
  ExpectTempClean();
}

}  // namespace
