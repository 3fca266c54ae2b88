// FileCopy: the flag table, the failure table with and without
// RaiseOnError, block boundaries, sharing with other openers, and the
// last-write time carried over through the DOS date-time.
#include "fs/file_copy.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <tuple>

#include "fs/file_stream.h"
#include "runtime/exceptions.h"
#include "tests/test_support.h"

using qbtest::PatternBytes;
using qbtest::ReadFile;
using qbtest::TScratchFolder;
using qbtest::U8;
using qbtest::WriteFile;
namespace fsys = qbtest::fsys;

namespace {

// The failure FileCopy raises with RaiseOnError, as class name and message.
std::string CopyFailure(const std::string& Source, const std::string& Destination, uint32_t Flags) {
  try {
    bool Ok = FileCopy(Source, Destination, Flags, true);
    return Ok ? "true" : "false";
  } catch (const Exception& E) {
    return std::string(E.ClassName()) + ": " + E.Message();
  }
}

// FileCopy gives false without RaiseOnError and raises Failure (class name
// and message) with it.
void ExpectCopyFailure(const std::string& Source, const std::string& Destination, uint32_t Flags,
                       const std::string& Failure) {
  EXPECT_FALSE(FileCopy(Source, Destination, Flags, false));
  EXPECT_EQ(CopyFailure(Source, Destination, Flags), Failure);
}

std::string OpenError(const std::string& Path) { return "EFOpenError: Unable to open file \"" + Path + "\""; }
std::string CreateError(const std::string& Path) { return "EFCreateError: Unable to create file \"" + Path + "\""; }

}  // namespace

// ---- the flags ----

TEST(FileCopyFlags, OverwriteReplacesAnExistingDestination) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "new");
  WriteFile(Dir.Path("out.txt"), "old and much longer");
  EXPECT_TRUE(FileCopy(Dir.Path("in.txt"), Dir.Path("out.txt"), cfOverwriteExisting, false));
  EXPECT_EQ(ReadFile(Dir.Path("out.txt")), "new");
  EXPECT_EQ(ReadFile(Dir.Path("in.txt")), "new");
}

TEST(FileCopyFlags, WithoutOverwriteAnExistingDestinationGivesFalseAtOnce) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "new");
  WriteFile(Dir.Path("out.txt"), "old");
  EXPECT_FALSE(FileCopy(Dir.Path("in.txt"), Dir.Path("out.txt"), 0, false));
  EXPECT_FALSE(FileCopy(Dir.Path("in.txt"), Dir.Path("out.txt"), 0, true));
  EXPECT_EQ(ReadFile(Dir.Path("out.txt")), "old");
  // The source is not even opened: a missing one raises nothing here.
  EXPECT_EQ(CopyFailure(Dir.Path("missing.txt"), Dir.Path("out.txt"), 0), "false");
  EXPECT_EQ(CopyFailure(Dir.Path("missing.txt"), Dir.Path("out.txt"), cfCreateDestinationFolder), "false");
}

TEST(FileCopyFlags, BitsOutsideTheThreeAreIgnored) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "new");
  WriteFile(Dir.Path("out.txt"), "old");
  EXPECT_FALSE(FileCopy(Dir.Path("in.txt"), Dir.Path("out.txt"), 0xF8, false));
  EXPECT_EQ(ReadFile(Dir.Path("out.txt")), "old");
  EXPECT_TRUE(FileCopy(Dir.Path("in.txt"), Dir.Path("out.txt"), 0xF9, false));
  EXPECT_EQ(ReadFile(Dir.Path("out.txt")), "new");
}

TEST(FileCopyFlags, MissingDestinationFolderWithoutCreateFails) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "data");
  std::string Out = Dir.Path("a/b/out.txt");
  ExpectCopyFailure(Dir.Path("in.txt"), Out, cfOverwriteExisting, CreateError(Out));
  EXPECT_FALSE(fsys::exists(U8(Dir.Path("a"))));
}

TEST(FileCopyFlags, CreateDestinationFolderMakesEveryMissingLevel) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "data");
  std::string Out = Dir.Path("a/b/c/out.txt");
  EXPECT_TRUE(FileCopy(Dir.Path("in.txt"), Out, cfOverwriteExisting | cfCreateDestinationFolder, false));
  EXPECT_EQ(ReadFile(Out), "data");
  // With the folder now present the same call works again.
  EXPECT_TRUE(FileCopy(Dir.Path("in.txt"), Out, 3, false));
}

