// Whole-file transfers: a target is replaced only by a complete copy, through
// a new file and one rename, never written into or through a link; failures
// say at which step and why; temporary files of stopped transfers are
// recognised and tidied.
#include "fs/file_transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>

#include "fs/entry_status.h"
#include "fs/file_copy.h"
#include "fs/path_text.h"
#include "fs/system_error.h"
#include "runtime/exceptions.h"
#include "tests/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

using qbtest::HoldFile;
using qbtest::Names;
using qbtest::ReadFile;
using qbtest::ReleaseFile;
using qbtest::TScratchFolder;
using qbtest::WriteFile;
namespace fsys = qbtest::fsys;

namespace {

TEST(ReplaceFileWithCopy, ReplacesTheTargetWholeAndLeavesNothingBeside) {
  TScratchFolder Dir;
  const std::string Content = qbtest::PatternBytes(200000);
  WriteFile(Dir.Path("source"), Content);
  WriteFile(Dir.Path("target"), "a much longer older content that must not survive in part\n");
  const TTransferResult Result = ReplaceFileWithCopy(Dir.Path("source"), Dir.Path("target"));
  EXPECT_TRUE(Result.Ok());
  EXPECT_EQ(ReadFile(Dir.Path("target")), Content);
  EXPECT_EQ(ReadFile(Dir.Path("source")), Content);
  EXPECT_EQ(Names(Dir.Root()), (std::set<std::string>{"source", "target"}));
  // A new target, and an empty source.
  WriteFile(Dir.Path("empty"), "");
  EXPECT_TRUE(ReplaceFileWithCopy(Dir.Path("empty"), Dir.Path("fresh"), tdNotForced).Ok());
  EXPECT_TRUE(fsys::is_regular_file(Dir.Root() / "fresh"));
  EXPECT_EQ(fsys::file_size(Dir.Root() / "fresh"), 0u);
}

TEST(ReplaceFileWithCopy, LinkAtTheTargetIsReplacedNotWrittenThrough) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("source"), "new\n");
  WriteFile(Dir.Path("victim"), "the victim's\n");
  std::string Why;
  if (!qbtest::MakeFileLink(Dir.Path("victim"), Dir.Path("target"), Why)) GTEST_SKIP() << Why;
  EXPECT_TRUE(ReplaceFileWithCopy(Dir.Path("source"), Dir.Path("target")).Ok());
  EXPECT_EQ(ReadFile(Dir.Path("victim")), "the victim's\n");
  EXPECT_EQ(ReadFile(Dir.Path("target")), "new\n");
  EXPECT_TRUE(EntryStatus(Dir.Path("target")).RegularFile);
}

TEST(ReplaceFileWithCopy, FailuresNameTheStepAndTheReasonAndKeepTheTarget) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("target"), "keep me\n");

  TTransferResult Result = ReplaceFileWithCopy(Dir.Path("missing"), Dir.Path("target"));
  EXPECT_EQ(Result.Step, tsOpenSource);
  EXPECT_EQ(Result.Describe(Dir.Path("missing"), Dir.Path("target")),
            "cannot read \"" + Dir.Path("missing") + "\": not found");

  fsys::create_directories(Dir.Root() / "folder");
  Result = ReplaceFileWithCopy(Dir.Path("folder"), Dir.Path("target"));
  EXPECT_EQ(Result.Step, tsOpenSource);
  EXPECT_EQ(SystemErrorReason(Result.Error), "a folder");

  WriteFile(Dir.Path("source"), "data\n");
  fsys::create_directories(Dir.Root() / "taken" / "inside");
  Result = ReplaceFileWithCopy(Dir.Path("source"), Dir.Path("taken"));
  EXPECT_EQ(Result.Step, tsReplaceTarget);
  EXPECT_EQ(Result.Error, FolderInTheWayError);
  EXPECT_EQ(Result.Describe(Dir.Path("source"), Dir.Path("taken")),
            "cannot write \"" + Dir.Path("taken") + "\": a folder stands in its place");

  Result = ReplaceFileWithCopy(Dir.Path("source"), Dir.Path("no-such-folder") + "/target");
  EXPECT_EQ(Result.Step, tsCreateTarget);

  EXPECT_EQ(ReadFile(Dir.Path("target")), "keep me\n");
  EXPECT_EQ(Names(Dir.Root()), (std::set<std::string>{"folder", "source", "taken", "target"}));
}

