// The launcher's services around the work folder: the temporary folder it
// chooses, what may stand at the work folder's path, the gate and run locks
// that launchers share, the install record and the bundle identity.
#include "launcher/work_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>

#include "fs/file_services.h"
#include "fs/path_text.h"
#include "fs/system_error.h"
#include "launcher/bundle_identity.h"
#include "launcher/folder_locks.h"
#include "launcher/install_record.h"
#include "launcher/temp_folder.h"
#include "runtime/exceptions.h"
#include "tests/test_support.h"

namespace fsys = qbtest::fsys;

namespace {

using qbtest::GiveToAnotherUser;
using qbtest::Names;
using qbtest::PermissionBitsApply;
using qbtest::ReadFile;
using qbtest::WriteFile;

class WorkFolder : public ::testing::Test {
 protected:
  std::string Folder(const std::string& Name) const {
    return (FRoot / Name).u8string() + std::string(1, PathSeparator);
  }

  qbtest::TScratchFolder FScratch;
  const fsys::path& FRoot = FScratch.Root();
};

// ---- the temporary folder ----

TEST_F(WorkFolder, TempFolderComesFromTempWhenSet) {
  qbtest::TEnvironmentGuard Saved{"TEMP", "TMP"};
  qbtest::SetEnv("TEMP", FRoot.u8string());
  EXPECT_EQ(RunTempFolder(), FRoot.u8string() + PathSeparator);
}

TEST_F(WorkFolder, RelativeOrMissingTempGivesThePlatformFolderNeverTheCurrentOne) {
  qbtest::TEnvironmentGuard Saved{"TEMP", "TMP", "TMPDIR"};
  qbtest::UnsetEnv("TMPDIR");
  for (const char* Relative : {"", ".", "./", "scratch", "..", "sub\\dir"}) {
    SCOPED_TRACE(std::string("TEMP and TMP \"") + Relative + "\"");
    if (*Relative != '\0') {
      qbtest::SetEnv("TEMP", Relative);
      qbtest::SetEnv("TMP", Relative);
    } else {
      qbtest::UnsetEnv("TEMP");
      qbtest::UnsetEnv("TMP");
    }
    const std::string Folder = RunTempFolder();
    EXPECT_EQ(Folder, PlatformTempFolder());
    ASSERT_FALSE(Folder.empty());
    EXPECT_TRUE(IsSeparator(Folder.back())) << Folder;
    EXPECT_TRUE(fsys::u8path(Folder).is_absolute()) << Folder;
    std::error_code Error;
    EXPECT_FALSE(fsys::equivalent(fsys::u8path(Folder), fsys::current_path(), Error)) << Folder;
  }
}

TEST_F(WorkFolder, RelativeTmpDirNeverGivesTheCurrentFolder) {
  qbtest::TEnvironmentGuard Saved{"TEMP", "TMP", "TMPDIR"};
  qbtest::UnsetEnv("TEMP");
  qbtest::UnsetEnv("TMP");
  for (const char* Relative : {".", "./", "scratch"}) {
    qbtest::SetEnv("TMPDIR", Relative);
    const std::string Folder = RunTempFolder();
    ASSERT_FALSE(Folder.empty()) << Relative;
    EXPECT_TRUE(fsys::u8path(Folder).is_absolute()) << Relative << " gave " << Folder;
  }
}

// ---- what may stand at the work folder's path ----

TEST_F(WorkFolder, NothingAtThePathPassesTheCheck) {
  EXPECT_NO_THROW(CheckWorkFolder(Folder("absent")));
  EXPECT_NO_THROW(CheckWorkFolder(Folder("absent") + "deeper" + PathSeparator));
}

TEST_F(WorkFolder, CreatedWithMissingParentsAndPrivate) {
  const std::string Work = Folder("parent") + "work" + PathSeparator;
  CreateWorkFolder(Work);
  ASSERT_TRUE(fsys::is_directory(fsys::u8path(Work)));
  EXPECT_NO_THROW(CheckWorkFolder(Work));
  if (PermissionBitsApply()) {
    EXPECT_EQ(fsys::status(fsys::u8path(Work)).permissions() & fsys::perms::mask, fsys::perms::owner_all);
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
    EXPECT_EQ(Error.ErrorCode, AccessDeniedError);
  }
}

TEST_F(WorkFolder, FileLinkOrSharedFolderIsRefused) {
  WriteFile(FRoot / "file", "x");
  ExpectUnsafe(Folder("file"));
  EXPECT_THROW(CreateWorkFolder(Folder("file")), EInOutError);
  EXPECT_EQ(ReadFile(FRoot / "file"), "x");

  fsys::create_directories(FRoot / "target");
  std::string Why;
  if (qbtest::MakeFolderLink(FScratch.Path("target"), FScratch.Path("link"), Why)) {
    ExpectUnsafe(Folder("link"));
    EXPECT_THROW(CreateWorkFolder(Folder("link")), EInOutError);
    EXPECT_TRUE(Names(FRoot / "target").empty());
  }

  if (PermissionBitsApply()) {
    fsys::create_directories(FRoot / "work");
    fsys::permissions(FRoot / "work", fsys::perms::owner_all | fsys::perms::group_write, fsys::perm_options::replace);
    ExpectUnsafe(Folder("work"));
    fsys::permissions(FRoot / "work", fsys::perms::owner_all | fsys::perms::others_write, fsys::perm_options::replace);
    ExpectUnsafe(Folder("work"));
    fsys::permissions(FRoot / "work", fsys::perms::owner_all | fsys::perms::group_read | fsys::perms::others_exec,
                      fsys::perm_options::replace);
    EXPECT_NO_THROW(CheckWorkFolder(Folder("work")));
  }
}

TEST_F(WorkFolder, FolderOfAnotherUserIsRefused) {
  std::string Why;
  if (!GiveToAnotherUser(FScratch.Path("foreign"), Why)) GTEST_SKIP() << Why;
  ExpectUnsafe(Folder("foreign"));
}

// ---- the locks ----

TEST_F(WorkFolder, RunLockIsSeenUntilEveryHolderReleasedIt) {
  const std::string Work = FScratch.Folder("work");
  EXPECT_FALSE(TRunLock::HeldByOthers(Work));  // no lock file yet
  {
    TRunLock First, Second;
    EXPECT_EQ(First.Acquire(Work), 0);
    EXPECT_EQ(Second.Acquire(Work), 0);  // shared: both launchers hold it
    EXPECT_TRUE(fsys::exists(fsys::u8path(TRunLock::LockFileName(Work))));
    EXPECT_TRUE(TRunLock::HeldByOthers(Work));
    First.Release();
    EXPECT_FALSE(First.Held());
    EXPECT_TRUE(TRunLock::HeldByOthers(Work));
  }  // the destructor releases the second
  EXPECT_FALSE(TRunLock::HeldByOthers(Work));
  EXPECT_TRUE(DeleteFolderTree(Work, false));
}

TEST_F(WorkFolder, RunLockInAMissingFolderFails) {
  TRunLock Lock;
  EXPECT_NE(Lock.Acquire(Folder("absent")), 0);
  EXPECT_FALSE(Lock.Held());
  EXPECT_FALSE(fsys::exists(FRoot / "absent"));
}

TEST_F(WorkFolder, GateAdmitsOneHolderAndVanishesWhenReleased) {
  const std::string Gate = FScratch.Path("gate.lock");
  TGateLock First, Second;
  ASSERT_EQ(First.Acquire(Gate, 0), 0);
  EXPECT_TRUE(fsys::exists(fsys::u8path(Gate)));
  // A second holder waits for the time it is given, then gives up saying
  // the gate is in use.
  const auto Start = std::chrono::steady_clock::now();
  const int Refused = Second.Acquire(Gate, 300);
  EXPECT_TRUE(IsSharingViolation(Refused)) << SystemErrorReason(Refused);
  EXPECT_GE(std::chrono::steady_clock::now() - Start, std::chrono::milliseconds(250));
  EXPECT_FALSE(Second.Held());
  First.Release();
  EXPECT_FALSE(fsys::exists(fsys::u8path(Gate)));
  EXPECT_EQ(Second.Acquire(Gate, 0), 0);
}

TEST_F(WorkFolder, GateWaitsForTheHolderBeforeItAndTakesTheNewFile) {
  const std::string Gate = FScratch.Path("gate.lock");
  TGateLock First;
  ASSERT_EQ(First.Acquire(Gate, 0), 0);
  std::thread Releaser([&First] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    First.Release();
  });
  TGateLock Second;
  EXPECT_EQ(Second.Acquire(Gate, 10000), 0);
  Releaser.join();
  EXPECT_TRUE(Second.Held());
  EXPECT_TRUE(fsys::exists(fsys::u8path(Gate)));
  // Only one holder at a time.
  TGateLock Third;
  EXPECT_NE(Third.Acquire(Gate, 0), 0);
}

