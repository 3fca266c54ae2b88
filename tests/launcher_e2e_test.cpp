// End-to-end runs of the launcher built with the probe bundle: each test
// makes a user folder and a TEMP of its own, starts the launcher there as a
// child process and checks what the probe application saw and what the run
// left behind.
#include "tests/launcher_e2e_support.h"

namespace {

using namespace qbtest;

TEST_F(LauncherRun, FirstRunWithoutUserFilesInstallsAndLeavesNothing) {
  fsys::create_directories(FTemp / "quintabel" / "sub");
  WriteFile(FTemp / "quintabel" / "sub" / "old.txt", "from elsewhere");
  ASSERT_EQ(Run({"alpha"}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("arg"), "alpha");
  EXPECT_EQ(R.One("cwd"), Utf8Of(FUser));
  EXPECT_EQ(R.One("self"), Utf8Of(WorkFolder()));
  EXPECT_EQ(R.One("temp"), Utf8Of(FTemp));
  EXPECT_EQ(R.One("marker"), "yes");
  EXPECT_EQ(R.One("beside"),
            "dereroz,dereroz.zip,lib,quintabel.exe,quintabel.install,quintabel.lock,quintabelprincipal.zip,swipl.home");
  EXPECT_EQ(R.One("csv"), "<none>");
  EXPECT_EQ(R.One("nested"), "yes");
  EXPECT_EQ(R.All("dict"),
            std::vector<std::string>(std::begin(ProbeDefaultDictionary), std::end(ProbeDefaultDictionary)));
  // No user archive: nothing is packed, and no trad_dyn.pl was written.
  EXPECT_EQ(Names(FUser), (std::set<std::string>{"probe_report.txt"}));
  ExpectTempClean();
  EXPECT_TRUE(Names(FTemp).empty());
}

TEST_F(LauncherRun, FirstRunWithBothUserFilesImportsAndExports) {
  const std::string UserArchive = MakeZip({{"mots.txt", "maison;house\n"}, {"deux.txt", "eau;water\n"}});
  WriteFile(FUser / "dereroz.zip", UserArchive);
  WriteFile(FUser / "trad_dyn.csv", "arbre;tree\n");
  WriteFile(FUser / "trad_dyn.pl", "old output\n");
  Control("pl trad_dyn('arbre', 'tree').\ndict appris.txt arbre;tree\n");
  ASSERT_EQ(Run({"beta"}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("csv"), "arbre;tree\\n");
  EXPECT_EQ(R.All("dict"), (std::vector<std::string>{"deux.txt:eau;water\\n", "mots.txt:maison;house\\n"}));
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "trad_dyn('arbre', 'tree').\n");
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"),
            (TEntries{{"appris.txt", "arbre;tree\n"}, {"deux.txt", "eau;water\n"}, {"mots.txt", "maison;house\n"}}));
  // The export left no temporary file beside the user's files.
  EXPECT_EQ(Names(FUser), (std::set<std::string>{"dereroz.zip", "probe_control.txt", "probe_report.txt", "trad_dyn.csv",
                                                 "trad_dyn.pl"}));
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.csv"), "arbre;tree\n");
  ExpectTempClean();
}

TEST_F(LauncherRun, OnlyCsvGiven) {
  WriteFile(FUser / "trad_dyn.csv", "lune;moon\n");
  Control("dict appris.txt lune;moon\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("csv"), "lune;moon\\n");
  EXPECT_EQ(R.All("dict"),
            std::vector<std::string>(std::begin(ProbeDefaultDictionary), std::end(ProbeDefaultDictionary)));
  // Without a user archive the changed dictionary goes with the work folder.
  EXPECT_FALSE(fsys::exists(FUser / "dereroz.zip"));
  EXPECT_FALSE(fsys::exists(FUser / "trad_dyn.pl"));
  ExpectTempClean();
}

TEST_F(LauncherRun, OnlyArchiveGivenAndNoOutputKeepsOldTradDyn) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "soleil;sun\n"}}));
  WriteFile(FUser / "trad_dyn.pl", "older output\n");
  Control("empty\ndict neu.txt ciel;sky\n");
  ASSERT_EQ(Run({"x"}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("csv"), "<none>");
  EXPECT_EQ(R.All("dict"), (std::vector<std::string>{"mots.txt:soleil;sun\\n"}));
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"neu.txt", "ciel;sky\n"}}));
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "older output\n");
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
    EXPECT_EQ(CommandLine, "\"" + Utf8Of(WorkFolder() / "quintabel.exe") + "\" ");
    EXPECT_EQ(R.One("argc"), "0");
  }
}