TEST(FileCopyFlags, CreateDestinationFolderFailsWhenAFileBlocksTheFolder) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "data");
  WriteFile(Dir.Path("a"), "a file where a folder should be");
  EXPECT_EQ(CopyFailure(Dir.Path("in.txt"), Dir.Path("a/b/out.txt"), 3), "false");
  EXPECT_EQ(ReadFile(Dir.Path("a")), "a file where a folder should be");
}

TEST(FileCopyFlags, CreateDestinationFolderWithoutAFolderPartRaises) {
  // The folder part is empty, and creating an empty folder path raises
  // whatever RaiseOnError says.
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "data");
  try {
    FileCopy(Dir.Path("in.txt"), "qb_never_created.txt", cfCreateDestinationFolder, false);
    ADD_FAILURE() << "no failure raised";
  } catch (const EInOutError& E) {
    EXPECT_EQ(E.Message(), "Cannot create empty directory");
  }
  std::error_code Ec;
  EXPECT_FALSE(fsys::remove("qb_never_created.txt", Ec));
}

// ---- the failures ----

TEST(FileCopyFailures, MissingSource) {
  TScratchFolder Dir;
  std::string In = Dir.Path("in.txt");
  ExpectCopyFailure(In, Dir.Path("out.txt"), cfOverwriteExisting, OpenError(In));
  EXPECT_FALSE(fsys::exists(U8(Dir.Path("out.txt")))) << "nothing created for a missing source";
}

TEST(FileCopyFailures, MissingSourceLeavesAnExistingDestination) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("out.txt"), "kept");
  EXPECT_FALSE(FileCopy(Dir.Path("in.txt"), Dir.Path("out.txt"), cfOverwriteExisting, false));
  EXPECT_EQ(ReadFile(Dir.Path("out.txt")), "kept");
}

TEST(FileCopyFailures, SourceThatMayNotBeReadFailsToOpen) {
  if (!qbtest::PermissionBitsApply()) GTEST_SKIP() << "no permission bits here";
  TScratchFolder Dir;
  std::string Unreadable = Dir.Path("in.txt");
  WriteFile(Unreadable, "secret");
  qbtest::RunUnprivileged(Dir, [&] {
    fsys::permissions(U8(Unreadable), fsys::perms::none);
    ExpectCopyFailure(Unreadable, Dir.Path("out.txt"), cfOverwriteExisting, OpenError(Unreadable));
    EXPECT_FALSE(fsys::exists(U8(Dir.Path("out.txt"))));
  });
}

TEST(FileCopyFailures, SourceIsAFolder) {
  TScratchFolder Dir;
  fsys::create_directory(U8(Dir.Path("src")));
  ExpectCopyFailure(Dir.Path("src"), Dir.Path("out.txt"), cfOverwriteExisting, OpenError(Dir.Path("src")));
  EXPECT_FALSE(fsys::exists(U8(Dir.Path("out.txt"))));
}

TEST(FileCopyFailures, FolderInTheDestinationsPlace) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "data");
  fsys::create_directory(U8(Dir.Path("out")));
  // A folder is not a file, so the overwrite check lets it through; the
  // creation then fails.
  ExpectCopyFailure(Dir.Path("in.txt"), Dir.Path("out"), 0, CreateError(Dir.Path("out")));
  EXPECT_TRUE(fsys::is_directory(U8(Dir.Path("out"))));
}

TEST(FileCopyFailures, SameFileAsSourceAndDestinationKeepsTheContent) {
  TScratchFolder Dir;
  std::string Data = PatternBytes(5000, 9);
  std::string Path = Dir.Path("same.bin");
  WriteFile(Path, Data);
  ExpectCopyFailure(Path, Path, cfOverwriteExisting, CreateError(Path));
  EXPECT_EQ(ReadFile(Path), Data);
}

