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
std::string CopyFailure(const std::string& Source, const std::string& Destination,
                        uint32_t Flags) {
  try {
    bool ok = FileCopy(Source, Destination, Flags, true);
    return ok ? "true" : "false";
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
}

}  // namespace

// ---- the flags ----

TEST(FileCopyFlags, OverwriteReplacesAnExistingDestination) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "new");
  WriteFile(dir.Path("out.txt"), "old and much longer");
  EXPECT_TRUE(FileCopy(dir.Path("in.txt"), dir.Path("out.txt"), cfOverwriteExisting, false));
  EXPECT_EQ(ReadFile(dir.Path("out.txt")), "new");
  EXPECT_EQ(ReadFile(dir.Path("in.txt")), "new");
}

TEST(FileCopyFlags, WithoutOverwriteAnExistingDestinationGivesFalseAtOnce) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "new");
  WriteFile(dir.Path("out.txt"), "old");
  EXPECT_FALSE(FileCopy(dir.Path("in.txt"), dir.Path("out.txt"), 0, false));
  EXPECT_FALSE(FileCopy(dir.Path("in.txt"), dir.Path("out.txt"), 0, true));
  EXPECT_EQ(ReadFile(dir.Path("out.txt")), "old");
  // The source is not even opened: a missing one raises nothing here.
  EXPECT_EQ(CopyFailure(dir.Path("missing.txt"), dir.Path("out.txt"), 0), "false");
  EXPECT_EQ(CopyFailure(dir.Path("missing.txt"), dir.Path("out.txt"), cfCreateDestinationFolder),
            "false");
}

TEST(FileCopyFlags, BitsOutsideTheThreeAreIgnored) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "new");
  WriteFile(dir.Path("out.txt"), "old");
  EXPECT_FALSE(FileCopy(dir.Path("in.txt"), dir.Path("out.txt"), 0xF8, false));
  EXPECT_EQ(ReadFile(dir.Path("out.txt")), "old");
  EXPECT_TRUE(FileCopy(dir.Path("in.txt"), dir.Path("out.txt"), 0xF9, false));
  EXPECT_EQ(ReadFile(dir.Path("out.txt")), "new");
}

TEST(FileCopyFlags, MissingDestinationFolderWithoutCreateFails) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "data");
  std::string out = dir.Path("a/b/out.txt");
  EXPECT_FALSE(FileCopy(dir.Path("in.txt"), out, cfOverwriteExisting, false));
  EXPECT_EQ(CopyFailure(dir.Path("in.txt"), out, cfOverwriteExisting),
            "EFCreateError: Unable to create file \"" + out + "\"");
  EXPECT_FALSE(fsys::exists(U8(dir.Path("a"))));
}

TEST(FileCopyFlags, CreateDestinationFolderMakesEveryMissingLevel) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "data");
  std::string out = dir.Path("a/b/c/out.txt");
  EXPECT_TRUE(FileCopy(dir.Path("in.txt"), out, cfOverwriteExisting | cfCreateDestinationFolder,
                       false));
  EXPECT_EQ(ReadFile(out), "data");
  // With the folder now present the same call works again.
  EXPECT_TRUE(FileCopy(dir.Path("in.txt"), out, 3, false));
}

TEST(FileCopyFlags, CreateDestinationFolderFailsWhenAFileBlocksTheFolder) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "data");
  WriteFile(dir.Path("a"), "a file where a folder should be");
  EXPECT_EQ(CopyFailure(dir.Path("in.txt"), dir.Path("a/b/out.txt"), 3), "false");
  EXPECT_EQ(ReadFile(dir.Path("a")), "a file where a folder should be");
}

TEST(FileCopyFlags, CreateDestinationFolderWithoutAFolderPartRaises) {
  // The folder part is empty, and creating an empty folder path raises
  // whatever RaiseOnError says.
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "data");
  try {
    FileCopy(dir.Path("in.txt"), "qb_never_created.txt", cfCreateDestinationFolder, false);
    ADD_FAILURE() << "no failure raised";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.Message(), "Cannot create empty directory");
  }
  std::error_code ec;
  EXPECT_FALSE(fsys::remove("qb_never_created.txt", ec));
}

// ---- the failures ----

