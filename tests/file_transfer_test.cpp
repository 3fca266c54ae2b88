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
using qbtest::U8;
using qbtest::WriteFile;
namespace fsys = qbtest::fsys;

namespace {

std::string P(const TScratchFolder& Dir, const std::string& Name) { return Dir.Path(Name); }

TEST(ReplaceFileWithCopy, ReplacesTheTargetWholeAndLeavesNothingBeside) {
  TScratchFolder Dir;
  const std::string Content = qbtest::PatternBytes(200000);
  WriteFile(U8(P(Dir, "source")), Content);
  WriteFile(U8(P(Dir, "target")), "a much longer older content that must not survive in part\n");
  const TTransferResult Result = ReplaceFileWithCopy(P(Dir, "source"), P(Dir, "target"));
  EXPECT_TRUE(Result.Ok());
  EXPECT_EQ(ReadFile(U8(P(Dir, "target"))), Content);
  EXPECT_EQ(ReadFile(U8(P(Dir, "source"))), Content);
  EXPECT_EQ(Names(Dir.Root()), (std::set<std::string>{"source", "target"}));
  // A new target, and an empty source.
  WriteFile(U8(P(Dir, "empty")), "");
  EXPECT_TRUE(ReplaceFileWithCopy(P(Dir, "empty"), P(Dir, "fresh"), tdNotForced).Ok());
  EXPECT_TRUE(fsys::is_regular_file(U8(P(Dir, "fresh"))));
  EXPECT_EQ(fsys::file_size(U8(P(Dir, "fresh"))), 0u);
}

TEST(ReplaceFileWithCopy, LinkAtTheTargetIsReplacedNotWrittenThrough) {
  TScratchFolder Dir;
  WriteFile(U8(P(Dir, "source")), "new\n");
  WriteFile(U8(P(Dir, "victim")), "the victim's\n");
  std::string Why;
  if (!qbtest::MakeFileLink(P(Dir, "victim"), P(Dir, "target"), Why)) GTEST_SKIP() << Why;
  EXPECT_TRUE(ReplaceFileWithCopy(P(Dir, "source"), P(Dir, "target")).Ok());
  EXPECT_EQ(ReadFile(U8(P(Dir, "victim"))), "the victim's\n");
  EXPECT_EQ(ReadFile(U8(P(Dir, "target"))), "new\n");
  EXPECT_TRUE(EntryStatus(P(Dir, "target")).RegularFile);
}

TEST(ReplaceFileWithCopy, FailuresNameTheStepAndTheReasonAndKeepTheTarget) {
  TScratchFolder Dir;
  WriteFile(U8(P(Dir, "target")), "keep me\n");

  TTransferResult Result = ReplaceFileWithCopy(P(Dir, "missing"), P(Dir, "target"));
  EXPECT_EQ(Result.Step, tsOpenSource);
  EXPECT_EQ(Result.Describe(P(Dir, "missing"), P(Dir, "target")),
            "cannot read \"" + P(Dir, "missing") + "\": not found");

  fsys::create_directories(U8(P(Dir, "folder")));
  Result = ReplaceFileWithCopy(P(Dir, "folder"), P(Dir, "target"));
  EXPECT_EQ(Result.Step, tsOpenSource);
  EXPECT_EQ(SystemErrorReason(Result.Error), "a folder");

  WriteFile(U8(P(Dir, "source")), "data\n");
  fsys::create_directories(U8(P(Dir, "taken") + "/inside"));
  Result = ReplaceFileWithCopy(P(Dir, "source"), P(Dir, "taken"));
  EXPECT_EQ(Result.Step, tsReplaceTarget);
  EXPECT_EQ(Result.Error, FolderInTheWayError);
  EXPECT_EQ(Result.Describe(P(Dir, "source"), P(Dir, "taken")),
            "cannot write \"" + P(Dir, "taken") + "\": a folder stands in its place");

  Result = ReplaceFileWithCopy(P(Dir, "source"), P(Dir, "no-such-folder") + "/target");
  EXPECT_EQ(Result.Step, tsCreateTarget);

  EXPECT_EQ(ReadFile(U8(P(Dir, "target"))), "keep me\n");
  EXPECT_EQ(Names(Dir.Root()), (std::set<std::string>{"folder", "source", "taken", "target"}));
}

#ifndef _WIN32
TEST(ReplaceFileWithCopy, SourcesThatAreNoFilesOrFailToReadAreRefused) {
  TScratchFolder Dir;
  WriteFile(U8(P(Dir, "target")), "keep me\n");
  // A FIFO would block an ordinary open; a device never ends.
  ASSERT_EQ(mkfifo(P(Dir, "fifo").c_str(), 0600), 0);
  TTransferResult Result = ReplaceFileWithCopy(P(Dir, "fifo"), P(Dir, "target"));
  EXPECT_EQ(Result.Step, tsOpenSource);
  EXPECT_EQ(Result.Error, NotARegularFileError);
  Result = ReplaceFileWithCopy("/dev/zero", P(Dir, "target"));
  EXPECT_EQ(Result.Error, NotARegularFileError);
  // Every read of this file fails: a failure, not an empty file.
  Result = ReplaceFileWithCopy("/proc/self/mem", P(Dir, "target"));
  EXPECT_EQ(Result.Step, tsReadSource);
  EXPECT_EQ(SystemErrorReason(Result.Error), "input/output error");
  EXPECT_EQ(ReadFile(U8(P(Dir, "target"))), "keep me\n");
  EXPECT_EQ(Names(Dir.Root()), (std::set<std::string>{"fifo", "target"}));
}

TEST(FileCopy, ReadErrorIsAFailureNotTheEndOfTheFile) {
  TScratchFolder Dir;
  EXPECT_FALSE(FileCopy("/proc/self/mem", P(Dir, "copy"), cfOverwriteExisting, false));
  EXPECT_THROW(FileCopy("/proc/self/mem", P(Dir, "copy"), cfOverwriteExisting, true), EReadError);
}
#endif

TEST(ReplaceFileWithCopy, SourceHeldByAnotherProgramIsWaitedForThenRefused) {
  TScratchFolder Dir;
  WriteFile(U8(P(Dir, "source")), "data\n");
  // Held for a moment: the transfer waits and then goes through.
  intptr_t Held = HoldFile(P(Dir, "source"));
  ASSERT_NE(Held, -1);
  std::thread Releaser([Held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ReleaseFile(Held);
  });
  EXPECT_TRUE(ReplaceFileWithCopy(P(Dir, "source"), P(Dir, "target")).Ok());
  Releaser.join();
  EXPECT_EQ(ReadFile(U8(P(Dir, "target"))), "data\n");
  // Held throughout: refused as in use, after the waiting time.
  Held = HoldFile(P(Dir, "source"));
  const auto Start = std::chrono::steady_clock::now();
  const TTransferResult Result = ReplaceFileWithCopy(P(Dir, "source"), P(Dir, "other"));
  ReleaseFile(Held);
  EXPECT_EQ(Result.Step, tsOpenSource);
  EXPECT_TRUE(IsSharingViolation(Result.Error)) << SystemErrorReason(Result.Error);
  EXPECT_EQ(SystemErrorReason(Result.Error), "in use by another program");
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(SharingRetryMilliseconds - 200));
  EXPECT_FALSE(fsys::exists(U8(P(Dir, "other"))));
}

