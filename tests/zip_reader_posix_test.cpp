// Permission bits of extracted files on POSIX: the rwx bits a Unix tool
// recorded in the central directory, never set-uid, set-gid or sticky.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include "tests/zip_read_support.h"
#include "zip/zip_reader.h"

using namespace zipr;

namespace {

mode_t ModeOf(const std::string& Path) {
  struct stat st {};
  EXPECT_EQ(stat(Path.c_str(), &st), 0) << Path;
  return st.st_mode & 07777;
}

TEntrySpec Unix(const std::string& Name, uint32_t Mode) {
  TEntrySpec e{Name, B("#!/bin/sh\n")};
  e.VersionMadeBy = (3 << 8) | 30;
  e.ExternalAttributes = Mode << 16;
  return e;
}

class ZipReaderPosix : public ::testing::Test {
 protected:
  void SetUp() override { OldMask = umask(022); }
  void TearDown() override { umask(OldMask); }
  mode_t OldMask = 0;
  TScratchFolder S;
};

}  // namespace

TEST_F(ZipReaderPosix, UnixModesApplied) {
  TEntrySpec dos{"dos.txt", B("d")};
  dos.ExternalAttributes = (0100755u << 16) | 0x20;  // not made on Unix: bits ignored
  const std::string a = S.Path("a.zip");
  WriteFile(a, BuildArchive({Unix("run.sh", 0100755), Unix("private.txt", 0100600),
                             Unix("suid", 0106777), Unix("zero", 0), dos}));
  const std::string out = S.Path("out/");
  ExtractArchive(a, out);
  EXPECT_EQ(ModeOf(out + "run.sh"), 0755u);
  EXPECT_EQ(ModeOf(out + "private.txt"), 0600u);
  EXPECT_EQ(ModeOf(out + "suid"), 0755u);  // 0777 under the umask, no set-uid/set-gid
  EXPECT_EQ(ModeOf(out + "zero"), 0644u);
  EXPECT_EQ(ModeOf(out + "dos.txt"), 0644u);
}

TEST_F(ZipReaderPosix, UmaskStillApplies) {
  umask(077);
  const std::string a = S.Path("a.zip");
  WriteFile(a, BuildArchive({Unix("run.sh", 0100775)}));
  ExtractArchive(a, S.Path("out/"));
  EXPECT_EQ(ModeOf(S.Path("out/run.sh")), 0700u);
}