TEST(FileCopyFailures, MissingSource) {
  TScratchFolder dir;
  std::string in = dir.Path("in.txt");
  EXPECT_FALSE(FileCopy(in, dir.Path("out.txt"), cfOverwriteExisting, false));
  EXPECT_EQ(CopyFailure(in, dir.Path("out.txt"), cfOverwriteExisting),
            "EFOpenError: Unable to open file \"" + in + "\"");
  EXPECT_FALSE(fsys::exists(U8(dir.Path("out.txt")))) << "nothing created for a missing source";
}

TEST(FileCopyFailures, MissingSourceLeavesAnExistingDestination) {
  TScratchFolder dir;
  WriteFile(dir.Path("out.txt"), "kept");
  EXPECT_FALSE(FileCopy(dir.Path("in.txt"), dir.Path("out.txt"), cfOverwriteExisting, false));
  EXPECT_EQ(ReadFile(dir.Path("out.txt")), "kept");
}

TEST(FileCopyFailures, SourceThatMayNotBeReadFailsToOpen) {
  if (!qbtest::PermissionBitsApply()) GTEST_SKIP() << "no permission bits here";
  TScratchFolder dir;
  std::string in = dir.Path("in.txt");
  WriteFile(in, "secret");
  qbtest::RunUnprivileged(dir, [&] {
    fsys::permissions(U8(in), fsys::perms::none);
    EXPECT_FALSE(FileCopy(in, dir.Path("out.txt"), cfOverwriteExisting, false));
    EXPECT_EQ(CopyFailure(in, dir.Path("out.txt"), cfOverwriteExisting),
              "EFOpenError: Unable to open file \"" + in + "\"");
    EXPECT_FALSE(fsys::exists(U8(dir.Path("out.txt"))));
  });
}

TEST(FileCopyFailures, SourceIsAFolder) {
  TScratchFolder dir;
  fsys::create_directory(U8(dir.Path("src")));
  EXPECT_FALSE(FileCopy(dir.Path("src"), dir.Path("out.txt"), cfOverwriteExisting, false));
  EXPECT_EQ(CopyFailure(dir.Path("src"), dir.Path("out.txt"), cfOverwriteExisting),
            "EFOpenError: Unable to open file \"" + dir.Path("src") + "\"");
  EXPECT_FALSE(fsys::exists(U8(dir.Path("out.txt"))));
}

TEST(FileCopyFailures, FolderInTheDestinationsPlace) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "data");
  fsys::create_directory(U8(dir.Path("out")));
  // A folder is not a file, so the overwrite check lets it through; the
  // creation then fails.
  EXPECT_FALSE(FileCopy(dir.Path("in.txt"), dir.Path("out"), 0, false));
  EXPECT_EQ(CopyFailure(dir.Path("in.txt"), dir.Path("out"), 0),
            "EFCreateError: Unable to create file \"" + dir.Path("out") + "\"");
  EXPECT_TRUE(fsys::is_directory(U8(dir.Path("out"))));
}

TEST(FileCopyFailures, SameFileAsSourceAndDestinationKeepsTheContent) {
  TScratchFolder dir;
  std::string data = PatternBytes(5000, 9);
  std::string path = dir.Path("same.bin");
  WriteFile(path, data);
  EXPECT_FALSE(FileCopy(path, path, cfOverwriteExisting, false));
  EXPECT_EQ(CopyFailure(path, path, cfOverwriteExisting),
            "EFCreateError: Unable to create file \"" + path + "\"");
  EXPECT_EQ(ReadFile(path), data);
}

#ifndef _WIN32
// A device that refuses every write gives the short-write failure.
TEST(FileCopyFailures, ShortWrite) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.bin"), PatternBytes(10000));
  EXPECT_FALSE(FileCopy(dir.Path("in.bin"), "/dev/full", cfOverwriteExisting, false));
  EXPECT_EQ(CopyFailure(dir.Path("in.bin"), "/dev/full", cfOverwriteExisting),
            "EWriteError: Unable to write to file \"/dev/full\"");
  EXPECT_THROW(FileCopy(dir.Path("in.bin"), "/dev/full", cfOverwriteExisting, true), EFilerError);
  // The source is released on the way out.
  TFileStream again(dir.Path("in.bin"), fmOpenRead);
  EXPECT_EQ(again.Size(), 10000);
}
#endif

