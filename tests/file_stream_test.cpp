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
std::string OpenFailure(const std::string& Path, uint16_t Mode) {
  try {
    TFileStream S(Path, Mode);
  } catch (const Exception& E) {
    return std::string(E.ClassName()) + ": " + E.Message();
  }
  return "no failure";
}

bool CanOpen(const std::string& Path, uint16_t Mode) {
  THandle H = FileOpenHandle(Path, Mode);
  if (H == InvalidHandle) return false;
  FileCloseHandle(H);
  return true;
}

}  // namespace

// ---- opening, creating and the two failure messages ----

TEST(FileStreamOpen, FailuresToOpenAndToCreateNameTheFile) {
  TScratchFolder Dir;
  qbtest::fsys::create_directory(qbtest::U8(Dir.Path("sub")));
  const std::string Open = "EFOpenError: Unable to open file \"", Create = "EFCreateError: Unable to create file \"";
  const struct {
    const char* What;
    const char* Name;
    uint16_t Mode;
    const std::string& Message;
  } Cases[] = {
      {"a missing file opened with mode zero", "x.zip", fmOpenRead, Open},
      {"a file created in a missing folder", "missing/x.zip", fmCreate, Create},
      // The create mode with sharing bits reports the open message.
      {"created denying writers", "missing/x.zip", fmCreate | fmShareDenyWrite, Open},
      {"created exclusively", "missing/x.zip", fmCreate | fmShareExclusive, Open},
      {"a folder opened as a file", "sub", fmOpenRead, Open},
      {"a folder created as a file", "sub", fmCreate, Create},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    EXPECT_EQ(OpenFailure(Dir.Path(C.Name), C.Mode), C.Message + Dir.Path(C.Name) + "\"");
  }
  EXPECT_FALSE(qbtest::fsys::exists(qbtest::U8(Dir.Path("x.zip")))) << "opening must not create";
  EXPECT_TRUE(qbtest::fsys::is_directory(qbtest::U8(Dir.Path("sub"))));
}

TEST(FileStreamOpen, CreateMakesAnEmptyFileAtPositionZero) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("new.bin");
  {
    TFileStream S(Path, fmCreate);
    EXPECT_EQ(S.FileName, Path);
    EXPECT_NE(S.Handle, InvalidHandle);
    EXPECT_EQ(S.Size(), 0);
    EXPECT_EQ(S.Position(), 0);
  }
  EXPECT_TRUE(qbtest::fsys::is_regular_file(qbtest::U8(Path)));
  EXPECT_EQ(ReadFile(Path), "");
}

TEST(FileStreamOpen, CreateCutsAnExistingFileToZero) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("old.bin");
  WriteFile(Path, PatternBytes(10000));
  {
    TFileStream S(Path, fmCreate);
    EXPECT_EQ(S.Size(), 0);
    S.WriteBuffer("abc", 3);
  }
  EXPECT_EQ(ReadFile(Path), "abc");
}

TEST(FileStreamOpen, ReadModeStartsAtTheBeginningAndKeepsContent) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("r.bin");
  WriteFile(Path, "0123456789");
  TFileStream S(Path, fmOpenRead);
  EXPECT_EQ(S.Position(), 0);
  EXPECT_EQ(S.Size(), 10);
  char Buf[4] = {};
  S.ReadBuffer(Buf, 4);
  EXPECT_EQ(std::string(Buf, 4), "0123");
}

TEST(FileStreamOpen, UnusedAccessAndSharingValuesAreRefused) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("f.bin");
  WriteFile(Path, "x");
  EXPECT_FALSE(CanOpen(Path, 0x0003));
  EXPECT_FALSE(CanOpen(Path, 0x0050));
  EXPECT_FALSE(CanOpen(Path, 0x00F0));
  EXPECT_FALSE(CanOpen(Path, fmCreate | 0x0050));
  EXPECT_EQ(ReadFile(Path), "x") << "a refused create must not empty the file";
  EXPECT_TRUE(CanOpen(Path, fmOpenReadWrite | fmShareDenyNone));
}

