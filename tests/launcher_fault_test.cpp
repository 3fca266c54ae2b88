// End-to-end runs of the launcher under the faults users meet: locked,
// unreadable or odd user files, output that cannot be written back, work
// folders left by stopped runs, requests to stop. Each run either delivers
// everything and ends with 0, or ends with 217 and a report, the user's files
// byte for byte as they were (or completely updated), and nothing the
// application produced thrown away.
#include <csignal>
#include <thread>

#include "tests/launcher_e2e_support.h"

#ifndef _WIN32
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using namespace qbtest;

class LauncherFault : public LauncherRun {
 protected:
  // The run failed before the application started: the user's folder is as
  // it was and the work folder is gone.
  void ExpectStoppedBeforeTheApplication(const TEntries& Before) {
    EXPECT_EQ(Snapshot(FUser), Before);
    EXPECT_FALSE(fsys::exists(FUser / "probe_report.txt"));
    EXPECT_FALSE(fsys::exists(WorkFolder()));
    EXPECT_FALSE(fsys::exists(FTemp / "quintabel5.lock"));
  }
  // A user folder emptied for the next case of a loop.
  void EmptyUserFolder() {
    fsys::remove_all(FUser);
    fsys::create_directories(FUser);
  }
  // The user's folder without what the probe application itself writes there.
  TEntries UserFiles() const {
    TEntries Files = Snapshot(FUser);
    Files.erase("probe_report.txt");
    return Files;
  }
#ifndef _WIN32
  // Mounts a volume of Size bytes over the empty folder Where for the rest
  // of the test; false where this user cannot.
  bool MountSmallVolume(const fsys::path& Where, uintmax_t Size) {
    const std::string Options = "size=" + std::to_string(Size / 1024) + "k";
    if (geteuid() != 0 || mount("qbfull", Where.c_str(), "tmpfs", 0, Options.c_str()) != 0) return false;
    FMounted.push_back(Where);
    return true;
  }
  void TearDown() override {
    for (const fsys::path& Where : FMounted) umount2(Where.c_str(), MNT_DETACH);
    LauncherRun::TearDown();
  }
  // The room an install of the probe bundle takes: the archive and what it
  // holds (which compresses better in some builds than in others).
  uintmax_t InstalledSize() {
    uintmax_t Size = fsys::file_size(U8(BuildTreePath(QB_PROBE_BUNDLE)));
    ExtractArchive(BuildTreePath(QB_PROBE_BUNDLE), Utf8Of(FRoot / "installed") + Sep);
    for (const auto& Entry : fsys::recursive_directory_iterator(FRoot / "installed"))
      if (Entry.is_regular_file()) Size += Entry.file_size();
    return Size;
  }
  std::vector<fsys::path> FMounted;
#endif
  // The one keep folder of the run in the temporary folder, or an empty path.
  fsys::path KeepFolder() const {
    for (const std::string& Name : Names(FTemp))
      if (Name.rfind("quintabel-kept-", 0) == 0) return FTemp / U8(Name);
    return fsys::path();
  }
};

TEST_F(LauncherFault, UserFilesHeldByAnotherProgramStopTheRunBeforeTheApplication) {
  for (const char* Name : {"dereroz.zip", "trad_dyn.csv"}) {
    SCOPED_TRACE(Name);
    EmptyUserFolder();
    WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
    WriteFile(FUser / "trad_dyn.csv", "deux;two\n");
    WriteFile(FUser / "trad_dyn.pl", "older output\n");
    Control("pl new output\ndict plus.txt trois;three\n");
    const TEntries Before = Snapshot(FUser);
    const intptr_t Held = HoldFile(Utf8Of(FUser / Name));
    ASSERT_NE(Held, -1);
    EXPECT_EQ(Run({}), 217);
    ReleaseFile(Held);
    ExpectReport("EInOutError: The user's data could not be brought in: cannot read \"" + Utf8Of(FUser / Name) +
                 "\": in use by another program");
    ExpectStoppedBeforeTheApplication(Before);
  }
}

