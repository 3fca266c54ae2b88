// End-to-end runs of the launcher against a temporary folder that others
// share or that was set up wrong: another user's folders and files at the
// launcher's names, links at the runtime marker's path, relative TEMP and TMP,
// launches from inside the folders the clean-up deletes, paths past the
// system's limits and names outside any ANSI code page.
#include "tests/launcher_e2e_support.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using namespace qbtest;

using LauncherTemp = LauncherRun;

TEST_F(LauncherTemp, AnotherUsersSecondFolderIsLeftAlone) {
  std::string Why;
  fsys::create_directories(FTemp / "quintabel");
  WriteFile(FTemp / "quintabel" / "theirs.txt", "not yours");
  if (!GiveToAnotherUser(Utf8Of(FTemp / "quintabel"), Why)) GTEST_SKIP() << Why;
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(ReadFile(FTemp / "quintabel" / "theirs.txt"), "not yours");
  EXPECT_FALSE(fsys::exists(WorkFolder()));
}

TEST_F(LauncherTemp, AnotherUsersWorkFolderIsNeverUsed) {
  std::string Why;
  // A ready-looking work folder planted by someone else, naming this user
  // folder in its record.
  MakeReadyWorkFolder(FUser, {{"planted.txt", "theirs;theirs\n"}});
  if (!GiveToAnotherUser(Utf8Of(WorkFolder()), Why)) GTEST_SKIP() << Why;
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  const TEntries Before = Snapshot(FUser);
  EXPECT_EQ(Run({}), 217);
  ExpectReport("EInOutError: Unsafe work folder \"" + Utf8Of(WorkFolder()) + Sep + "\"");
  // Their program never ran, nothing of theirs reached the user, and their
  // folder is still theirs.
  EXPECT_EQ(Snapshot(FUser), Before);
  EXPECT_TRUE(fsys::exists(WorkFolder() / "dereroz" / "planted.txt"));
}

TEST_F(LauncherTemp, MarkerPathThatIsALinkStopsTheRunAndWritesNothing) {
  WriteFile(FRoot / "victim.txt", "the victim's own words\n");
  std::string Why;
  if (!qbtest::MakeFileLink(Utf8Of(FRoot / "victim.txt"), Utf8Of(FTemp / "swipl.home"), Why)) GTEST_SKIP() << Why;
  Control("pl must not be written\n");
  EXPECT_EQ(Run({}), 217);
  ExpectReport("EInOutError: Unsafe runtime marker \"" + Utf8Of(FTemp / "swipl.home") +
               "\": a link, which is not followed");
  EXPECT_EQ(ReadFile(FRoot / "victim.txt"), "the victim's own words\n");
  EXPECT_FALSE(fsys::exists(FUser / "probe_report.txt"));
  EXPECT_FALSE(fsys::exists(WorkFolder()));
}

TEST_F(LauncherTemp, MarkerThatIsAHardLinkIsReplacedNotWrittenInto) {
  WriteFile(FRoot / "victim.txt", "the victim's own words\n");
  std::error_code Error;
  fsys::create_hard_link(FRoot / "victim.txt", FTemp / "swipl.home", Error);
  if (Error) GTEST_SKIP() << "no hard links here";
  Control("signal running\nwait go\n");
  const intptr_t Child = Start({}, FUser);
  ASSERT_TRUE(WaitFor(FUser / "running"));
  // While the application runs, the marker is the bundle's.
  EXPECT_EQ(ReadFile(FTemp / "swipl.home"), "quintabel5\n# probe runtime marker\n");
  WriteFile(FUser / "go", "");
  ASSERT_EQ(WaitChild(Child), 0) << StdErr();
  EXPECT_EQ(ReadFile(FRoot / "victim.txt"), "the victim's own words\n");
  ExpectTempClean();
}

TEST_F(LauncherTemp, MarkerOfAnotherUserStopsTheRun) {
  std::string Why;
  WriteFile(FTemp / "swipl.home", "their runtime\n");
  if (!GiveToAnotherUser(Utf8Of(FTemp / "swipl.home"), Why)) GTEST_SKIP() << Why;
  EXPECT_EQ(Run({}), 217);
  ExpectReport("EInOutError: Unsafe runtime marker \"" + Utf8Of(FTemp / "swipl.home") + "\": owned by another user");
  EXPECT_EQ(ReadFile(FTemp / "swipl.home"), "their runtime\n");
  EXPECT_FALSE(fsys::exists(FUser / "probe_report.txt"));
}

TEST_F(LauncherTemp, RelativeTempAndTmpCountAsUnset) {
  fsys::path Fallback = FRoot / "platform-temp";
  fsys::create_directories(Fallback);
  // What a relative TEMP would have put at risk: the user's own folders of
  // those names.
  fsys::create_directories(FUser / "quintabel");
  WriteFile(FUser / "quintabel" / "keep.txt", "the user's\n");
  fsys::create_directories(FUser / "quintabel5");
  WriteFile(FUser / "quintabel5" / "keep.txt", "the user's\n");
  FEnvironment.Set = {{"TEMP", "."}, {"TMP", "."}};
  const std::string Expected = UsePlatformTempFolder(FEnvironment, Utf8Of(Fallback));
  ASSERT_EQ(Run({}), 0) << StdErr();
  const std::string Self = Report().One("self");
  EXPECT_NE(Self.rfind(Utf8Of(FUser), 0), 0u) << Self;
  EXPECT_EQ(Self, Expected + "quintabel5");
  EXPECT_EQ(ReadFile(FUser / "quintabel" / "keep.txt"), "the user's\n");
  EXPECT_EQ(ReadFile(FUser / "quintabel5" / "keep.txt"), "the user's\n");
  EXPECT_FALSE(fsys::exists(U8(Self)));
}