// ---- content and block boundaries ----

class FileCopySizes : public ::testing::TestWithParam<size_t> {};

TEST_P(FileCopySizes, CopiesEveryByte) {
  TScratchFolder dir;
  std::string data = PatternBytes(GetParam(), static_cast<unsigned>(GetParam()));
  WriteFile(dir.Path("in.bin"), data);
  WriteFile(dir.Path("out.bin"), PatternBytes(9000, 77));
  EXPECT_TRUE(FileCopy(dir.Path("in.bin"), dir.Path("out.bin"), cfOverwriteExisting, false));
  EXPECT_EQ(ReadFile(dir.Path("out.bin")), data);
}

INSTANTIATE_TEST_SUITE_P(BlockBoundaries, FileCopySizes,
                         ::testing::Values(0u, 4095u, 4096u, 4097u, 100000u));

TEST(FileCopyContent, NamesOutsideAscii) {
  TScratchFolder dir;
  fsys::create_directories(U8(dir.Path("Données")));
  WriteFile(dir.Path("Données/ü.txt"), "über");
  std::string out = dir.Path("日本語/Données/ü.txt");
  EXPECT_TRUE(FileCopy(dir.Path("Données/ü.txt"), out, 3, true));
  EXPECT_EQ(ReadFile(out), "über");
  EXPECT_EQ(CopyFailure(dir.Path("Données/ö.txt"), out, 1),
            "EFOpenError: Unable to open file \"" + dir.Path("Données/ö.txt") + "\"");
}

TEST(FileCopyContent, NoFileStaysLockedAfterTheCall) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "data");
  ASSERT_TRUE(FileCopy(dir.Path("in.txt"), dir.Path("out.txt"), cfPreserveTime, false));
  TFileStream a(dir.Path("in.txt"), fmOpenReadWrite);
  TFileStream b(dir.Path("out.txt"), fmOpenReadWrite);
  EXPECT_EQ(b.Size(), 4);
}

// ---- sharing with other openers ----

TEST(FileCopySharing, SourceHeldForWritingFails) {
  TScratchFolder dir;
  std::string in = dir.Path("in.txt");
  WriteFile(in, "data");
  {
    TFileStream writer(in, fmOpenReadWrite);
    EXPECT_FALSE(FileCopy(in, dir.Path("out.txt"), cfOverwriteExisting, false));
    EXPECT_EQ(CopyFailure(in, dir.Path("out.txt"), cfOverwriteExisting),
              "EFOpenError: Unable to open file \"" + in + "\"");
  }
  {
    TFileStream writer(in, fmOpenWrite | fmShareDenyNone);
    EXPECT_FALSE(FileCopy(in, dir.Path("out.txt"), cfOverwriteExisting, false));
  }
  EXPECT_FALSE(fsys::exists(U8(dir.Path("out.txt"))));
}

TEST(FileCopySharing, SourceHeldByReadersThatAdmitReadersCopies) {
  TScratchFolder dir;
  std::string in = dir.Path("in.txt");
  WriteFile(in, "data");
  TFileStream r1(in, fmOpenRead | fmShareDenyWrite);
  TFileStream r2(in, fmOpenRead | fmShareDenyNone);
  EXPECT_TRUE(FileCopy(in, dir.Path("out.txt"), cfOverwriteExisting, false));
  EXPECT_EQ(ReadFile(dir.Path("out.txt")), "data");
}

TEST(FileCopySharing, SourceHeldExclusivelyFails) {
  TScratchFolder dir;
  std::string in = dir.Path("in.txt");
  WriteFile(in, "data");
  TFileStream holder(in, fmOpenRead);
  EXPECT_FALSE(FileCopy(in, dir.Path("out.txt"), cfOverwriteExisting, false));
}

TEST(FileCopySharing, DestinationHeldByAnotherOpenerFailsAndKeepsItsContent) {
  TScratchFolder dir;
  WriteFile(dir.Path("in.txt"), "new");
  std::string out = dir.Path("out.txt");
  WriteFile(out, "held content");
  {
    TFileStream holder(out, fmOpenRead | fmShareDenyNone);
    EXPECT_FALSE(FileCopy(dir.Path("in.txt"), out, cfOverwriteExisting, false));
    EXPECT_EQ(CopyFailure(dir.Path("in.txt"), out, cfOverwriteExisting),
              "EFCreateError: Unable to create file \"" + out + "\"");
  }
  EXPECT_EQ(ReadFile(out), "held content");
}

