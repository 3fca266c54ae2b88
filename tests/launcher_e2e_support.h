// What the end-to-end tests of the launcher share: a stored zip archive
// made byte by byte, the probe application's report, and the fixture that
// gives each test a user folder and a temporary folder of its own and starts
// the launcher built with the probe bundle there.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

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
#include "zip/zip_reader.h"

namespace fs = std::filesystem;

namespace qbe2e {

using TEntries = std::map<std::string, std::string>;

inline fs::path U8(const std::string& Text) { return fs::u8path(Text); }
inline std::string Text(const fs::path& Path) { return Path.u8string(); }

using qbtest::GiveToAnotherUser;
using qbtest::HoldFile;
using qbtest::ReadFile;
using qbtest::ReleaseFile;
using qbtest::WriteFile;

inline void Put16(std::string& Out, uint32_t V) {
  Out += static_cast<char>(V & 0xFF);
  Out += static_cast<char>((V >> 8) & 0xFF);
}
inline void Put32(std::string& Out, uint32_t V) {
  Put16(Out, V & 0xFFFF);
  Put16(Out, V >> 16);
}

// A stored zip archive made byte by byte, independent of the code under test.
inline std::string MakeZip(const TEntries& Entries) {
  std::string Archive, Central;
  for (const auto& [Name, Data] : Entries) {
    uint32_t Crc =
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(Data.data()), static_cast<uInt>(Data.size())));
    uint32_t Offset = static_cast<uint32_t>(Archive.size());
    Put32(Archive, 0x04034B50);
    Put16(Archive, 10);
    Put16(Archive, 0);
    Put16(Archive, 0);
    Put16(Archive, 0);
    Put16(Archive, 0x5821);
    Put32(Archive, Crc);
    Put32(Archive, Data.size());
    Put32(Archive, Data.size());
    Put16(Archive, Name.size());
    Put16(Archive, 0);
    Archive += Name + Data;
    Put32(Central, 0x02014B50);
    Put16(Central, 10);
    Put16(Central, 10);
    Put16(Central, 0);
    Put16(Central, 0);
    Put16(Central, 0);
    Put16(Central, 0x5821);
    Put32(Central, Crc);
    Put32(Central, Data.size());
    Put32(Central, Data.size());
    Put16(Central, Name.size());
    Put16(Central, 0);
    Put16(Central, 0);
    Put16(Central, 0);
    Put16(Central, 0);
    Put32(Central, 0x20);
    Put32(Central, Offset);
    Central += Name;
  }
  uint32_t CentralOffset = static_cast<uint32_t>(Archive.size());
  Archive += Central;
  Put32(Archive, 0x06054B50);
  Put16(Archive, 0);
  Put16(Archive, 0);
  Put16(Archive, Entries.size());
  Put16(Archive, Entries.size());
  Put32(Archive, Central.size());
  Put32(Archive, CentralOffset);
  Put16(Archive, 0);
  return Archive;
}

inline std::set<std::string> Names(const fs::path& Folder) {
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
    fs::create_directories(FUser);
    fs::create_directories(FTemp);
    FEnvironment.Set = {{"TEMP", Text(FTemp)}, {"TMP", Text(FTemp)}};
  }

  fs::path WorkFolder() const { return FTemp / "quintabel5"; }

  intptr_t Start(const std::vector<std::string>& Arguments, const fs::path& Folder,
                 const std::string& Launcher = QB_PROBE_LAUNCHER) {
    return StartChild(BuildTreePath(Launcher), Arguments, Text(Folder), FEnvironment, Text(FRoot / "stderr.txt"));
  }
  int Run(const std::vector<std::string>& Arguments, const std::string& Launcher = QB_PROBE_LAUNCHER) {
    return WaitChild(Start(Arguments, FUser, Launcher));
  }
  std::string StdErr() const { return ReadFile(FRoot / "stderr.txt"); }
  TReport Report(const fs::path& Folder) const { return ParseReport(ReadFile(Folder / "probe_report.txt")); }
  TReport Report() const { return Report(FUser); }
  void Control(const std::string& Commands) { WriteFile(FUser / "probe_control.txt", Commands); }

  // The entries of an archive, read back through the extraction code.
  TEntries ZipEntries(const fs::path& Archive) {
    fs::path Out = FRoot / "unpacked";
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
    EXPECT_FALSE(fs::exists(FTemp / "quintabel5.lock"));
    EXPECT_FALSE(fs::exists(FTemp / "quintabel"));
    EXPECT_FALSE(fs::exists(FTemp / "swipl.home"));
  }

  // Every file below Folder (relative name, "/" as separator) with its
  // bytes, every folder as "<folder>", links (never followed) and other
  // entries by what they are.
  static TEntries Snapshot(const fs::path& Folder) {
    TEntries Files;
    std::error_code Error;
    for (auto It = fs::recursive_directory_iterator(Folder, Error); !Error && It != fs::recursive_directory_iterator();
         It.increment(Error)) {
      const std::string Name = It->path().lexically_relative(Folder).generic_u8string();
      const fs::file_status Status = It->symlink_status();
      if (fs::is_symlink(Status))
        Files[Name] = "<link to " + fs::read_symlink(It->path()).u8string() + ">";
      else if (fs::is_directory(Status))
        Files[Name] = "<folder>";
      else if (fs::is_regular_file(Status))
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
    if (qbtest::TestUser(qbtest::TestUserName, Uid, Gid, Why) && !qbtest::GiveTree(Text(FRoot), qbtest::TestUserName))
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
  void MakeReadyWorkFolder(const fs::path& ForUser, const TEntries& Dictionary) {
    fs::create_directories(WorkFolder() / "dereroz");
    fs::permissions(WorkFolder(), fs::perms::owner_all, fs::perm_options::replace);
    fs::copy_file(U8(BuildTreePath(QB_PROBE_APP)), WorkFolder() / "quintabel.exe");
    fs::copy_file(U8(BuildTreePath(QB_PROBE_BUNDLE)), WorkFolder() / "quintabelprincipal.zip");
    WriteFile(WorkFolder() / "swipl.home", "quintabel5\n# probe runtime marker\n");
    for (const auto& [Name, Content] : Dictionary) WriteFile(WorkFolder() / "dereroz" / U8(Name), Content);
    const std::string Bundle = ReadFile(U8(BuildTreePath(QB_PROBE_BUNDLE)));
    WriteFile(WorkFolder() / "quintabel.install",
              "quintabel install\nbundle " + BundleIdentity(Bundle.data(), Bundle.size()) + "\nfolder " +
                  Text(ForUser) + std::string(1, fs::path::preferred_separator) + "\nend\n");
  }

  // Waits (up to two minutes) until the file Path exists.
  static bool WaitFor(const fs::path& Path) {
    for (int I = 0; I < 6000 && !fs::exists(Path); ++I) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(Path);
  }

  qbtest::TScratchFolder FScratch;
  const fs::path& FRoot = FScratch.Root();
  fs::path FUser, FTemp;
  TChildEnvironment FEnvironment;
};

}  // namespace qbe2e
