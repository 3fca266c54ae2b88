// The test-support kit itself: what RunUnprivileged reports of its body,
// scratch folders that go whatever a test left in them, whole files under
// names outside ASCII, and the environment guard.
#include "tests/test_support.h"

#include <gtest/gtest-spi.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

namespace fsys = qbtest::fsys;
using qbtest::ReadFile;
using qbtest::RunUnprivileged;
using qbtest::TScratchFolder;
using qbtest::U8;
using qbtest::WriteFile;

// Everything Statement reports, kept from the test's own result.
std::vector<testing::TestPartResult> ResultsOf(const std::function<void()>& Statement) {
  testing::TestPartResultArray Results;
  {
    testing::ScopedFakeTestPartResultReporter Reporter(testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS,
                                                       &Results);
    Statement();
  }
  std::vector<testing::TestPartResult> All;
  for (int I = 0; I < Results.size(); ++I) All.push_back(Results.GetTestPartResult(I));
  return All;
}

// The one failure among Results whose message holds Text, or nullptr.
const testing::TestPartResult* FailureWith(const std::vector<testing::TestPartResult>& Results,
                                           const std::string& Text) {
  const testing::TestPartResult* Found = nullptr;
  for (const testing::TestPartResult& R : Results)
    if (R.failed() && std::string(R.message()).find(Text) != std::string::npos) {
      if (Found != nullptr) return nullptr;
      Found = &R;
    }
  return Found;
}

bool CanCreateFileIn(const fsys::path& Folder) {
  std::ofstream Out(Folder / "probe.txt");
  return Out.is_open();
}

TEST(RunUnprivileged, BodyRunsWherePermissionBitsStopIt) {
  if (!qbtest::PermissionBitsApply()) GTEST_SKIP() << "no permission bits here";
  TScratchFolder Dir;
  const std::string Locked = Dir.Folder("locked");
  RunUnprivileged(Dir, [&] {
    fsys::permissions(U8(Locked), fsys::perms::owner_read | fsys::perms::owner_exec);
    EXPECT_FALSE(CanCreateFileIn(U8(Locked)));
    // The scratch folder is the body's own.
    WriteFile(Dir.Path("written by the body"), "yes");
  });
  EXPECT_EQ(ReadFile(Dir.Path("written by the body")), "yes");
}

TEST(RunUnprivileged, FailuresOfTheBodyAreReportedWithTheirPlace) {
  TScratchFolder Dir;
  const int Line = __LINE__ + 3;
  const auto Results = ResultsOf([&] {
    RunUnprivileged(Dir, [&] {
      EXPECT_EQ(1 + 1, 3) << "the body's own words";
      WriteFile(Dir.Path("went on"), "after a failure that is not fatal");
    });
  });
  const testing::TestPartResult* Failure = FailureWith(Results, "the body's own words");
  ASSERT_NE(Failure, nullptr) << Results.size() << " results";
  ASSERT_NE(Failure->file_name(), nullptr);
  EXPECT_NE(std::string(Failure->file_name()).find("test_support_test.cpp"), std::string::npos);
  EXPECT_EQ(Failure->line_number(), Line);
  EXPECT_EQ(ReadFile(Dir.Path("went on")), "after a failure that is not fatal");
}

TEST(RunUnprivileged, FatalFailureEndsTheBody) {
  TScratchFolder Dir;
  const auto Results = ResultsOf([&] {
    RunUnprivileged(Dir, [&] {
      ASSERT_TRUE(false) << "stopped here";
      WriteFile(Dir.Path("never"), "x");
    });
  });
  EXPECT_NE(FailureWith(Results, "stopped here"), nullptr);
  EXPECT_FALSE(fsys::exists(Dir.Root() / "never"));
}

TEST(RunUnprivileged, BodyThatPassesReportsNothing) {
  TScratchFolder Dir;
  const auto Results = ResultsOf([&] { RunUnprivileged(Dir, [] { EXPECT_EQ(2 + 2, 4); }); });
  std::string Failures;
  for (const testing::TestPartResult& R : Results)
    if (R.failed()) Failures += R.message();
  EXPECT_EQ(Failures, "");
}