#ifndef _WIN32
// A device that refuses every write gives the short-write failure.
TEST(FileCopyFailures, ShortWrite) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.bin"), PatternBytes(10000));
  ExpectCopyFailure(Dir.Path("in.bin"), "/dev/full", cfOverwriteExisting,
                    "EWriteError: Unable to write to file \"/dev/full\"");
  EXPECT_THROW(FileCopy(Dir.Path("in.bin"), "/dev/full", cfOverwriteExisting, true), EFilerError);
  // The source is released on the way out.
  TFileStream Again(Dir.Path("in.bin"), fmOpenRead);
  EXPECT_EQ(Again.Size(), 10000);
}
#endif

// ---- content and block boundaries ----

class FileCopySizes : public ::testing::TestWithParam<size_t> {};

TEST_P(FileCopySizes, CopiesEveryByte) {
  TScratchFolder Dir;
  std::string Data = PatternBytes(GetParam(), static_cast<unsigned>(GetParam()));
  WriteFile(Dir.Path("in.bin"), Data);
  WriteFile(Dir.Path("out.bin"), PatternBytes(9000, 77));
  EXPECT_TRUE(FileCopy(Dir.Path("in.bin"), Dir.Path("out.bin"), cfOverwriteExisting, false));
  EXPECT_EQ(ReadFile(Dir.Path("out.bin")), Data);
}

INSTANTIATE_TEST_SUITE_P(BlockBoundaries, FileCopySizes, ::testing::Values(0u, 4095u, 4096u, 4097u, 100000u));

TEST(FileCopyContent, NamesOutsideAscii) {
  TScratchFolder Dir;
  fsys::create_directories(U8(Dir.Path("Données")));
  WriteFile(Dir.Path("Données/ü.txt"), "über");
  std::string Out = Dir.Path("日本語/Données/ü.txt");
  EXPECT_TRUE(FileCopy(Dir.Path("Données/ü.txt"), Out, 3, true));
  EXPECT_EQ(ReadFile(Out), "über");
  EXPECT_EQ(CopyFailure(Dir.Path("Données/ö.txt"), Out, 1), OpenError(Dir.Path("Données/ö.txt")));
}

TEST(FileCopyContent, NoFileStaysLockedAfterTheCall) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "data");
  ASSERT_TRUE(FileCopy(Dir.Path("in.txt"), Dir.Path("out.txt"), cfPreserveTime, false));
  TFileStream A(Dir.Path("in.txt"), fmOpenReadWrite);
  TFileStream B(Dir.Path("out.txt"), fmOpenReadWrite);
  EXPECT_EQ(B.Size(), 4);
}

// ---- sharing with other openers ----

TEST(FileCopySharing, SourceHeldForWritingFails) {
  TScratchFolder Dir;
  std::string In = Dir.Path("in.txt");
  WriteFile(In, "data");
  {
    TFileStream Writer(In, fmOpenReadWrite);
    ExpectCopyFailure(In, Dir.Path("out.txt"), cfOverwriteExisting, OpenError(In));
  }
  {
    TFileStream Writer(In, fmOpenWrite | fmShareDenyNone);
    EXPECT_FALSE(FileCopy(In, Dir.Path("out.txt"), cfOverwriteExisting, false));
  }
  EXPECT_FALSE(fsys::exists(U8(Dir.Path("out.txt"))));
}

TEST(FileCopySharing, SourceHeldByReadersThatAdmitReadersCopies) {
  TScratchFolder Dir;
  std::string In = Dir.Path("in.txt");
  WriteFile(In, "data");
  TFileStream R1(In, fmOpenRead | fmShareDenyWrite);
  TFileStream R2(In, fmOpenRead | fmShareDenyNone);
  EXPECT_TRUE(FileCopy(In, Dir.Path("out.txt"), cfOverwriteExisting, false));
  EXPECT_EQ(ReadFile(Dir.Path("out.txt")), "data");
}

TEST(FileCopySharing, SourceHeldExclusivelyFails) {
  TScratchFolder Dir;
  std::string In = Dir.Path("in.txt");
  WriteFile(In, "data");
  TFileStream Holder(In, fmOpenRead);
  EXPECT_FALSE(FileCopy(In, Dir.Path("out.txt"), cfOverwriteExisting, false));
}

