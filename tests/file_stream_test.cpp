// TFileStream / THandleStream / FileOpenHandle: open modes, failure
// messages, transfers, seeking, size changes and sharing between openers.
#include "fs/file_stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "runtime/exceptions.h"
#include "tests/test_support.h"

using qbtest::PatternBytes;
using qbtest::ReadFile;
using qbtest::TScratchFolder;
using qbtest::WriteFile;

namespace {

// The failure a TFileStream creation raises, as class name and message.
template <class Failure>
std::string OpenFailure(const std::string& Path, uint16_t Mode) {
  try {
    TFileStream s(Path, Mode);
  } catch (const Failure& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  } catch (const Exception& e) {
    return std::string("wrong class ") + e.ClassName() + ": " + e.Message();
  }
  return "no failure";
}

bool CanOpen(const std::string& Path, uint16_t Mode) {
  THandle h = FileOpenHandle(Path, Mode);
  if (h == InvalidHandle) return false;
  FileCloseHandle(h);
  return true;
}

}  // namespace

// ---- opening, creating and the two failure messages ----

TEST(FileStreamOpen, MissingFileWithModeZeroRaisesOpenError) {
  TScratchFolder dir;
  std::string path = dir.Path("x.zip");
  EXPECT_EQ(OpenFailure<EFOpenError>(path, fmOpenRead),
            "EFOpenError: Unable to open file \"" + path + "\"");
  EXPECT_FALSE(qbtest::fsys::exists(qbtest::U8(path))) << "opening must not create";
}

TEST(FileStreamOpen, CreateInMissingFolderRaisesCreateError) {
  TScratchFolder dir;
  std::string path = dir.Path("missing/x.zip");
  EXPECT_EQ(OpenFailure<EFCreateError>(path, fmCreate),
            "EFCreateError: Unable to create file \"" + path + "\"");
}

TEST(FileStreamOpen, CreateModeWithSharingBitsReportsTheOpenMessage) {
  TScratchFolder dir;
  std::string path = dir.Path("missing/x.zip");
  EXPECT_EQ(OpenFailure<EFOpenError>(path, fmCreate | fmShareDenyWrite),
            "EFOpenError: Unable to open file \"" + path + "\"");
  EXPECT_EQ(OpenFailure<EFOpenError>(path, fmCreate | fmShareExclusive),
            "EFOpenError: Unable to open file \"" + path + "\"");
}

TEST(FileStreamOpen, FolderCannotBeOpenedAsAFile) {
  TScratchFolder dir;
  qbtest::fsys::create_directory(qbtest::U8(dir.Path("sub")));
  EXPECT_EQ(OpenFailure<EFOpenError>(dir.Path("sub"), fmOpenRead),
            "EFOpenError: Unable to open file \"" + dir.Path("sub") + "\"");
  EXPECT_EQ(OpenFailure<EFCreateError>(dir.Path("sub"), fmCreate),
            "EFCreateError: Unable to create file \"" + dir.Path("sub") + "\"");
  EXPECT_TRUE(qbtest::fsys::is_directory(qbtest::U8(dir.Path("sub"))));
}

TEST(FileStreamOpen, CreateMakesAnEmptyFileAtPositionZero) {
  TScratchFolder dir;
  std::string path = dir.Path("new.bin");
  {
    TFileStream s(path, fmCreate);
    EXPECT_EQ(s.FileName, path);
    EXPECT_NE(s.Handle, InvalidHandle);
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Position(), 0);
  }
  EXPECT_TRUE(qbtest::fsys::is_regular_file(qbtest::U8(path)));
  EXPECT_EQ(ReadFile(path), "");
}

TEST(FileStreamOpen, CreateCutsAnExistingFileToZero) {
  TScratchFolder dir;
  std::string path = dir.Path("old.bin");
  WriteFile(path, PatternBytes(10000));
  {
    TFileStream s(path, fmCreate);
    EXPECT_EQ(s.Size(), 0);
    s.WriteBuffer("abc", 3);
  }
  EXPECT_EQ(ReadFile(path), "abc");
}