#ifndef _WIN32
TEST(RunUnprivileged, BodyThatEndsTheProcessIsAFailure) {
  if (geteuid() != 0) GTEST_SKIP() << "the body runs in this very process when it is not root";
  TScratchFolder Dir;
  const auto Results = ResultsOf([&] { RunUnprivileged(Dir, [] { std::_Exit(0); }); });
  EXPECT_NE(FailureWith(Results, "before it finished"), nullptr);
}
#endif

TEST(ScratchFolder, GoesWithFoldersThatMayNotBeWrittenAndPathsPastTheLimit) {
  TScratchFolder Dir;
  RunUnprivileged(Dir, [] {
    fsys::path Root;
    {
      TScratchFolder Inner;
      Root = Inner.Root();
      const std::string Locked = Inner.Folder("a/locked");
      WriteFile(Locked + "kept.txt", "x");
      fsys::permissions(U8(Locked), fsys::perms::owner_read | fsys::perms::owner_exec);
      fsys::permissions(U8(Locked + "kept.txt"), fsys::perms::owner_read);
      // 40 levels of 20 characters: past Windows' 260 characters.
      Inner.Folder("deep");
      ASSERT_TRUE(qbtest::MakeDeepTree(Inner.Path("deep"), 40, std::string(20, 'd')));
    }
    EXPECT_FALSE(fsys::exists(Root)) << Root;
  });
}

TEST(ScratchFolder, PathsAreUtf8AndFoldersAreMade) {
  TScratchFolder Dir, Other;
  EXPECT_NE(Dir.Root(), Other.Root());
  EXPECT_TRUE(fsys::is_directory(Dir.Root()));
  const std::string Folder = Dir.Folder(
      "Donn\xC3\xA9"
      "es/\xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_TRUE(fsys::is_directory(U8(Folder)));
  EXPECT_EQ(Folder.back(), static_cast<char>(fsys::path::preferred_separator));
  EXPECT_TRUE(
      fsys::is_directory(U8(Dir.Path("Donn\xC3\xA9"
                                     "es"))));
}

TEST(WholeFiles, Utf8AndFilesystemPathsReachTheSameFile) {
  TScratchFolder Dir;
  const std::string Name = "\xC3\xBC-\xE6\x97\xA5.bin";
  const std::string Bytes("zero\0byte\xFF", 10);
  WriteFile(Dir.Path(Name), Bytes);
  EXPECT_EQ(ReadFile(Dir.Root() / U8(Name)), Bytes);
  EXPECT_EQ(fsys::file_size(Dir.Root() / U8(Name)), 10u);
  // A shorter content replaces the whole file; byte vectors are written as
  // they are.
  WriteFile(Dir.Root() / U8(Name), std::vector<unsigned char>{0x50, 0x4B, 0x00});
  EXPECT_EQ(ReadFile(Dir.Path(Name)), std::string("PK\0", 3));
  WriteFile(Dir.Path(Name));
  EXPECT_EQ(ReadFile(Dir.Path(Name)), "");
  EXPECT_EQ(ReadFile(Dir.Path("absent")), "<missing>");
}

TEST(WholeFiles, FileThatCannotBeWrittenIsAFailure) {
  TScratchFolder Dir;
  EXPECT_NONFATAL_FAILURE(WriteFile(Dir.Path("no folder/x.txt"), "x"), "cannot write");
}

TEST(EnvironmentGuard, PutsVariablesBackAsTheyWere) {
  qbtest::UnsetEnv("QB_KIT_UNSET");
  qbtest::SetEnv("QB_KIT_SET", "before");
  {
    qbtest::TEnvironmentGuard Guard{"QB_KIT_SET", "QB_KIT_UNSET"};
    qbtest::SetEnv("QB_KIT_UNSET", "now set");
    qbtest::UnsetEnv("QB_KIT_SET");
  }
  std::string Value;
  EXPECT_FALSE(qbtest::GetEnv("QB_KIT_UNSET", Value)) << Value;
  ASSERT_TRUE(qbtest::GetEnv("QB_KIT_SET", Value));
  EXPECT_EQ(Value, "before");
  qbtest::UnsetEnv("QB_KIT_SET");
}

}  // namespace