// ---- the last-write time ----

namespace {

using FileTime = fsys::file_time_type;

// Whole seconds, rounded down (the file clock's epoch may lie in the future).
int64_t WholeSeconds(FileTime T) {
  return std::chrono::floor<std::chrono::seconds>(T.time_since_epoch()).count();
}

// Gives the file a last-write time with an odd number of seconds and half
// a second more, about a day ago; the time actually set.
FileTime SetOddSecondTime(const std::string& Path) {
  using namespace std::chrono;
  FileTime now = fsys::last_write_time(U8(Path));
  FileTime t = floor<seconds>(now) - hours(24);
  if (WholeSeconds(t) % 2 == 0) t += seconds(1);
  t += milliseconds(500);
  fsys::last_write_time(U8(Path), t);
  return fsys::last_write_time(U8(Path));
}

}  // namespace

TEST(FileCopyTime, PreserveTimeGivesAnEvenWholeSecond) {
  TScratchFolder dir;
  std::string in = dir.Path("in.txt");
  WriteFile(in, "timed");
  FileTime src = SetOddSecondTime(in);
  ASSERT_NE(WholeSeconds(src) % 2, 0) << "could not give the source an odd second";
  EXPECT_TRUE(FileCopy(in, dir.Path("out.txt"), cfOverwriteExisting | cfPreserveTime, false));
  FileTime dst = fsys::last_write_time(U8(dir.Path("out.txt")));
  EXPECT_EQ(dst.time_since_epoch() % std::chrono::seconds(1), FileTime::duration::zero())
      << "no fraction of a second";
  EXPECT_EQ(WholeSeconds(dst), WholeSeconds(src) - 1);
  EXPECT_EQ(ReadFile(dir.Path("out.txt")), "timed");
  EXPECT_EQ(fsys::last_write_time(U8(in)), src) << "the source's time is not touched";
}

TEST(FileCopyTime, WithoutPreserveTimeTheDestinationKeepsItsWritingTime) {
  TScratchFolder dir;
  std::string in = dir.Path("in.txt");
  WriteFile(in, "timed");
  FileTime src = SetOddSecondTime(in);
  EXPECT_TRUE(FileCopy(in, dir.Path("out.txt"), cfOverwriteExisting, false));
  FileTime dst = fsys::last_write_time(U8(dir.Path("out.txt")));
  // Written now, not a day ago.
  EXPECT_GT(dst, src + std::chrono::hours(23));
}

TEST(FileCopyTime, DosDateTimeIsTheLocalTimeTheSystemKeeps) {
  TScratchFolder dir;
  std::string path = dir.Path("t.txt");
  WriteFile(path, "x");
  // 2021-03-04 10:11:12 in local time, as a DOS date-time.
  ASSERT_TRUE(SetFileDosTime(path, 0x52645166));
  qbtest::TLocalTime t;
  ASSERT_TRUE(qbtest::ModTimeOf(path, t));
  EXPECT_EQ(std::make_tuple(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second),
            std::make_tuple(2021, 3, 4, 10, 11, 12));
  // 2021-06-15 13:45:30 in local time, set by the system.
  ASSERT_TRUE(qbtest::SetModTime(path, {2021, 6, 15, 13, 45, 30}));
  TFileStream s(path, fmOpenRead);
  EXPECT_EQ(FileDosTimeOfHandle(s.Handle), 0x52CF6DAF);
}

TEST(FileCopyTime, InvalidDosDateTimeIsRefused) {
  TScratchFolder dir;
  std::string path = dir.Path("t.txt");
  WriteFile(path, "x");
  FileTime before = fsys::last_write_time(U8(path));
  EXPECT_FALSE(SetFileDosTime(path, -1));
  EXPECT_FALSE(SetFileDosTime(dir.Path("missing.txt"), 0x52640000));
  EXPECT_EQ(fsys::last_write_time(U8(path)), before);
}