#ifndef _WIN32
TEST(ReplaceFileWithCopy, SourcesThatAreNoFilesOrFailToReadAreRefused) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("target"), "keep me\n");
  // A FIFO would block an ordinary open; a device never ends.
  ASSERT_EQ(mkfifo(Dir.Path("fifo").c_str(), 0600), 0);
  TTransferResult Result = ReplaceFileWithCopy(Dir.Path("fifo"), Dir.Path("target"));
  EXPECT_EQ(Result.Step, tsOpenSource);
  EXPECT_EQ(Result.Error, NotARegularFileError);
  Result = ReplaceFileWithCopy("/dev/zero", Dir.Path("target"));
  EXPECT_EQ(Result.Error, NotARegularFileError);
  // Every read of this file fails: a failure, not an empty file.
  Result = ReplaceFileWithCopy("/proc/self/mem", Dir.Path("target"));
  EXPECT_EQ(Result.Step, tsReadSource);
  EXPECT_EQ(SystemErrorReason(Result.Error), "input/output error");
  EXPECT_EQ(ReadFile(Dir.Path("target")), "keep me\n");
  EXPECT_EQ(Names(Dir.Root()), (std::set<std::string>{"fifo", "target"}));
}

TEST(FileCopy, ReadErrorIsAFailureNotTheEndOfTheFile) {
  TScratchFolder Dir;
  EXPECT_FALSE(FileCopy("/proc/self/mem", Dir.Path("copy"), cfOverwriteExisting, false));
  EXPECT_THROW(FileCopy("/proc/self/mem", Dir.Path("copy"), cfOverwriteExisting, true), EReadError);
}
#endif

TEST(ReplaceFileWithCopy, SourceHeldByAnotherProgramIsWaitedForThenRefused) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("source"), "data\n");
  // Held for a moment: the transfer waits and then goes through.
  intptr_t Held = HoldFile(Dir.Path("source"));
  ASSERT_NE(Held, -1);
  std::thread Releaser([Held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ReleaseFile(Held);
  });
  EXPECT_TRUE(ReplaceFileWithCopy(Dir.Path("source"), Dir.Path("target")).Ok());
  Releaser.join();
  EXPECT_EQ(ReadFile(Dir.Path("target")), "data\n");
  // Held throughout: refused as in use, after the waiting time.
  Held = HoldFile(Dir.Path("source"));
  const auto Start = std::chrono::steady_clock::now();
  const TTransferResult Result = ReplaceFileWithCopy(Dir.Path("source"), Dir.Path("other"));
  ReleaseFile(Held);
  EXPECT_EQ(Result.Step, tsOpenSource);
  EXPECT_TRUE(IsSharingViolation(Result.Error)) << SystemErrorReason(Result.Error);
  EXPECT_EQ(SystemErrorReason(Result.Error), "in use by another program");
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(SharingRetryMilliseconds - 200));
  EXPECT_FALSE(fsys::exists(Dir.Root() / "other"));
}

TEST(ReplaceFileWithText, WritesTheWholeTextAndReadWholeFileReadsItBack) {
  TScratchFolder Dir;
  const std::string Text = "line one\nline two\n";
  EXPECT_TRUE(ReplaceFileWithText(Dir.Path("note"), Text).Ok());
  std::string Back;
  EXPECT_TRUE(ReadWholeFile(Dir.Path("note"), 1000, Back).Ok());
  EXPECT_EQ(Back, Text);
  EXPECT_FALSE(ReadWholeFile(Dir.Path("note"), Text.size() - 1, Back).Ok());  // larger than allowed
  EXPECT_TRUE(ReadWholeFile(Dir.Path("note"), Text.size(), Back).Ok());
  EXPECT_FALSE(ReadWholeFile(Dir.Path("missing"), 1000, Back).Ok());
  EXPECT_FALSE(ReadWholeFile(Dir.Path(""), 1000, Back).Ok());  // a folder
  EXPECT_EQ(Names(Dir.Root()), std::set<std::string>{"note"});
}