TEST(ReplaceFileWithText, WritesTheWholeTextAndReadWholeFileReadsItBack) {
  TScratchFolder Dir;
  const std::string Text = "line one\nline two\n";
  EXPECT_TRUE(ReplaceFileWithText(P(Dir, "note"), Text).Ok());
  std::string Back;
  EXPECT_TRUE(ReadWholeFile(P(Dir, "note"), 1000, Back).Ok());
  EXPECT_EQ(Back, Text);
  EXPECT_FALSE(ReadWholeFile(P(Dir, "note"), Text.size() - 1, Back).Ok());  // larger than allowed
  EXPECT_TRUE(ReadWholeFile(P(Dir, "note"), Text.size(), Back).Ok());
  EXPECT_FALSE(ReadWholeFile(P(Dir, "missing"), 1000, Back).Ok());
  EXPECT_FALSE(ReadWholeFile(Dir.Path(""), 1000, Back).Ok());  // a folder
  EXPECT_EQ(Names(Dir.Root()), std::set<std::string>{"note"});
}

TEST(SiblingNames, UniqueNamesAreRecognisedAndNothingElse) {
  TScratchFolder Dir;
  const std::string Base = P(Dir, "dereroz.zip");
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
    WriteFile(U8(P(Dir, Name)), "x");
  fsys::create_directories(U8(P(Dir, "dereroz.zip.~111111111111")));
  // A temporary file that its writer still holds stays.
  const intptr_t Held = HoldFile(P(Dir, "dereroz.zip.~aaaaaaaaaaaa"));
  ASSERT_NE(Held, -1);
  RemoveAbandonedSiblings(P(Dir, "dereroz.zip"));
  ReleaseFile(Held);
  EXPECT_EQ(Names(Dir.Root()),
            (std::set<std::string>{"dereroz.zip", "dereroz.zip.~111111111111", "dereroz.zip.~aaaaaaaaaaaa",
                                   "dereroz.zip.~notours", "trad_dyn.pl.~0123456789ab"}));
}

TEST(EntryStatus, SaysWhatStandsAtAPathWithoutFollowingALink) {
  TScratchFolder Dir;
  EXPECT_FALSE(EntryStatus(P(Dir, "nothing")).Exists);
  EXPECT_EQ(EntryStatus(P(Dir, "nothing")).Error, 0);
  WriteFile(U8(P(Dir, "file")), "x");
  TEntryStatus Status = EntryStatus(P(Dir, "file"));
  EXPECT_TRUE(Status.Exists && Status.RegularFile && Status.OwnedByUser);
  EXPECT_FALSE(Status.Folder || Status.Link);
  Status = EntryStatus(Dir.Path(""));
  EXPECT_TRUE(Status.Folder && !Status.Link && Status.OwnedByUser);
  std::string Why;
  if (qbtest::MakeFolderLink(Dir.Path(""), P(Dir, "link"), Why)) {
    Status = EntryStatus(P(Dir, "link") + std::string(1, PathSeparator));
    EXPECT_TRUE(Status.Link);
    EXPECT_FALSE(Status.Folder);
    EXPECT_TRUE(SameEntry(P(Dir, "link"), Dir.Path("")));
  }
  EXPECT_FALSE(SameEntry(P(Dir, "file"), Dir.Path("")));
  EXPECT_FALSE(SameEntry(P(Dir, "nothing"), P(Dir, "nothing")));
}

}  // namespace
