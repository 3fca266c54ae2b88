// POSIX half of the work-folder services: mode-700 work folder with an
// ownership check, flock() for the run lock.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/file_services.h"
#include "fs/path_text.h"
#include "launcher/work_folder.h"
#include "runtime/exceptions.h"

namespace {

// The error code carried by the unsafe-work-folder failure (EACCES).
constexpr int UnsafeFolderCode = 13;

[[noreturn]] void RaiseUnsafe(const std::string& WorkDir) {
  throw EInOutError(FormatText("Unsafe work folder \"%s\"", WorkDir), UnsafeFolderCode);
}

}  // namespace

std::string PlatformTempFolder() {
  // Only an absolute TMPDIR: a relative one ("." among them) would put the
  // work folder, and the clean-up's tree deletions, into the current folder.
  const char* Value = getenv("TMPDIR");
  if (Value != nullptr && Value[0] == '/') return IncludeTrailingSeparator(Value);
  return "/tmp/";
}

void CheckWorkFolder(const std::string& WorkDir) {
  struct stat Info;
  if (lstat(ExcludeTrailingSeparator(WorkDir).c_str(), &Info) != 0) {
    // Nothing there (or the temporary folder itself is missing or a file):
    // nothing of anybody's can be touched through this path.
    if (errno == ENOENT || errno == ENOTDIR) return;
    RaiseUnsafe(WorkDir);
  }
  // lstat does not follow a link, so a link shows up here as not a folder.
  if (!S_ISDIR(Info.st_mode)) RaiseUnsafe(WorkDir);
  if (Info.st_uid != geteuid()) RaiseUnsafe(WorkDir);
  if ((Info.st_mode & (S_IWGRP | S_IWOTH)) != 0) RaiseUnsafe(WorkDir);
}

void CreateWorkFolder(const std::string& WorkDir) {
  const std::string Folder = ExcludeTrailingSeparator(WorkDir);
  const std::string Parent = ExcludeTrailingSeparator(ExtractFolderPart(Folder));
  if (!Parent.empty()) ForceFolders(Parent);
  // mkdir never follows a link standing at the path: it fails with EEXIST,
  // and the check below then refuses the link.
  mkdir(Folder.c_str(), 0700);
  CheckWorkFolder(WorkDir);
}

void TRunLock::Acquire(const std::string& WorkDir) {
  if (Handle != -1) return;
  int Fd = open(LockFileName(WorkDir).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (Fd < 0) return;
  int Result;
  do {
    Result = flock(Fd, LOCK_SH);
  } while (Result != 0 && errno == EINTR);
  if (Result != 0) {
    close(Fd);
    return;
  }
  Handle = Fd;
}

void TRunLock::Release() {
  if (Handle == -1) return;
  close(static_cast<int>(Handle));  // closing the descriptor drops the flock
  Handle = -1;
}

bool TRunLock::HeldByOthers(const std::string& WorkDir) {
  int Fd = open(LockFileName(WorkDir).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (Fd < 0) return false;
  bool Held = flock(Fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(Fd);
  return Held;
}

std::string ProcessTag() { return std::to_string(static_cast<long>(getpid())); }