TEST(SiblingNames, UniqueNamesAreRecognisedAndNothingElse) {
  TScratchFolder Dir;
  const std::string Base = Dir.Path("dereroz.zip");
  const std::string First = UniqueSiblingName(Base), Second = UniqueSiblingName(Base);
  EXPECT_NE(First, Second);
  EXPECT_TRUE(IsSiblingNameOf(ExtractNamePart(First), "dereroz.zip")) << First;
  for (const char* Other : {"dereroz.zip", "dereroz.zip.~", "dereroz.zip.~0123456789a", "dereroz.zip.~0123456789abc",
                            "dereroz.zip.~0123456789AB", "dereroz.zip.~0123456789ag", "dereroz.zip~0123456789ab",
                            "trad_dyn.pl.~0123456789ab"})
    EXPECT_FALSE(IsSiblingNameOf(Other, "dereroz.zip")) << Other;
  EXPECT_TRUE(IsSiblingNameOf("dereroz.zip.~0123456789ab", "dereroz.zip"));
}

TEST(SiblingNames, AbandonedTemporaryFilesGoOthersStay) {
  TScratchFolder Dir;
  for (const char* Name : {"dereroz.zip", "dereroz.zip.~0123456789ab", "dereroz.zip.~00000000beef",
                           "dereroz.zip.~notours", "dereroz.zip.~aaaaaaaaaaaa", "trad_dyn.pl.~0123456789ab"})
    WriteFile(Dir.Path(Name), "x");
  fsys::create_directories(Dir.Root() / "dereroz.zip.~111111111111");
  // A temporary file that its writer still holds stays.
  const intptr_t Held = HoldFile(Dir.Path("dereroz.zip.~aaaaaaaaaaaa"));
  ASSERT_NE(Held, -1);
  RemoveAbandonedSiblings(Dir.Path("dereroz.zip"));
  ReleaseFile(Held);
  EXPECT_EQ(Names(Dir.Root()),
            (std::set<std::string>{"dereroz.zip", "dereroz.zip.~111111111111", "dereroz.zip.~aaaaaaaaaaaa",
                                   "dereroz.zip.~notours", "trad_dyn.pl.~0123456789ab"}));
}

TEST(EntryStatus, SaysWhatStandsAtAPathWithoutFollowingALink) {
  TScratchFolder Dir;
  EXPECT_FALSE(EntryStatus(Dir.Path("nothing")).Exists);
  EXPECT_EQ(EntryStatus(Dir.Path("nothing")).Error, 0);
  WriteFile(Dir.Path("file"), "x");
  TEntryStatus Status = EntryStatus(Dir.Path("file"));
  EXPECT_TRUE(Status.Exists && Status.RegularFile && Status.OwnedByUser);
  EXPECT_FALSE(Status.Folder || Status.Link);
  Status = EntryStatus(Dir.Path(""));
  EXPECT_TRUE(Status.Folder && !Status.Link && Status.OwnedByUser);
  std::string Why;
  if (qbtest::MakeFolderLink(Dir.Path(""), Dir.Path("link"), Why)) {
    Status = EntryStatus(Dir.Path("link") + std::string(1, PathSeparator));
    EXPECT_TRUE(Status.Link);
    EXPECT_FALSE(Status.Folder);
    EXPECT_TRUE(SameEntry(Dir.Path("link"), Dir.Path("")));
  }
  EXPECT_FALSE(SameEntry(Dir.Path("file"), Dir.Path("")));
  EXPECT_FALSE(SameEntry(Dir.Path("nothing"), Dir.Path("nothing")));
}

}  // namespace
