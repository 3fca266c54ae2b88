// What the end-to-end tests of the launcher share: a stored zip archive,
// the probe application's report, and the fixture that
// gives each test a user folder and a temporary folder of its own and starts
// the launcher built with the probe bundle there.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "launcher/bundle_identity.h"
#include "tests/launcher_test_support.h"
#include "tests/test_support.h"
#include "tests/zip_read_support.h"
#include "zip/zip_reader.h"

namespace qbtest {

using TEntries = std::map<std::string, std::string>;

// The platform's path separator, as text.
inline const std::string Sep(1, fsys::path::preferred_separator);
// A stored zip archive of Entries, every entry stamped 11:01:02 on no date.
inline std::string MakeZip(const TEntries& Entries) {
  std::vector<TEntrySpec> Records;
  for (const auto& [Name, Data] : Entries) {
    Records.emplace_back(Name, B(Data));
    Records.back().ModTime = 0x5821;
    Records.back().ModDate = 0;
  }
  const Bytes Archive = BuildArchive(Records);
  return std::string(Archive.begin(), Archive.end());
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

inline TReport ParseReport(const std::string& Content) {
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

inline const std::string ProbeDefaultDictionary[] = {"autre.txt:chat;cat\\n", "base.txt:bonjour;hello\\n"};

class LauncherRun : public ::testing::Test {
 protected:
  void SetUp() override {
    FUser = FRoot / "user";
    FTemp = FRoot / "temp";
    fsys::create_directories(FUser);
    fsys::create_directories(FTemp);
    FEnvironment.Set = {{"TEMP", Utf8Of(FTemp)}, {"TMP", Utf8Of(FTemp)}};
  }

  fsys::path WorkFolder() const { return FTemp / "quintabel5"; }

  intptr_t Start(const std::vector<std::string>& Arguments, const fsys::path& Folder,
                 const std::string& Launcher = QB_PROBE_LAUNCHER) {
    return StartChild(BuildTreePath(Launcher), Arguments, Utf8Of(Folder), FEnvironment, Utf8Of(FRoot / "stderr.txt"));
  }
  int Run(const std::vector<std::string>& Arguments, const std::string& Launcher = QB_PROBE_LAUNCHER) {
    return WaitChild(Start(Arguments, FUser, Launcher));
  }
  std::string StdErr() const { return ReadFile(FRoot / "stderr.txt"); }
  // The launcher's error output holds Text, where the platform has it reported there.
  void ExpectReport(const std::string& Text) const {
    if (ReportOnStdErr()) {
      EXPECT_NE(StdErr().find(Text), std::string::npos) << StdErr();
    }
  }
  TReport Report(const fsys::path& Folder) const { return ParseReport(ReadFile(Folder / "probe_report.txt")); }
  TReport Report() const { return Report(FUser); }
  void Control(const std::string& Commands) { WriteFile(FUser / "probe_control.txt", Commands); }

  // The folder an archive is extracted to (afresh) through the extraction code.
  fsys::path Unpacked(const fsys::path& Archive) const {
    fsys::path Out = FRoot / "unpacked";
    fsys::remove_all(Out);
    fsys::create_directories(Out);
    ExtractArchive(Utf8Of(Archive), Utf8Of(Out) + Sep);
    return Out;
  }
  // The entries of an archive, read back through the extraction code.
  TEntries ZipEntries(const fsys::path& Archive) const {
    const fsys::path Out = Unpacked(Archive);
    TEntries Entries;
    for (const std::string& Name : Names(Out)) Entries[Name] = ReadFile(Out / U8(Name));
    return Entries;
  }

  // Nothing of the run is left in the temporary folder.
  void ExpectTempClean() {
    EXPECT_FALSE(fsys::exists(WorkFolder()));
    EXPECT_FALSE(fsys::exists(FTemp / "quintabel5.lock"));
    EXPECT_FALSE(fsys::exists(FTemp / "quintabel"));
    EXPECT_FALSE(fsys::exists(FTemp / "swipl.home"));
  }

  // Every file below Folder (relative name, "/" as separator) with its
  // bytes, every folder as "<folder>", links (never followed) and other
  // entries by what they are.
  static TEntries Snapshot(const fsys::path& Folder) {
    TEntries Files;
    std::error_code Error;
    for (auto It = fsys::recursive_directory_iterator(Folder, Error);
         !Error && It != fsys::recursive_directory_iterator(); It.increment(Error)) {
      const std::string Name = It->path().lexically_relative(Folder).generic_u8string();
      const fsys::file_status Status = It->symlink_status();
      if (fsys::is_symlink(Status))
        Files[Name] = "<link to " + fsys::read_symlink(It->path()).u8string() + ">";
      else if (fsys::is_directory(Status))
        Files[Name] = "<folder>";
      else if (fsys::is_regular_file(Status))
        Files[Name] = ReadFile(It->path());
      else
        Files[Name] = "<special>";
    }
    return Files;
  }

  // From now on the launcher runs as a user whom permission bits stop: as
  // root (POSIX) the unprivileged test user, who then owns the test's
  // folders, and otherwise this process's own user. False with Why where
  // there are no permission bits, and a test failure as well when the test
  // user cannot be had.
  bool RunAsTestUser(std::string& Why) {
    if (!qbtest::PermissionBitsApply()) {
      Why = "no permission bits here";
      return false;
    }
    if (!qbtest::PermissionsAreIgnored()) return true;
    uint32_t Uid = 0, Gid = 0;
    if (qbtest::TestUser(qbtest::TestUserName, Uid, Gid, Why) && !qbtest::GiveTree(Utf8Of(FRoot), qbtest::TestUserName))
      Why = "cannot give the scratch folder away";
    if (!Why.empty()) {
      ADD_FAILURE() << "cannot run the launcher as " << qbtest::TestUserName << ": " << Why;
      return false;
    }
    FEnvironment.RunAs = qbtest::TestUserName;
    return true;
  }

  // A work folder as a completed install of the probe bundle for the user
  // folder ForUser leaves it: the application, the install record and a
  // dictionary with Dictionary's files.
  void MakeReadyWorkFolder(const fsys::path& ForUser, const TEntries& Dictionary) {
    fsys::create_directories(WorkFolder() / "dereroz");
    fsys::permissions(WorkFolder(), fsys::perms::owner_all, fsys::perm_options::replace);
    fsys::copy_file(U8(BuildTreePath(QB_PROBE_APP)), WorkFolder() / "quintabel.exe");
    fsys::copy_file(U8(BuildTreePath(QB_PROBE_BUNDLE)), WorkFolder() / "quintabelprincipal.zip");
    WriteFile(WorkFolder() / "swipl.home", "quintabel5\n# probe runtime marker\n");
    for (const auto& [Name, Content] : Dictionary) WriteFile(WorkFolder() / "dereroz" / U8(Name), Content);
    const std::string Bundle = ReadFile(U8(BuildTreePath(QB_PROBE_BUNDLE)));
    WriteFile(WorkFolder() / "quintabel.install", "quintabel install\nbundle " +
                                                      BundleIdentity(Bundle.data(), Bundle.size()) + "\nfolder " +
                                                      Utf8Of(ForUser) + Sep + "\nend\n");
  }

  // Waits (up to two minutes) until the file Path exists.
  static bool WaitFor(const fsys::path& Path) {
    for (int I = 0; I < 6000 && !fsys::exists(Path); ++I) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fsys::exists(Path);
  }

  qbtest::TScratchFolder FScratch;
  const fsys::path& FRoot = FScratch.Root();
  fsys::path FUser, FTemp;
  TChildEnvironment FEnvironment;
};

}  // namespace qbtest