TEST_F(LauncherFault, UserFileHeldForAMomentIsWaitedFor) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  Control("dict plus.txt deux;two\n");
  const intptr_t Held = HoldFile(Utf8Of(FUser / "dereroz.zip"));
  ASSERT_NE(Held, -1);
  std::thread Releaser([Held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    ReleaseFile(Held);
  });
  const int Code = Run({});
  Releaser.join();
  ASSERT_EQ(Code, 0) << StdErr();
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"mots.txt", "un;one\n"}, {"plus.txt", "deux;two\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherFault, UserFilesThatAreNoRegularFilesStopTheRun) {
  struct TCase {
    std::string Name;
    std::string Reason;
    bool (*Make)(const fsys::path&);
  };
  std::vector<TCase> Cases = {
      {"dereroz.zip", "a folder", [](const fsys::path& P) { return fsys::create_directories(P / "inside"); }},
      {"trad_dyn.csv", "a folder", [](const fsys::path& P) { return fsys::create_directories(P); }},
  };
#ifndef _WIN32
  Cases.push_back(
      {"trad_dyn.csv", "not a regular file", [](const fsys::path& P) { return mkfifo(P.c_str(), 0600) == 0; }});
  Cases.push_back(
      {"dereroz.zip", "not a regular file", [](const fsys::path& P) { return symlink("/dev/zero", P.c_str()) == 0; }});
  // A file whose every read fails: nothing may take that for an empty file.
  Cases.push_back({"trad_dyn.csv", "input/output error",
                   [](const fsys::path& P) { return symlink("/proc/self/mem", P.c_str()) == 0; }});
#endif
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name + ": " + Case.Reason);
    EmptyUserFolder();
    if (Case.Name != "dereroz.zip") WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
    ASSERT_TRUE(Case.Make(FUser / Case.Name));
    Control("pl must not be written\n");
    const TEntries Before = Snapshot(FUser);
    EXPECT_EQ(Run({}), 217);
    ExpectReport("cannot read \"" + Utf8Of(FUser / Case.Name) + "\": " + Case.Reason);
    ExpectStoppedBeforeTheApplication(Before);
  }
}

TEST_F(LauncherFault, UnreadableUserArchiveStopsTheRun) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  Control("pl must not be written\n");
  std::string Why;
  if (!RunAsTestUser(Why)) GTEST_SKIP() << Why;
#ifndef _WIN32
  chmod((FUser / "dereroz.zip").c_str(), 0);
  const TEntries Before = Snapshot(FUser);
  EXPECT_EQ(Run({}), 217);
  ExpectReport("cannot read \"" + Utf8Of(FUser / "dereroz.zip") + "\": permission denied");
  ExpectStoppedBeforeTheApplication(Before);
  EXPECT_EQ(fsys::status(FUser / "dereroz.zip").permissions(), fsys::perms::none);
#endif
}

TEST_F(LauncherFault, OutputThatCannotBeWrittenBackIsKeptAndReported) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  WriteFile(FUser / "trad_dyn.pl", "older output\n");
  Control("pl new output\ndict plus.txt deux;two\n");
  std::string Why;
  if (!RunAsTestUser(Why)) GTEST_SKIP() << Why;
#ifndef _WIN32
  // A user folder the user may read but not write into.
  chmod(FUser.c_str(), 0555);
  const TEntries Before = Snapshot(FUser);
  EXPECT_EQ(Run({}), 217);
  chmod(FUser.c_str(), 0755);
  ExpectReport("EInOutError: The application's output was not delivered: cannot write \"" +
               Utf8Of(FUser / "trad_dyn.pl") + "\": permission denied; cannot write \"" +
               Utf8Of(FUser / "dereroz.zip") + "\": permission denied; it is kept in \"");
  EXPECT_EQ(Snapshot(FUser), Before);
  const fsys::path Keep = KeepFolder();
  ASSERT_FALSE(Keep.empty()) << StdErr();
  ExpectReport(Utf8Of(Keep) + Sep + "\"");
  EXPECT_EQ(ReadFile(Keep / "trad_dyn.pl"), "new output\n");
  EXPECT_EQ(ZipEntries(Keep / "dereroz.zip"), (TEntries{{"mots.txt", "un;one\n"}, {"plus.txt", "deux;two\n"}}));
  EXPECT_FALSE(fsys::exists(WorkFolder()));