TEST_F(LauncherRun, ReusedWorkFolderIsNotInstalledAgain) {
  // A completed install of this bundle for this user folder, left over
  // from an earlier run, with its own dictionary.
  MakeReadyWorkFolder(FUser, {{"reste.txt", "vieux;old\n"}});
  WriteFile(WorkFolder() / "trad_dyn.pl", "stale\n");
  WriteFile(FUser / "trad_dyn.csv", "not;imported\n");
  WriteFile(FUser / "dereroz.zip", MakeZip({{"ignored.txt", "no;no\n"}}));
  ASSERT_EQ(Run({"given"}), 0) << StdErr();
  TReport R = Report();
  // The argument reaches the application on reuse too.
  EXPECT_EQ(R.All("arg"), std::vector<std::string>{"given"});
  EXPECT_EQ(R.One("beside"),
            "dereroz,quintabel.exe,quintabel.install,quintabel.lock,quintabelprincipal.zip,swipl.home");
  EXPECT_EQ(R.One("csv"), "<none>");
  EXPECT_EQ(R.One("marker"), "yes");
  EXPECT_EQ(R.All("dict"), std::vector<std::string>{"reste.txt:vieux;old\\n"});
  // The stale output was removed before the application ran, so none came back.
  EXPECT_FALSE(fsys::exists(FUser / "trad_dyn.pl"));
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"reste.txt", "vieux;old\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, ApplicationThatCannotStartFailsAfterCleanUp) {
  fsys::create_directories(FTemp / "quintabel");
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "a;b\n"}}));
  const std::string Before = ReadFile(FUser / "dereroz.zip");
  EXPECT_EQ(Run({"arg"}, QB_PROBE_LAUNCHER_BROKEN), 217);
  ExpectReport("An unhandled exception occurred at $");
  ExpectReport("EProcess: Failed to execute \"" + Utf8Of(WorkFolder() / "quintabel.exe") + "\" arg : ");
  EXPECT_FALSE(fsys::exists(WorkFolder()));
  EXPECT_FALSE(fsys::exists(FTemp / "quintabel"));
  // The run ended before its export: the marker stays, the archive is untouched.
  EXPECT_TRUE(fsys::exists(FTemp / "swipl.home"));
  EXPECT_EQ(ReadFile(FUser / "dereroz.zip"), Before);
  EXPECT_FALSE(fsys::exists(FUser / "probe_report.txt"));
}

TEST_F(LauncherRun, CorruptUserArchiveFailsAndStaysUntouched) {
  const std::string Corrupt = "PK\x03\x04 this archive is broken beyond repair";
  WriteFile(FUser / "dereroz.zip", Corrupt);
  EXPECT_EQ(Run({}), 217);
  ExpectReport("An unhandled exception occurred");
  EXPECT_EQ(ReadFile(FUser / "dereroz.zip"), Corrupt);
  EXPECT_FALSE(fsys::exists(FUser / "probe_report.txt"));
  EXPECT_FALSE(fsys::exists(WorkFolder()));
}

TEST_F(LauncherRun, DictionaryThatCannotBePackedKeepsThePreviousArchive) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "chien;dog\n"}}));
  const std::string Before = ReadFile(FUser / "dereroz.zip");
  // The application removes the whole dictionary folder: nothing to pack.
  Control("pl exported first\nnodict\n");
  EXPECT_EQ(Run({}), 217);
  ExpectReport("EInOutError: The application's output was not delivered: cannot pack \"" +
               Utf8Of(WorkFolder() / "dereroz") + Sep + "\": EInOutError: Unable to list folder");
  EXPECT_EQ(ReadFile(FUser / "dereroz.zip"), Before);
  // trad_dyn.pl was delivered all the same.
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "exported first\n");
  EXPECT_EQ(Names(FUser),
            (std::set<std::string>{"dereroz.zip", "probe_control.txt", "probe_report.txt", "trad_dyn.pl"}));
}