TEST(FileCopySharing, DestinationHeldByAnotherOpenerFailsAndKeepsItsContent) {
  TScratchFolder Dir;
  WriteFile(Dir.Path("in.txt"), "new");
  std::string Out = Dir.Path("out.txt");
  WriteFile(Out, "held content");
  {
    TFileStream Holder(Out, fmOpenRead | fmShareDenyNone);
    ExpectCopyFailure(Dir.Path("in.txt"), Out, cfOverwriteExisting, CreateError(Out));
  }
  EXPECT_EQ(ReadFile(Out), "held content");
}

// ---- the last-write time ----

namespace {

using FileTime = fsys::file_time_type;

// Whole seconds, rounded down (the file clock's epoch may lie in the future).
int64_t WholeSeconds(FileTime T) { return std::chrono::floor<std::chrono::seconds>(T.time_since_epoch()).count(); }

// Gives the file a last-write time with an odd number of seconds and half
// a second more, about a day ago; the time actually set.
FileTime SetOddSecondTime(const std::string& Path) {
  using namespace std::chrono;
  FileTime Now = fsys::last_write_time(U8(Path));
  FileTime T = floor<seconds>(Now) - hours(24);
  if (WholeSeconds(T) % 2 == 0) T += seconds(1);
  T += milliseconds(500);
  fsys::last_write_time(U8(Path), T);
  return fsys::last_write_time(U8(Path));
}

}  // namespace

TEST(FileCopyTime, PreserveTimeGivesAnEvenWholeSecond) {
  TScratchFolder Dir;
  std::string In = Dir.Path("in.txt");
  WriteFile(In, "timed");
  FileTime Src = SetOddSecondTime(In);
  ASSERT_NE(WholeSeconds(Src) % 2, 0) << "could not give the source an odd second";
  EXPECT_TRUE(FileCopy(In, Dir.Path("out.txt"), cfOverwriteExisting | cfPreserveTime, false));
  FileTime Dst = fsys::last_write_time(U8(Dir.Path("out.txt")));
  EXPECT_EQ(Dst.time_since_epoch() % std::chrono::seconds(1), FileTime::duration::zero()) << "no fraction of a second";
  EXPECT_EQ(WholeSeconds(Dst), WholeSeconds(Src) - 1);
  EXPECT_EQ(ReadFile(Dir.Path("out.txt")), "timed");
  EXPECT_EQ(fsys::last_write_time(U8(In)), Src) << "the source's time is not touched";
}

TEST(FileCopyTime, WithoutPreserveTimeTheDestinationKeepsItsWritingTime) {
  TScratchFolder Dir;
  std::string In = Dir.Path("in.txt");
  WriteFile(In, "timed");
  FileTime Src = SetOddSecondTime(In);
  EXPECT_TRUE(FileCopy(In, Dir.Path("out.txt"), cfOverwriteExisting, false));
  FileTime Dst = fsys::last_write_time(U8(Dir.Path("out.txt")));
  // Written now, not a day ago.
  EXPECT_GT(Dst, Src + std::chrono::hours(23));
}

TEST(FileCopyTime, DosDateTimeIsTheLocalTimeTheSystemKeeps) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("t.txt");
  WriteFile(Path, "x");
  // 2021-03-04 10:11:12 in local time, as a DOS date-time.
  ASSERT_TRUE(SetFileDosTime(Path, 0x52645166));
  qbtest::TLocalTime T;
  ASSERT_TRUE(qbtest::ModTimeOf(Path, T));
  EXPECT_EQ(std::make_tuple(T.Year, T.Month, T.Day, T.Hour, T.Minute, T.Second),
            std::make_tuple(2021, 3, 4, 10, 11, 12));
  // 2021-06-15 13:45:30 in local time, set by the system.
  ASSERT_TRUE(qbtest::SetModTime(Path, {2021, 6, 15, 13, 45, 30}));
  TFileStream S(Path, fmOpenRead);
  EXPECT_EQ(FileDosTimeOfHandle(S.Handle), 0x52CF6DAF);
}

TEST(FileCopyTime, InvalidDosDateTimeIsRefused) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("t.txt");
  WriteFile(Path, "x");
  FileTime Before = fsys::last_write_time(U8(Path));
  EXPECT_FALSE(SetFileDosTime(Path, -1));
  EXPECT_FALSE(SetFileDosTime(Dir.Path("missing.txt"), 0x52640000));
  EXPECT_EQ(fsys::last_write_time(U8(Path)), Before);
}
