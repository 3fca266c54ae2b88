// The work-folder services of the launcher: the temporary folder it falls
// back on, the work folder's safety checks, the run lock and the atomic
// export into the user's folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "fs/file_services.h"
#include "fs/path_text.h"
#include "launcher/work_folder.h"
#include "runtime/exceptions.h"
#include "tests/file_test_support.h"
#include "tests/launcher_test_support.h"

namespace fs = std::filesystem;

namespace {

using qbtest::ReadFile;
using qbtest::WriteFile;

std::set<std::string> Names(const fs::path& Folder) {
  std::set<std::string> Result;
  for (const auto& Entry : fs::directory_iterator(Folder)) Result.insert(Entry.path().filename().u8string());
  return Result;
}

class WorkFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937_64 Random(std::random_device{}() ^
                           static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    Root = fs::u8path(ScratchRoot()) /
           ("qb-wf-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(Random() % 1000000000));
    fs::create_directories(Root);
  }
  void TearDown() override {
    std::error_code Error;
    fs::permissions(Root / "work", fs::perms::owner_all, fs::perm_options::replace, Error);
    fs::remove_all(Root, Error);
  }
  std::string Folder(const std::string& Name) const {
    return (Root / Name).u8string() + std::string(1, PathSeparator);
  }

  fs::path Root;
};

// Restores an environment variable when the test ends.
class SavedVariable {
 public:
  explicit SavedVariable(const char* Name) : Name(Name) {
    const char* Value = getenv(Name);
    Present = Value != nullptr;
    if (Present) Saved = Value;
  }
  ~SavedVariable() {
    if (Present) SetEnvironmentValue(Name, Saved);
    else ClearEnvironmentValue(Name);
  }

