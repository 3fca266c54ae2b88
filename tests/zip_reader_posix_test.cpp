// Permission bits of extracted files on POSIX: the rwx bits a Unix tool
// recorded in the central directory, never set-uid, set-gid or sticky.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "tests/zip_read_support.h"
#include "zip/zip_reader.h"

using namespace qbtest;

namespace {

mode_t ModeOf(const std::string& Path) {
  struct stat St {};
  EXPECT_EQ(stat(Path.c_str(), &St), 0) << Path;
  return St.st_mode & 07777;
}

TEntrySpec Unix(const std::string& Name, uint32_t Mode) {
  TEntrySpec E{Name, B("#!/bin/sh\n")};
  E.VersionMadeBy = (3 << 8) | 30;
  E.ExternalAttributes = Mode << 16;
  return E;
}

class ZipReaderPosix : public ::testing::Test {
 protected:
  void SetUp() override { FOldMask = umask(022); }
  void TearDown() override { umask(FOldMask); }
  mode_t FOldMask = 0;
  TScratchFolder FS;
};

}  // namespace

TEST_F(ZipReaderPosix, UnixModesApplied) {
  TEntrySpec Dos{"dos.txt", B("d")};
  Dos.ExternalAttributes = (0100755u << 16) | 0x20;  // not made on Unix: bits ignored
  const std::string A = FS.Path("a.zip");
  WriteFile(A, BuildArchive({Unix("run.sh", 0100755), Unix("private.txt", 0100600), Unix("suid", 0106777),
                             Unix("zero", 0), Dos}));
  const std::string Out = FS.Path("out/");
  ExtractArchive(A, Out);
  EXPECT_EQ(ModeOf(Out + "run.sh"), 0755u);
  EXPECT_EQ(ModeOf(Out + "private.txt"), 0600u);
  EXPECT_EQ(ModeOf(Out + "suid"), 0755u);  // 0777 under the umask, no set-uid/set-gid
  EXPECT_EQ(ModeOf(Out + "zero"), 0644u);
  EXPECT_EQ(ModeOf(Out + "dos.txt"), 0644u);
}

TEST_F(ZipReaderPosix, UmaskStillApplies) {
  umask(077);
  const std::string A = FS.Path("a.zip");
  WriteFile(A, BuildArchive({Unix("run.sh", 0100775)}));
  ExtractArchive(A, FS.Path("out/"));
  EXPECT_EQ(ModeOf(FS.Path("out/run.sh")), 0700u);
}