TEST_F(LauncherTemp, LaunchFromInsideAFolderTheCleanUpDeletesStopsAtOnce) {
  for (const fsys::path& Inside : {WorkFolder() / "sub", FTemp / "quintabel" / "deeper" / "still"}) {
    SCOPED_TRACE(Utf8Of(Inside));
    fsys::create_directories(Inside);
    WriteFile(Inside / "trad_dyn.pl", "output the user keeps here\n");
    WriteFile(Inside / "probe_control.txt", "pl must not be written\n");
    EXPECT_EQ(WaitChild(Start({}, Inside)), 217);
    ExpectReport("EInOutError: Cannot run from \"" + Utf8Of(Inside) + Sep + "\": it lies inside \"");
    EXPECT_EQ(ReadFile(Inside / "trad_dyn.pl"), "output the user keeps here\n");
    EXPECT_FALSE(fsys::exists(Inside / "probe_report.txt"));
    fsys::remove_all(FTemp / "quintabel5");
    fsys::remove_all(FTemp / "quintabel");
  }
}

TEST_F(LauncherTemp, CurrentFolderThatNoLongerExistsStopsTheRun) {
#ifdef _WIN32
  GTEST_SKIP() << "a current folder cannot be removed on Windows";
#else
  const fsys::path Gone = FRoot / "gone";
  fsys::create_directories(Gone);
  const intptr_t Child =
      StartChild("/bin/sh", {"-c", "rmdir \"$PWD\" && exec \"$0\"", BuildTreePath(QB_PROBE_LAUNCHER)}, Utf8Of(Gone),
                 FEnvironment, Utf8Of(FRoot / "stderr.txt"));
  EXPECT_EQ(WaitChild(Child), 217);
  ExpectReport("EInOutError: The current folder cannot be read: not found");
  EXPECT_FALSE(fsys::exists(WorkFolder()));
  EXPECT_FALSE(fsys::exists("/probe_report.txt"));
#endif
}

TEST_F(LauncherTemp, TempFolderOutsideTheAnsiCodePage) {
  FTemp = FRoot / U8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E-\xC5\x81\xC3\xB3\x64\xC5\xBA");  // 日本語-Łódź
  fsys::create_directories(FTemp);
  FEnvironment.Set = {{"TEMP", Utf8Of(FTemp)}, {"TMP", Utf8Of(FTemp)}};
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  Control("dict plus.txt deux;two\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(Report().One("self"), Utf8Of(WorkFolder()));
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"mots.txt", "un;one\n"}, {"plus.txt", "deux;two\n"}}));
  ExpectTempClean();
  EXPECT_TRUE(Names(FTemp).empty());
}

#ifndef _WIN32
// A user dictionary whose one entry lies Depth folders of 200 characters
// down.
std::string DeepDictionary(int Depth) {
  std::string Name;
  for (int I = 0; I < Depth; ++I) Name += std::string(199, 'd') + std::to_string(I % 10) + "/";
  return MakeZip({{"mots.txt", "un;one\n"}, {Name + "loin.txt", "far;away\n"}});
}
#endif

TEST_F(LauncherTemp, DictionaryDeeperThanThePathLimitFailsCleanlyAndBlocksNothing) {
#ifdef _WIN32
  GTEST_SKIP() << "the POSIX limit of 4,095 bytes";
#else
  // About 4,200 bytes below the dictionary folder: past the limit.
  WriteFile(FUser / "dereroz.zip", DeepDictionary(21));
  const TEntries Before = Snapshot(FUser);
  EXPECT_EQ(Run({}), 217);
  ExpectReport("Unable to create file");
  EXPECT_EQ(Snapshot(FUser), Before);
  EXPECT_FALSE(fsys::exists(WorkFolder()));
  // The next run is not held up by anything the failed one left.
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  ASSERT_EQ(Run({}), 0) << StdErr();
  ExpectTempClean();
#endif
}

TEST_F(LauncherTemp, DictionaryJustWithinThePathLimitGoesBackAndIsCleanedUp) {
#ifdef _WIN32
  GTEST_SKIP() << "the POSIX limit of 4,095 bytes";
#else
  const size_t Prefix = Utf8Of(WorkFolder() / "dereroz").size() + 1;
  const int Depth = static_cast<int>((4000 - Prefix) / 200);
  WriteFile(FUser / "dereroz.zip", DeepDictionary(Depth));
  Control("dict plus.txt deux;two\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(ReadFile(Unpacked(FUser / "dereroz.zip") / "plus.txt"), "deux;two\n");
  ExpectTempClean();
#endif
}

}  // namespace