#endif
}

TEST_F(LauncherFault, OutputOverAFolderIsKept) {
  fsys::create_directories(FUser / "trad_dyn.pl" / "inside");
  Control("pl new output\n");
  EXPECT_EQ(Run({}), 217);
  ExpectReport("cannot write \"" + Utf8Of(FUser / "trad_dyn.pl") +
               "\": a folder stands in its place; it is kept in \"");
  EXPECT_TRUE(fsys::is_directory(FUser / "trad_dyn.pl" / "inside"));
  const fsys::path Keep = KeepFolder();
  ASSERT_FALSE(Keep.empty());
  EXPECT_EQ(ReadFile(Keep / "trad_dyn.pl"), "new output\n");
  EXPECT_FALSE(fsys::exists(WorkFolder()));
}

TEST_F(LauncherFault, OutputOverAFileHeldByAnotherProgramIsKept) {
#ifndef _WIN32
  GTEST_SKIP() << "a held file is replaced all the same on POSIX";
#endif
  WriteFile(FUser / "trad_dyn.pl", "older output\n");
  Control("pl new output\n");
  const intptr_t Held = HoldFile(Utf8Of(FUser / "trad_dyn.pl"));
  ASSERT_NE(Held, -1);
  EXPECT_EQ(Run({}), 217);
  ReleaseFile(Held);
  EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "older output\n");
  const fsys::path Keep = KeepFolder();
  ASSERT_FALSE(Keep.empty());
  EXPECT_EQ(ReadFile(Keep / "trad_dyn.pl"), "new output\n");
  EXPECT_EQ(Names(FUser), (std::set<std::string>{"probe_control.txt", "probe_report.txt", "trad_dyn.pl"}));
}

TEST_F(LauncherFault, FullUserFolderKeepsTheOutput) {
#ifdef _WIN32
  GTEST_SKIP() << "no small volume to fill here";
#else
  if (!MountSmallVolume(FUser, 64 * 1024)) GTEST_SKIP() << "mounting a small volume needs root";
  WriteFile(FUser / "trad_dyn.pl", "older output\n");
  Control("plsize 200000\n");
  const TEntries Before = Snapshot(FUser);
  EXPECT_EQ(Run({}), 217);
  ExpectReport("cannot write \"" + Utf8Of(FUser / "trad_dyn.pl") + "\": no space left; it is kept in \"");
  EXPECT_EQ(UserFiles(), Before);
  const fsys::path Keep = KeepFolder();
  ASSERT_FALSE(Keep.empty());
  EXPECT_EQ(ReadFile(Keep / "trad_dyn.pl"), std::string(200000, 'x'));
#endif
}

TEST_F(LauncherFault, FullTemporaryFolderStopsTheImportWithItsReason) {
#ifdef _WIN32
  GTEST_SKIP() << "no small volume to fill here";
#else
  const uintmax_t Room = InstalledSize() + 400000;
  if (!MountSmallVolume(FTemp, Room)) GTEST_SKIP() << "mounting a small volume needs root";
  std::string Big = qbtest::PatternBytes(static_cast<size_t>(Room));
  WriteFile(FUser / "dereroz.zip", MakeZip({{"gros.bin", Big}}));
  Control("pl must not be written\n");
  const TEntries Before = Snapshot(FUser);
  EXPECT_EQ(Run({}), 217);
  ExpectReport("EInOutError: The user's data could not be brought in: cannot write \"" +
               Utf8Of(WorkFolder() / "dereroz.zip") + "\": no space left");
  ExpectStoppedBeforeTheApplication(Before);
#endif
}