TEST(FileStreamOpen, ReadModeStartsAtTheBeginningAndKeepsContent) {
  TScratchFolder dir;
  std::string path = dir.Path("r.bin");
  WriteFile(path, "0123456789");
  TFileStream s(path, fmOpenRead);
  EXPECT_EQ(s.Position(), 0);
  EXPECT_EQ(s.Size(), 10);
  char buf[4] = {};
  s.ReadBuffer(buf, 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
}

TEST(FileStreamOpen, UnusedAccessAndSharingValuesAreRefused) {
  TScratchFolder dir;
  std::string path = dir.Path("f.bin");
  WriteFile(path, "x");
  EXPECT_FALSE(CanOpen(path, 0x0003));
  EXPECT_FALSE(CanOpen(path, 0x0050));
  EXPECT_FALSE(CanOpen(path, 0x00F0));
  EXPECT_FALSE(CanOpen(path, fmCreate | 0x0050));
  EXPECT_EQ(ReadFile(path), "x") << "a refused create must not empty the file";
  EXPECT_TRUE(CanOpen(path, fmOpenReadWrite | fmShareDenyNone));
}

TEST(FileStreamOpen, NamesOutsideAsciiWork) {
  TScratchFolder dir;
  qbtest::fsys::create_directories(qbtest::U8(dir.Path("Données/日本語")));
  std::string path = dir.Path("Données/日本語/ü.txt");
  {
    TFileStream s(path, fmCreate);
    const std::string text = "grüße";
    s.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  }
  EXPECT_EQ(ReadFile(path), "grüße");
  TFileStream r(path, fmOpenRead);
  EXPECT_EQ(r.FileName, path);
  EXPECT_EQ(r.Size(), 7);
  EXPECT_EQ(OpenFailure<EFOpenError>(dir.Path("Données/ö.txt"), fmOpenRead),
            "EFOpenError: Unable to open file \"" + dir.Path("Données/ö.txt") + "\"");
}

// ---- transfers, seeking and size ----

TEST(FileStreamTransfer, WriteThenReadBackAcrossSeeks) {
  TScratchFolder dir;
  std::string path = dir.Path("rw.bin");
  std::string data = PatternBytes(70000, 7);
  TFileStream s(path, fmCreate);
  EXPECT_EQ(s.Write(data.data(), static_cast<int32_t>(data.size())), 70000);
  EXPECT_EQ(s.Position(), 70000);
  EXPECT_EQ(s.Size(), 70000);
  EXPECT_EQ(s.Seek(0, soBeginning), 0);
  std::string back(data.size(), '\0');
  s.ReadBuffer(&back[0], static_cast<int32_t>(back.size()));
  EXPECT_EQ(back, data);
  // At the end a read gives 0 and an exact read raises.
  char c;
  EXPECT_EQ(s.Read(&c, 1), 0);
  EXPECT_THROW(s.ReadBuffer(&c, 1), EReadError);
}

TEST(FileStreamTransfer, SeekFromEachOrigin) {
  TScratchFolder dir;
  std::string path = dir.Path("seek.bin");
  WriteFile(path, "0123456789");
  TFileStream s(path, fmOpenReadWrite);
  EXPECT_EQ(s.Seek(-3, soEnd), 7);
  char buf[3];
  EXPECT_EQ(s.Read(buf, 3), 3);
  EXPECT_EQ(std::string(buf, 3), "789");
  EXPECT_EQ(s.Seek(2, soBeginning), 2);
  EXPECT_EQ(s.Seek(3, soCurrent), 5);
  EXPECT_EQ(s.Read(buf, 1), 1);
  EXPECT_EQ(buf[0], '5');
  EXPECT_EQ(s.Seek(-1, soBeginning), -1);
  EXPECT_EQ(s.Position(), 6) << "a failed seek leaves the position";
}

TEST(FileStreamTransfer, SeekBeyondFourGibibytesUsesTheHighHalf) {
  TScratchFolder dir;
  TFileStream s(dir.Path("far.bin"), fmCreate);
  const int64_t far = (int64_t{5} << 30) + 12345;
  EXPECT_EQ(s.Seek(far, soBeginning), far);
  EXPECT_EQ(s.Position(), far);
  EXPECT_EQ(s.Seek(-far, soCurrent), 0);
}

TEST(FileStreamTransfer, WritePastTheEndGrowsTheFile) {
  TScratchFolder dir;
  std::string path = dir.Path("gap.bin");
  {
    TFileStream s(path, fmCreate);
    EXPECT_EQ(s.Seek(4, soBeginning), 4);
    s.WriteBuffer("xy", 2);
    EXPECT_EQ(s.Size(), 6);
  }
  EXPECT_EQ(ReadFile(path), std::string("\0\0\0\0xy", 6));
}

TEST(FileStreamTransfer, SetSizeShrinksAndGrowsAndMovesThePosition) {
  TScratchFolder dir;
  std::string path = dir.Path("size.bin");
  {
    TFileStream s(path, fmCreate);
    s.WriteBuffer("0123456789", 10);
    EXPECT_TRUE(s.SetSize(4));
    EXPECT_EQ(s.Size(), 4);
    EXPECT_EQ(s.Position(), 4);
    EXPECT_TRUE(s.SetSize(8));
    EXPECT_EQ(s.Size(), 8);
    EXPECT_FALSE(s.SetSize(-1));
    EXPECT_EQ(s.Size(), 8);
  }
  EXPECT_EQ(ReadFile(path), std::string("0123\0\0\0\0", 8));
}

TEST(FileStreamTransfer, WrongDirectionTransfersGiveZero) {
  TScratchFolder dir;
  std::string path = dir.Path("dir.bin");
  WriteFile(path, "abc");
  {
    TFileStream r(path, fmOpenRead);
    EXPECT_EQ(r.Write("zz", 2), 0);
    EXPECT_THROW(r.WriteBuffer("zz", 2), EWriteError);
    EXPECT_FALSE(r.SetSize(1));
  }
  {
    TFileStream w(path, fmOpenWrite);
    char c;
    EXPECT_EQ(w.Read(&c, 1), 0);
    EXPECT_EQ(w.Write("Z", 1), 1);
  }
  EXPECT_EQ(ReadFile(path), "Zbc");
}

TEST(FileStreamTransfer, ZeroAndNegativeCountsTransferNothing) {
  TScratchFolder dir;
  TFileStream s(dir.Path("z.bin"), fmCreate);
  char c = 'q';
  EXPECT_EQ(s.Write(&c, 0), 0);
  EXPECT_EQ(s.Write(&c, -5), 0);
  EXPECT_EQ(s.Read(&c, -5), 0);
  EXPECT_EQ(s.Size(), 0);
}

TEST(FileStreamTransfer, FlushToDiskKeepsTheBytes) {
  TScratchFolder dir;
  std::string path = dir.Path("flush.bin");
  {
    TFileStream s(path, fmCreate);
    s.WriteBuffer("durable", 7);
    EXPECT_TRUE(s.FlushToDisk());
    EXPECT_EQ(s.Position(), 7);
  }
  EXPECT_EQ(ReadFile(path), "durable");
}

// ---- sharing between openers ----

TEST(FileStreamSharing, SecondOpenOfAFileHeldWithModeZeroFails) {
  TScratchFolder dir;
  std::string path = dir.Path("held.bin");
  WriteFile(path, "keep");
  TFileStream holder(path, fmOpenRead);
  EXPECT_EQ(OpenFailure<EFOpenError>(path, fmOpenRead),
            "EFOpenError: Unable to open file \"" + path + "\"");
  EXPECT_FALSE(CanOpen(path, fmOpenRead | fmShareDenyNone));
  EXPECT_FALSE(CanOpen(path, fmOpenRead | fmShareDenyWrite));
  EXPECT_FALSE(CanOpen(path, fmOpenReadWrite | fmShareDenyNone));
}

TEST(FileStreamSharing, CreateRefusedWhileHeldLeavesTheContent) {
  TScratchFolder dir;
  std::string path = dir.Path("held.bin");
  WriteFile(path, "precious");
  {
    TFileStream holder(path, fmOpenRead);
    EXPECT_EQ(OpenFailure<EFCreateError>(path, fmCreate),
              "EFCreateError: Unable to create file \"" + path + "\"");
  }
  EXPECT_EQ(ReadFile(path), "precious");
}

TEST(FileStreamSharing, AFileBeingCreatedAdmitsNoOtherOpener) {
  TScratchFolder dir;
  std::string path = dir.Path("new.bin");
  TFileStream creator(path, fmCreate);
  EXPECT_FALSE(CanOpen(path, fmOpenRead | fmShareDenyNone));
  EXPECT_FALSE(CanOpen(path, fmOpenRead | fmShareDenyWrite));
}

TEST(FileStreamSharing, ClosingReleasesTheFile) {
  TScratchFolder dir;
  std::string path = dir.Path("cycle.bin");
  WriteFile(path, "x");
  {
    TFileStream a(path, fmOpenRead);
  }
  TFileStream b(path, fmOpenRead);
  EXPECT_EQ(b.Size(), 1);
}

TEST(FileStreamSharing, ReadersThatDenyWritersCoexist) {
  TScratchFolder dir;
  std::string path = dir.Path("shared.bin");
  WriteFile(path, "shared");
  TFileStream a(path, fmOpenRead | fmShareDenyWrite);
  TFileStream b(path, fmOpenRead | fmShareDenyWrite);
  TFileStream c(path, fmOpenRead | fmShareDenyNone);
  char buf[6];
  b.ReadBuffer(buf, 6);
  EXPECT_EQ(std::string(buf, 6), "shared");
  // Yet none of them admits an opener that takes the file for itself.
  EXPECT_FALSE(CanOpen(path, fmOpenRead));
}

TEST(FileStreamSharing, WriterFailsAgainstAHolderThatDeniesWriters) {
  TScratchFolder dir;
  std::string path = dir.Path("ro.bin");
  WriteFile(path, "unchanged");
  {
    TFileStream reader(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_FALSE(CanOpen(path, fmOpenWrite | fmShareDenyNone));
    EXPECT_FALSE(CanOpen(path, fmOpenReadWrite | fmShareDenyNone));
    EXPECT_FALSE(CanOpen(path, fmCreate | fmShareDenyNone));
    EXPECT_THROW(TFileStream(path, fmCreate), EFCreateError);
  }
  EXPECT_EQ(ReadFile(path), "unchanged");
  EXPECT_TRUE(CanOpen(path, fmOpenWrite | fmShareDenyNone));
}

TEST(FileStreamSharing, ReaderThatDeniesWritersFailsAgainstAWriter) {
  TScratchFolder dir;
  std::string path = dir.Path("w.bin");
  WriteFile(path, "w");
  TFileStream writer(path, fmOpenWrite | fmShareDenyNone);
  EXPECT_FALSE(CanOpen(path, fmOpenRead | fmShareDenyWrite));
}

// A folder that may not be written and a file that may not be read: the
// create and the open failure, and nothing made.
TEST(FileStreamOpen, PermissionsRefusedRaiseTheCreateAndOpenErrors) {
  if (!qbtest::PermissionBitsApply()) GTEST_SKIP() << "no permission bits here";
  TScratchFolder dir;
  const std::string folder = dir.Folder("ro");
  const std::string secret = dir.Path("secret.bin");
  WriteFile(secret, "secret");
  qbtest::RunUnprivileged(dir, [&] {
    qbtest::fsys::permissions(qbtest::U8(folder), qbtest::fsys::perms::owner_read | qbtest::fsys::perms::owner_exec);
    qbtest::fsys::permissions(qbtest::U8(secret), qbtest::fsys::perms::owner_write);
    EXPECT_EQ(OpenFailure<EFCreateError>(folder + "new.bin", fmCreate),
              "EFCreateError: Unable to create file \"" + folder + "new.bin\"");
    EXPECT_EQ(OpenFailure<EFOpenError>(secret, fmOpenRead), "EFOpenError: Unable to open file \"" + secret + "\"");
    EXPECT_EQ(OpenFailure<EFOpenError>(secret, fmOpenReadWrite),
              "EFOpenError: Unable to open file \"" + secret + "\"");
    EXPECT_TRUE(qbtest::fsys::is_empty(qbtest::U8(folder)));
  });
}

#ifndef _WIN32
// POSIX: Rights gives the permission bits of a created file, under the umask.
TEST(FileStreamOpen, RightsApplyToCreatedFilesUnderTheUmask) {
  TScratchFolder dir;
  std::string path = dir.Path("rights.bin");
  { TFileStream s(path, fmCreate, 0600); }
  auto perms = qbtest::fsys::status(path).permissions();
  EXPECT_EQ(perms & qbtest::fsys::perms::all,
            qbtest::fsys::perms::owner_read | qbtest::fsys::perms::owner_write);
}
#endif