TEST(FileStreamOpen, NamesOutsideAsciiWork) {
  TScratchFolder Dir;
  qbtest::fsys::create_directories(qbtest::U8(Dir.Path("Données/日本語")));
  std::string Path = Dir.Path("Données/日本語/ü.txt");
  {
    TFileStream S(Path, fmCreate);
    const std::string Text = "grüße";
    S.WriteBuffer(Text.data(), static_cast<int32_t>(Text.size()));
  }
  EXPECT_EQ(ReadFile(Path), "grüße");
  TFileStream R(Path, fmOpenRead);
  EXPECT_EQ(R.FileName, Path);
  EXPECT_EQ(R.Size(), 7);
  EXPECT_EQ(OpenFailure(Dir.Path("Données/ö.txt"), fmOpenRead),
            "EFOpenError: Unable to open file \"" + Dir.Path("Données/ö.txt") + "\"");
}

// ---- transfers, seeking and size ----

TEST(FileStreamTransfer, WriteThenReadBackAcrossSeeks) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("rw.bin");
  std::string Data = PatternBytes(70000, 7);
  TFileStream S(Path, fmCreate);
  EXPECT_EQ(S.Write(Data.data(), static_cast<int32_t>(Data.size())), 70000);
  EXPECT_EQ(S.Position(), 70000);
  EXPECT_EQ(S.Size(), 70000);
  EXPECT_EQ(S.Seek(0, soBeginning), 0);
  std::string Back(Data.size(), '\0');
  S.ReadBuffer(&Back[0], static_cast<int32_t>(Back.size()));
  EXPECT_EQ(Back, Data);
  // At the end a read gives 0 and an exact read raises.
  char C;
  EXPECT_EQ(S.Read(&C, 1), 0);
  EXPECT_THROW(S.ReadBuffer(&C, 1), EReadError);
}

TEST(FileStreamTransfer, SeekFromEachOrigin) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("seek.bin");
  WriteFile(Path, "0123456789");
  TFileStream S(Path, fmOpenReadWrite);
  EXPECT_EQ(S.Seek(-3, soEnd), 7);
  char Buf[3];
  EXPECT_EQ(S.Read(Buf, 3), 3);
  EXPECT_EQ(std::string(Buf, 3), "789");
  EXPECT_EQ(S.Seek(2, soBeginning), 2);
  EXPECT_EQ(S.Seek(3, soCurrent), 5);
  EXPECT_EQ(S.Read(Buf, 1), 1);
  EXPECT_EQ(Buf[0], '5');
  EXPECT_EQ(S.Seek(-1, soBeginning), -1);
  EXPECT_EQ(S.Position(), 6) << "a failed seek leaves the position";
}

TEST(FileStreamTransfer, SeekBeyondFourGibibytesUsesTheHighHalf) {
  TScratchFolder Dir;
  TFileStream S(Dir.Path("far.bin"), fmCreate);
  const int64_t Far = (int64_t{5} << 30) + 12345;
  EXPECT_EQ(S.Seek(Far, soBeginning), Far);
  EXPECT_EQ(S.Position(), Far);
  EXPECT_EQ(S.Seek(-Far, soCurrent), 0);
}

TEST(FileStreamTransfer, WritePastTheEndGrowsTheFile) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("gap.bin");
  {
    TFileStream S(Path, fmCreate);
    EXPECT_EQ(S.Seek(4, soBeginning), 4);
    S.WriteBuffer("xy", 2);
    EXPECT_EQ(S.Size(), 6);
  }
  EXPECT_EQ(ReadFile(Path), std::string("\0\0\0\0xy", 6));
}