TEST_F(LauncherFault, TemporaryFolderFilledByTheApplicationStillDelivers) {
#ifdef _WIN32
  GTEST_SKIP() << "no small volume to fill here";
#else
  // The dictionary goes straight to the user's folder, which has room.
  if (!MountSmallVolume(FTemp, InstalledSize() + 400000)) GTEST_SKIP() << "mounting a small volume needs root";
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  Control("dict plus.txt deux;two\nfill remplissage.bin\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"mots.txt", "un;one\n"}, {"plus.txt", "deux;two\n"}}));
  ExpectTempClean();
#endif
}

TEST_F(LauncherFault, LeftoverOfAStoppedInstallIsInstalledAfresh) {
  // A run killed while installing: the application is there, the
  // dictionary folder and the install record are not.
  fsys::create_directories(WorkFolder());
  fsys::permissions(WorkFolder(), fsys::perms::owner_all, fsys::perm_options::replace);
  fsys::copy_file(U8(BuildTreePath(QB_PROBE_APP)), WorkFolder() / "quintabel.exe");
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}, {"deux.txt", "deux;two\n"}}));
  Control("dict plus.txt trois;three\n");
  ASSERT_EQ(Run({"arg"}), 0) << StdErr();
  EXPECT_EQ(Report().All("dict"), (std::vector<std::string>{"deux.txt:deux;two\\n", "mots.txt:un;one\\n"}));
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"),
            (TEntries{{"deux.txt", "deux;two\n"}, {"mots.txt", "un;one\n"}, {"plus.txt", "trois;three\n"}}));
  ExpectTempClean();
}

TEST_F(LauncherFault, LeftoverForAnotherFolderOrBundleIsInstalledAfresh) {
  for (const char* Kind : {"another folder", "another bundle"}) {
    SCOPED_TRACE(Kind);
    MakeReadyWorkFolder(std::string(Kind) == "another folder" ? FRoot / "elsewhere" : FUser,
                        {{"etranger.txt", "not;ours\n"}});
    if (std::string(Kind) == "another bundle") {
      std::string Record = ReadFile(WorkFolder() / "quintabel.install");
      Record.replace(Record.find("bundle ") + 7, 3, "999");
      WriteFile(WorkFolder() / "quintabel.install", Record);
    }
    WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
    Control("dict plus.txt deux;two\n");
    ASSERT_EQ(Run({}), 0) << StdErr();
    EXPECT_EQ(Report().All("dict"), std::vector<std::string>{"mots.txt:un;one\\n"});
    EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"mots.txt", "un;one\n"}, {"plus.txt", "deux;two\n"}}));
    ExpectTempClean();
  }
}

TEST_F(LauncherFault, DictionaryWithSubfoldersAndManyFilesGoesBackWhole) {
#ifndef _WIN32
  // Fewer descriptors than the dictionary has files.
  struct rlimit Saved;
  getrlimit(RLIMIT_NOFILE, &Saved);
  struct rlimit Small = Saved;
  Small.rlim_cur = 256;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &Small), 0);
#endif
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}, {"sous/dossier.txt", "deux;two\n"}}));
  Control("dictmany e 400\nsubfolder vide\n");
  const int Code = Run({});
#ifndef _WIN32
  setrlimit(RLIMIT_NOFILE, &Saved);