 private:
  std::string Name, Saved;
  bool Present = false;
};

TEST_F(WorkFolder, TempFolderComesFromTempWhenSet) {
  SavedVariable Temp("TEMP"), Tmp("TMP");
  SetEnvironmentValue("TEMP", Root.u8string());
  EXPECT_EQ(RunTempFolder(), Root.u8string() + PathSeparator);
}

TEST_F(WorkFolder, WithoutTempOrTmpThePlatformFolderIsNeverTheCurrentOne) {
  SavedVariable Temp("TEMP"), Tmp("TMP");
  ClearEnvironmentValue("TEMP");
  ClearEnvironmentValue("TMP");
  ASSERT_EQ(GetTempFolder(), "");
  const std::string Folder = RunTempFolder();
  EXPECT_EQ(Folder, PlatformTempFolder());
  ASSERT_FALSE(Folder.empty());
  EXPECT_TRUE(IsSeparator(Folder.back())) << Folder;
  EXPECT_NE(ExcludeTrailingSeparator(Folder), ExcludeTrailingSeparator(GetCurrentFolder()));
  EXPECT_TRUE(fs::is_directory(fs::u8path(Folder))) << Folder;
}

TEST_F(WorkFolder, RelativeTmpDirNeverGivesTheCurrentFolder) {
  SavedVariable Temp("TEMP"), Tmp("TMP"), TmpDir("TMPDIR");
  ClearEnvironmentValue("TEMP");
  ClearEnvironmentValue("TMP");
  for (const char* Relative : {".", "./", "scratch"}) {
    SetEnvironmentValue("TMPDIR", Relative);
    const std::string Folder = RunTempFolder();
    ASSERT_FALSE(Folder.empty()) << Relative;
    EXPECT_TRUE(fs::u8path(Folder).is_absolute()) << Relative << " gave " << Folder;
    std::error_code Error;
    EXPECT_FALSE(fs::equivalent(fs::u8path(Folder), fs::current_path(), Error)) << Relative << " gave " << Folder;
  }
}

TEST_F(WorkFolder, NothingAtThePathPassesTheCheck) {
  EXPECT_NO_THROW(CheckWorkFolder(Folder("absent")));
  EXPECT_NO_THROW(CheckWorkFolder(Folder("absent") + "deeper" + PathSeparator));
}

TEST_F(WorkFolder, CreatedWithMissingParentsAndOwnedByTheUserOnly) {
  const std::string Work = Folder("parent") + "work" + PathSeparator;
  CreateWorkFolder(Work);
  ASSERT_TRUE(fs::is_directory(fs::u8path(Work)));
  EXPECT_NO_THROW(CheckWorkFolder(Work));
  if (WorkFolderOwnershipChecked()) {
    EXPECT_EQ(fs::status(fs::u8path(Work)).permissions() & fs::perms::mask, fs::perms::owner_all);
  }
  // A second creation over the existing folder is harmless.
  EXPECT_NO_THROW(CreateWorkFolder(Work));
}

void ExpectUnsafe(const std::string& Work) {
  try {
    CheckWorkFolder(Work);
    ADD_FAILURE() << "no failure for " << Work;
  } catch (const EInOutError& Error) {
    EXPECT_EQ(Error.Message(), "Unsafe work folder \"" + Work + "\"");
    EXPECT_EQ(Error.ErrorCode, 13);
    EXPECT_STREQ(Error.ClassName(), "EInOutError");
  }
}

TEST_F(WorkFolder, LinkFileOrSharedFolderIsRefused) {
  if (!WorkFolderOwnershipChecked()) GTEST_SKIP() << "the temporary folder is the user's own here";
  fs::create_directories(Root / "target");
  fs::create_directory_symlink(Root / "target", Root / "link");
  ExpectUnsafe(Folder("link"));
  EXPECT_THROW(CreateWorkFolder(Folder("link")), EInOutError);
  EXPECT_TRUE(Names(Root / "target").empty());

  WriteFile(Root / "file", "x");
  ExpectUnsafe(Folder("file"));

  fs::create_directories(Root / "work");
  fs::permissions(Root / "work", fs::perms::owner_all | fs::perms::group_write, fs::perm_options::replace);
  ExpectUnsafe(Folder("work"));
  fs::permissions(Root / "work", fs::perms::owner_all | fs::perms::others_write, fs::perm_options::replace);
  ExpectUnsafe(Folder("work"));
  fs::permissions(Root / "work", fs::perms::owner_all | fs::perms::group_read | fs::perms::others_exec,
                  fs::perm_options::replace);
  EXPECT_NO_THROW(CheckWorkFolder(Folder("work")));
}

TEST_F(WorkFolder, RunLockIsSeenByTheCleanUpUntilReleased) {
  const std::string Work = Folder("work");
  fs::create_directories(fs::u8path(Work));
  EXPECT_FALSE(TRunLock::HeldByOthers(Work));  // no lock file yet
  {
    TRunLock First, Second;
    First.Acquire(Work);
    Second.Acquire(Work);  // shared: both launchers hold it
    ASSERT_TRUE(First.Held());
    ASSERT_TRUE(Second.Held());
    EXPECT_TRUE(fs::exists(fs::u8path(TRunLock::LockFileName(Work))));
    EXPECT_TRUE(TRunLock::HeldByOthers(Work));
    First.Release();
    EXPECT_FALSE(First.Held());
    EXPECT_TRUE(TRunLock::HeldByOthers(Work));
  }  // the destructor releases the second
  EXPECT_FALSE(TRunLock::HeldByOthers(Work));
  // The lock file goes with the tree once nobody holds it.
  EXPECT_TRUE(DeleteFolderTree(Work, false));
  EXPECT_FALSE(fs::exists(fs::u8path(Work)));
}

TEST_F(WorkFolder, LockInAMissingFolderIsNotHeld) {
  TRunLock Lock;
  Lock.Acquire(Folder("absent"));
  EXPECT_FALSE(Lock.Held());
  EXPECT_FALSE(fs::exists(Root / "absent"));
}

TEST_F(WorkFolder, ExportReplacesTheTargetCompletely) {
  WriteFile(Root / "source.pl", "new content\n");
  WriteFile(Root / "target.pl", "a much longer older content that must not survive in part\n");
  EXPECT_TRUE(ExportFile((Root / "source.pl").u8string(), (Root / "target.pl").u8string()));
  EXPECT_EQ(ReadFile(Root / "target.pl"), "new content\n");
  EXPECT_EQ(ReadFile(Root / "source.pl"), "new content\n");
  EXPECT_EQ(Names(Root), (std::set<std::string>{"source.pl", "target.pl"}));

  EXPECT_TRUE(ExportFile((Root / "source.pl").u8string(), (Root / "fresh.pl").u8string()));
  EXPECT_EQ(ReadFile(Root / "fresh.pl"), "new content\n");
}

TEST_F(WorkFolder, FailedExportLeavesTheTargetAndNoTemporaryFile) {
  WriteFile(Root / "target.pl", "keep me\n");
  EXPECT_FALSE(ExportFile((Root / "missing.pl").u8string(), (Root / "target.pl").u8string()));
  EXPECT_EQ(ReadFile(Root / "target.pl"), "keep me\n");
  EXPECT_EQ(Names(Root), std::set<std::string>{"target.pl"});

  // A folder in the target's place cannot be replaced by a file.
  WriteFile(Root / "source.pl", "data\n");
  fs::create_directories(Root / "taken.pl" / "inside");
  EXPECT_FALSE(ExportFile((Root / "source.pl").u8string(), (Root / "taken.pl").u8string()));
  EXPECT_TRUE(fs::is_directory(Root / "taken.pl" / "inside"));
  EXPECT_EQ(Names(Root), (std::set<std::string>{"source.pl", "taken.pl", "target.pl"}));
}

}  // namespace