TEST(FileStreamTransfer, SetSizeShrinksAndGrowsAndMovesThePosition) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("size.bin");
  {
    TFileStream S(Path, fmCreate);
    S.WriteBuffer("0123456789", 10);
    EXPECT_TRUE(S.SetSize(4));
    EXPECT_EQ(S.Size(), 4);
    EXPECT_EQ(S.Position(), 4);
    EXPECT_TRUE(S.SetSize(8));
    EXPECT_EQ(S.Size(), 8);
    EXPECT_FALSE(S.SetSize(-1));
    EXPECT_EQ(S.Size(), 8);
  }
  EXPECT_EQ(ReadFile(Path), std::string("0123\0\0\0\0", 8));
}

TEST(FileStreamTransfer, WrongDirectionTransfersGiveZero) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("dir.bin");
  WriteFile(Path, "abc");
  {
    TFileStream R(Path, fmOpenRead);
    EXPECT_EQ(R.Write("zz", 2), 0);
    EXPECT_THROW(R.WriteBuffer("zz", 2), EWriteError);
    EXPECT_FALSE(R.SetSize(1));
  }
  {
    TFileStream W(Path, fmOpenWrite);
    char C;
    EXPECT_EQ(W.Read(&C, 1), 0);
    EXPECT_EQ(W.Write("Z", 1), 1);
  }
  EXPECT_EQ(ReadFile(Path), "Zbc");
}

TEST(FileStreamTransfer, ZeroAndNegativeCountsTransferNothing) {
  TScratchFolder Dir;
  TFileStream S(Dir.Path("z.bin"), fmCreate);
  char C = 'q';
  EXPECT_EQ(S.Write(&C, 0), 0);
  EXPECT_EQ(S.Write(&C, -5), 0);
  EXPECT_EQ(S.Read(&C, -5), 0);
  EXPECT_EQ(S.Size(), 0);
}

TEST(FileStreamTransfer, FlushToDiskKeepsTheBytes) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("flush.bin");
  {
    TFileStream S(Path, fmCreate);
    S.WriteBuffer("durable", 7);
    EXPECT_TRUE(S.FlushToDisk());
    EXPECT_EQ(S.Position(), 7);
  }
  EXPECT_EQ(ReadFile(Path), "durable");
}

// ---- sharing between openers ----

TEST(FileStreamSharing, AFileHeldWithModeZeroRefusesOpenAndCreateAndKeepsItsContent) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("held.bin");
  WriteFile(Path, "precious");
  {
    TFileStream Holder(Path, fmOpenRead);
    EXPECT_EQ(OpenFailure(Path, fmOpenRead), "EFOpenError: Unable to open file \"" + Path + "\"");
    EXPECT_EQ(OpenFailure(Path, fmCreate), "EFCreateError: Unable to create file \"" + Path + "\"");
  }
  EXPECT_EQ(ReadFile(Path), "precious");
}

TEST(FileStreamSharing, HoldersShutOutTheOpenersTheyDeny) {
  const struct {
    const char* What;
    uint16_t Holder;
    uint16_t Opener;
  } Cases[] = {
      {"held with mode zero, a reader", fmOpenRead, fmOpenRead | fmShareDenyNone},
      {"held with mode zero, a reader denying writers", fmOpenRead, fmOpenRead | fmShareDenyWrite},
      {"held with mode zero, a writer", fmOpenRead, fmOpenReadWrite | fmShareDenyNone},
      {"being created, a reader", fmCreate, fmOpenRead | fmShareDenyNone},
      {"being created, a reader denying writers", fmCreate, fmOpenRead | fmShareDenyWrite},
      {"held denying writers, a writer", fmOpenRead | fmShareDenyWrite, fmOpenWrite | fmShareDenyNone},
      {"held denying writers, a reader and writer", fmOpenRead | fmShareDenyWrite, fmOpenReadWrite | fmShareDenyNone},
      {"held denying writers, a creator", fmOpenRead | fmShareDenyWrite, fmCreate | fmShareDenyNone},
      {"held by a writer, a reader denying writers", fmOpenWrite | fmShareDenyNone, fmOpenRead | fmShareDenyWrite},
  };
  TScratchFolder Dir;
  int Row = 0;
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    const std::string Path = Dir.Path(std::to_string(++Row) + ".bin");
    if (C.Holder != fmCreate) WriteFile(Path, "held");
    TFileStream Holder(Path, C.Holder);
    EXPECT_FALSE(CanOpen(Path, C.Opener));
  }
}