#endif
  ASSERT_EQ(Code, 0) << StdErr();
  EXPECT_EQ(Report().All("dict"), (std::vector<std::string>{"mots.txt:un;one\\n", "sous/"}));
  const fsys::path Out = Unpacked(FUser / "dereroz.zip");
  EXPECT_EQ(ReadFile(Out / "sous" / "dossier.txt"), "deux;two\n");
  EXPECT_EQ(ReadFile(Out / "e399.txt"), "entry 399\n");
  EXPECT_TRUE(fsys::is_directory(Out / "vide"));
  EXPECT_EQ(Snapshot(Out).size(), 1u + 2u + 400u + 1u);  // mots, sous/ and its file, e*, vide/
  ExpectTempClean();
}

TEST_F(LauncherFault, EmptiedDictionaryGivesAnEmptyArchive) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  Control("empty\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  ASSERT_TRUE(fsys::is_regular_file(FUser / "dereroz.zip"));
  EXPECT_TRUE(ZipEntries(FUser / "dereroz.zip").empty());
  // Later runs still carry the dictionary back.
  Control("dict neuf.txt quatre;four\n");
  ASSERT_EQ(Run({}), 0) << StdErr();
  EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"neuf.txt", "quatre;four\n"}}));
}

TEST_F(LauncherFault, DamagedUserArchiveStopsTheRunAndStaysUntouched) {
  std::string Archive = MakeZip({{"mots.txt", "maison;house\n"}});
  Archive[30 + 8 + 2] ^= 0x20;  // a byte of the stored data: its CRC no longer matches
  WriteFile(FUser / "dereroz.zip", Archive);
  Control("pl must not be written\n");
  const TEntries Before = Snapshot(FUser);
  EXPECT_EQ(Run({}), 217);
  ExpectReport("EZipError: ");
  ExpectReport("mots.txt");
  ExpectStoppedBeforeTheApplication(Before);
}

TEST_F(LauncherFault, LitterOfStoppedRunsGoesWithTheNextCompletedRun) {
  WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
  for (const fsys::path& Litter :
       {FUser / "dereroz.zip.~0123456789ab", FUser / "trad_dyn.pl.~00000000cafe", FTemp / "swipl.home.~abcdef012345"})
    WriteFile(Litter, "left by a stopped run");
  // Names that are not the launcher's, and a temporary file still in use.
  WriteFile(FUser / "dereroz.zip.~mine", "the user's");
  WriteFile(FUser / "trad_dyn.pl.~0123456789abc", "the user's");
  WriteFile(FUser / "trad_dyn.pl.~abcdefabcdef", "in use");
  const intptr_t Held = HoldFile(Utf8Of(FUser / "trad_dyn.pl.~abcdefabcdef"));
  ASSERT_EQ(Run({}), 0) << StdErr();
  ReleaseFile(Held);
  EXPECT_EQ(Names(FUser), (std::set<std::string>{"dereroz.zip", "dereroz.zip.~mine", "probe_report.txt",
                                                 "trad_dyn.pl.~0123456789abc", "trad_dyn.pl.~abcdefabcdef"}));
  EXPECT_TRUE(Names(FTemp).empty());
}

TEST_F(LauncherFault, RequestsToStopArePassedToTheApplication) {
#ifdef _WIN32
  GTEST_SKIP() << "no such requests for a windowed program";
#else
  for (int Signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(Signal);
    EmptyUserFolder();
    WriteFile(FUser / "dereroz.zip", MakeZip({{"mots.txt", "un;one\n"}}));
    Control("dict plus.txt deux;two\nonterm stopped politely\nsignal running\nwait never\n");
    const intptr_t Child = Start({}, FUser);
    ASSERT_TRUE(WaitFor(FUser / "running"));
    ASSERT_TRUE(SignalChild(Child, Signal));
    ASSERT_EQ(WaitChild(Child), 0) << StdErr();
    EXPECT_EQ(ReadFile(FUser / "trad_dyn.pl"), "stopped politely\n");
    EXPECT_EQ(ZipEntries(FUser / "dereroz.zip"), (TEntries{{"mots.txt", "un;one\n"}, {"plus.txt", "deux;two\n"}}));
    ExpectTempClean();
  }
#endif
}

}  // namespace