TEST_F(WorkFolder, GateOfAnotherUserOrALinkIsRefused) {
  std::string Why;
  const std::string Gate = FScratch.Path("gate.lock");
  if (qbtest::MakeFileLink(FScratch.Path("elsewhere"), Gate, Why)) {
    WriteFile(FRoot / "elsewhere", "someone's");
    TGateLock Lock;
    EXPECT_NE(Lock.Acquire(Gate, 0), 0);
    EXPECT_EQ(ReadFile(FRoot / "elsewhere"), "someone's");
    fsys::remove(fsys::u8path(Gate));
  }
  WriteFile(Gate, "");
  if (!GiveToAnotherUser(Gate, Why)) GTEST_SKIP() << Why;
  TGateLock Lock;
  EXPECT_EQ(Lock.Acquire(Gate, 0), NotOwnedError);
}

// ---- the install record and the bundle identity ----

TEST_F(WorkFolder, InstallRecordRoundTripsAndGoesFirst) {
  const std::string Work = FScratch.Folder("work");
  EXPECT_FALSE(ReadInstallRecord(Work).Present);
  TInstallRecord Record;
  Record.Present = true;
  Record.Bundle = "5290954-0a1b2c3d";
  Record.UserFolder = "C:\\Users\\\xC5\x81ukasz\\Documents\\";
  WriteInstallRecord(Work, Record);
  const TInstallRecord Back = ReadInstallRecord(Work);
  EXPECT_TRUE(Back.Present);
  EXPECT_EQ(Back.Bundle, Record.Bundle);
  EXPECT_EQ(Back.UserFolder, Record.UserFolder);
  // Written through a new file and a rename: nothing else is left.
  EXPECT_EQ(Names(fsys::u8path(Work)), std::set<std::string>{"quintabel.install"});
  EXPECT_TRUE(RemoveInstallRecord(Work));
  EXPECT_FALSE(ReadInstallRecord(Work).Present);
  EXPECT_TRUE(RemoveInstallRecord(Work));  // none there counts as removed
}