TEST_F(LauncherRun, DictionarySubfoldersArePackedBack) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "chien;dog\n"}}));
  Control("subfolder dedans\ndict dedans/plus.txt x;y\nsubfolder vide\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  const fsys::path Out = Unpacked(FUser / "dereroz.zip");
  EXPECT_EQ(Names(Out), (std::set<std::string>{"dedans", "mots.txt", "vide"}));
  EXPECT_EQ(ReadFile(Out / "dedans" / "plus.txt"), "x;y\n");
  EXPECT_TRUE(fsys::is_directory(Out / "vide"));
  EXPECT_TRUE(fsys::is_empty(Out / "vide"));
  ExpectTempClean();
}

TEST_F(LauncherRun, NonZeroExitOfTheApplicationStillExports) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  Control("pl exit three\ndict fin.txt deux;two\nexit 3\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "exit three\n");
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"fin.txt", "deux;two\n"}, {"mots.txt", "un;one\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, CrashOfTheApplicationStillExports) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  Control("pl before crash\ndict fin.txt trois;three\ncrash\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "before crash\n");
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"fin.txt", "trois;three\n"}, {"mots.txt", "un;one\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, CurrentFolderWithNamesOutsideAscii) {
  FUser = FRoot / U8("donn\xC3\xA9"
                     "es \xC3\xBC\xC3\xAF \xE6\x97\xA5\xE6\x9C\xAC");
  fsys::create_directories(FUser);
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "\xC3\xA9t\xC3\xA9;summer\n"}}));
  WriteFile(FUser / "trad_dyn.csv", "\xC3\xA9t\xC3\xA9;summer\n");
  Control(
      "pl trad_dyn('\xC3\xA9t\xC3\xA9', 'summer').\ndict \xC3\xA9"
      "cole.txt \xC3\xA9"
      "cole;school\n");
  ASSERT_EQ(Run({"\xC3\xA9l\xC3\xA8ve"}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("cwd"), Utf8Of(FUser));
  EXPECT_EQ(R.One("csv"), "\xC3\xA9t\xC3\xA9;summer\\n");
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "trad_dyn('\xC3\xA9t\xC3\xA9', 'summer').\n");
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"\xC3\xA9"
                                                          "cole.txt",
                                                          "\xC3\xA9"
                                                          "cole;school\n"},
                                                         {"mots.txt", "\xC3\xA9t\xC3\xA9;summer\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, WithoutTempOrTmpThePlatformFolderIsUsed) {
  fsys::path Fallback = FRoot / "platform-temp";
  fsys::create_directories(Fallback);
  FEnvironment.Set.clear();
  FEnvironment.Unset = {"TEMP", "TMP"};
  const std::string Expected = UsePlatformTempFolder(FEnvironment, Utf8Of(Fallback));
  ASSERT_EQ(Run({}), 0) << StdErr();
  TReport R = Report();
  EXPECT_EQ(R.One("temp"), "<unset>");
  EXPECT_EQ(R.One("tmp"), "<unset>");
  const std::string Self = R.One("self");
  // Never the current folder.
  EXPECT_NE(Self.rfind(Utf8Of(FUser), 0), 0u) << Self;
  EXPECT_EQ(R.One("marker"), "yes");
  EXPECT_EQ(Self, Expected + "quintabel5");
  EXPECT_TRUE(Names(U8(Expected)).empty());
  EXPECT_FALSE(fsys::exists(U8(Self)));
  EXPECT_EQ(Names(FUser), (std::set<std::string>{"probe_report.txt"}));
}