TEST(FileStreamSharing, ClosingReleasesTheFile) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("cycle.bin");
  WriteFile(Path, "x");
  { TFileStream A(Path, fmOpenRead); }
  TFileStream B(Path, fmOpenRead);
  EXPECT_EQ(B.Size(), 1);
}

TEST(FileStreamSharing, ReadersThatDenyWritersCoexist) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("shared.bin");
  WriteFile(Path, "shared");
  TFileStream A(Path, fmOpenRead | fmShareDenyWrite);
  TFileStream B(Path, fmOpenRead | fmShareDenyWrite);
  TFileStream C(Path, fmOpenRead | fmShareDenyNone);
  char Buf[6];
  B.ReadBuffer(Buf, 6);
  EXPECT_EQ(std::string(Buf, 6), "shared");
  // Yet none of them admits an opener that takes the file for itself.
  EXPECT_FALSE(CanOpen(Path, fmOpenRead));
}

TEST(FileStreamSharing, CreateFailsAgainstAHolderThatDeniesWritersAndKeepsTheContent) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("ro.bin");
  WriteFile(Path, "unchanged");
  {
    TFileStream Reader(Path, fmOpenRead | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(Path, fmCreate), EFCreateError);
  }
  EXPECT_EQ(ReadFile(Path), "unchanged");
  EXPECT_TRUE(CanOpen(Path, fmOpenWrite | fmShareDenyNone));
}

// A folder that may not be written and a file that may not be read: the
// create and the open failure, and nothing made.
TEST(FileStreamOpen, PermissionsRefusedRaiseTheCreateAndOpenErrors) {
  if (!qbtest::PermissionBitsApply()) GTEST_SKIP() << "no permission bits here";
  TScratchFolder Dir;
  const std::string ReadOnly = Dir.Folder("ro");
  const std::string Secret = Dir.Path("secret.bin");
  WriteFile(Secret, "secret");
  qbtest::RunUnprivileged(Dir, [&] {
    qbtest::fsys::permissions(qbtest::U8(ReadOnly), qbtest::fsys::perms::owner_read | qbtest::fsys::perms::owner_exec);
    qbtest::fsys::permissions(qbtest::U8(Secret), qbtest::fsys::perms::owner_write);
    EXPECT_EQ(OpenFailure(ReadOnly + "new.bin", fmCreate),
              "EFCreateError: Unable to create file \"" + ReadOnly + "new.bin\"");
    EXPECT_EQ(OpenFailure(Secret, fmOpenRead), "EFOpenError: Unable to open file \"" + Secret + "\"");
    EXPECT_EQ(OpenFailure(Secret, fmOpenReadWrite), "EFOpenError: Unable to open file \"" + Secret + "\"");
    EXPECT_TRUE(qbtest::fsys::is_empty(qbtest::U8(ReadOnly)));
  });
}

#ifndef _WIN32
// POSIX: Rights gives the permission bits of a created file, under the umask.
TEST(FileStreamOpen, RightsApplyToCreatedFilesUnderTheUmask) {
  TScratchFolder Dir;
  std::string Path = Dir.Path("rights.bin");
  { TFileStream S(Path, fmCreate, 0600); }
  auto Perms = qbtest::fsys::status(Path).permissions();
  EXPECT_EQ(Perms & qbtest::fsys::perms::all, qbtest::fsys::perms::owner_read | qbtest::fsys::perms::owner_write);
}
#endif