TEST_F(WorkFolder, DamagedInstallRecordDoesNotCount) {
  const std::string Work = FScratch.Folder("work");
  const std::string Whole = "quintabel install\nbundle 1-2\nfolder /x/\nend\n";
  for (const std::string& Damaged :
       {Whole.substr(0, Whole.size() - 4), std::string(), std::string("bundle 1-2\nfolder /x/\nend\n"),
        std::string("quintabel install\nfolder /x/\nend\n"), std::string(70000, 'x')}) {
    WriteFile(InstallRecordName(Work), Damaged);
    EXPECT_FALSE(ReadInstallRecord(Work).Present) << Damaged.substr(0, 40);
  }
  WriteFile(InstallRecordName(Work), Whole);
  EXPECT_TRUE(ReadInstallRecord(Work).Present);
  fsys::remove(fsys::u8path(InstallRecordName(Work)));
  fsys::create_directories(fsys::u8path(InstallRecordName(Work)));
  EXPECT_FALSE(ReadInstallRecord(Work).Present);
}

TEST(BundleIdentity, ChangesWithAnyEntryAndStaysForTheSameBytes) {
  // Two stored one-entry archives that differ in one byte of content.
  auto Archive = [](char Byte) {
    std::string Data = "hello world";
    Data[0] = Byte;
    std::string Zip = "PK\x03\x04";
    Zip.append(26, '\0');
    Zip += Data;
    const size_t Central = Zip.size();
    Zip += "PK\x01\x02";
    Zip.append(42, '\0');
    // A "CRC" field that follows the content, as a real writer's would.
    Zip[Central + 16] = Byte;
    const uint32_t Offset = static_cast<uint32_t>(Central);
    Zip += std::string("PK\x05\x06", 4) + std::string(8, '\0') + std::string(4, '\0');
    for (int I = 0; I < 4; ++I) Zip += static_cast<char>((Offset >> (8 * I)) & 0xFF);
    Zip += std::string(2, '\0');
    return Zip;
  };
  const std::string A = Archive('h'), B = Archive('j');
  ASSERT_EQ(A.size(), B.size());
  EXPECT_EQ(BundleIdentity(A.data(), A.size()), BundleIdentity(A.data(), A.size()));
  EXPECT_NE(BundleIdentity(A.data(), A.size()), BundleIdentity(B.data(), B.size()));
  EXPECT_EQ(BundleIdentity(A.data(), A.size()).rfind(std::to_string(A.size()) + "-", 0), 0u);
  // Something that is no archive still gets an identity of its own.
  EXPECT_NE(BundleIdentity("abc", 3), BundleIdentity("abd", 3));
}

}  // namespace