TEST_F(LauncherRun, SecondLaunchFromAnotherFolderStopsWhileTheFirstRuns) {
  fsys::path SecondUser = FRoot / "second";
  fsys::create_directories(SecondUser);
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "premier;first\n"}}));
  // The first application signals that it runs, waits for the test, and
  // only then changes the dictionary and writes its output.
  Control("signal running\nwait go\ndict ajout.txt tard;late\npl first done\n");
  intptr_t First = Start({"one"}, FUser);
  ASSERT_TRUE(WaitFor(FUser / "running"));

  WriteFile(SecondUser / "dereroz.zip", MakeZip({{"autre.txt", "second;second\n"}}));
  WriteFile(SecondUser / "trad_dyn.pl", "second's own\n");
  WriteFile(SecondUser / "probe_control.txt", "pl second done\n");
  const TEntries SecondBefore = Snapshot(SecondUser);
  EXPECT_EQ(WaitChild(Start({"two"}, SecondUser)), 217);
  ExpectReport("EInOutError: The application is already running from \"" + Utf8Of(FUser) + Sep + "\"");
  // Nothing of the second folder was touched, and its application never ran.
  EXPECT_EQ(Snapshot(SecondUser), SecondBefore);

  WriteFile(FUser / "go", "");
  EXPECT_EQ(WaitChild(First), 0);
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "first done\n");
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"),
            (TEntries{{"ajout.txt", "tard;late\n"}, {"mots.txt", "premier;first\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, SecondLaunchFromTheSameFolderSharesTheRunningInstall) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "premier;first\n"}}));
  Control("signal running\nwait go\ndict ajout.txt tard;late\npl first done\n");
  intptr_t First = Start({"one"}, FUser);
  ASSERT_TRUE(WaitFor(FUser / "running"));
  // The application may still hold the file it has just written, and
  // Windows refuses to remove it until then.
  std::error_code Held;
  for (int I = 0; I < 250 && !fsys::remove(FUser / "running", Held) && Held; ++I)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  ASSERT_FALSE(fsys::exists(FUser / "running"));

  // The second application adds its own entry and ends first.
  Control("dict second.txt deux;two\npl second done\n");
  EXPECT_EQ(WaitChild(Start({"two"}, FUser)), 0) << StdErr();
  EXPECT_EQ(Report().All("arg"), std::vector<std::string>{"two"});
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "second done\n");
  // The first launcher still uses the work folder: it stays.
  EXPECT_TRUE(fsys::exists(WorkFolder() / "dereroz" / "mots.txt"));

  WriteFile(FUser / "go", "");
  EXPECT_EQ(WaitChild(First), 0);
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "first done\n");
  // The last launcher to finish delivered the dictionary with both changes.
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"),
            (TEntries{{"ajout.txt", "tard;late\n"}, {"mots.txt", "premier;first\n"}, {"second.txt", "deux;two\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherRun, LinkInPlaceOfTheWorkFolderIsRefused) {
  // Someone else's folder, made to look like a ready work folder.
  fsys::path Elsewhere = FRoot / "elsewhere";
  fsys::create_directories(Elsewhere);
  fsys::copy_file(U8(BuildTreePath(QB_PROBE_APP)), Elsewhere / "quintabel.exe");
  WriteFile(Elsewhere / "trad_dyn.pl", "not ours\n");
  std::string Why;
  if (!qbtest::MakeFolderLink(Utf8Of(Elsewhere), Utf8Of(WorkFolder()), Why)) GTEST_SKIP() << Why;
  EXPECT_EQ(Run({}), 217);
  ExpectReport("EInOutError: Unsafe work folder \"" + Utf8Of(WorkFolder()) + "/\"");
  // Nothing was started, read, removed or deleted through the link; the
  // clean-up removed the link itself (which Wine cannot do for a Unix link).
  EXPECT_FALSE(fsys::exists(FUser / "probe_report.txt"));
  EXPECT_EQ(Names(Elsewhere), (std::set<std::string>{"quintabel.exe", "trad_dyn.pl"}));
  if (!qbtest::IsWine()) {
    EXPECT_FALSE(fsys::exists(fsys::symlink_status(WorkFolder())));
  }
}

TEST_F(LauncherRun, LinkAsTheSecondFolderIsLeftAlone) {
  fsys::path Elsewhere = FRoot / "elsewhere";
  fsys::create_directories(Elsewhere / "deeper");
  WriteFile(Elsewhere / "deeper" / "keep.txt", "someone's file\n");
  std::string Why;
  if (!qbtest::MakeFolderLink(Utf8Of(Elsewhere), Utf8Of(FTemp / "quintabel"), Why)) GTEST_SKIP() << Why;
  ASSERT_EQ(Run({}), 0) << StdErr();
  // Still there and still leading to the same folder (std::filesystem sees
  // no links on Windows).
  EXPECT_EQ(ReadFile(FTemp / "quintabel" / "deeper" / "keep.txt"), "someone's file\n");
  if (!qbtest::IsWindowsBuild()) {
    EXPECT_TRUE(fsys::is_symlink(fsys::symlink_status(FTemp / "quintabel")));
  }
  EXPECT_EQ(ReadFile(Elsewhere / "deeper" / "keep.txt"), "someone's file\n");
  EXPECT_FALSE(fsys::exists(WorkFolder()));
}

}  // namespace
