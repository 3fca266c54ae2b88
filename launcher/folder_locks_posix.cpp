// The locks on POSIX: flock on files. The gate's file is checked to be the
// user's own regular file (the temporary folder may be shared) and, once
// locked, to be still the file at its path: the holder before may have
// removed it in the meantime, so a lock on a removed file does not count.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/file_lock_posix.h"
#include "fs/file_services.h"
#include "fs/system_error.h"
#include "launcher/folder_locks.h"

namespace {

constexpr uint32_t GatePoll = 20;

}  // namespace

int TGateLock::Acquire(const std::string& LockPath, uint32_t TimeoutMilliseconds) {
  if (Held()) return 0;
  for (uint32_t Waited = 0;;) {
    const int Fd = open(LockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600);
    if (Fd < 0) return errno == ELOOP ? IsALinkError : errno;
    struct stat Info;
    if (fstat(Fd, &Info) != 0) {
      const int Error = errno;
      close(Fd);
      return Error;
    }
    if (!S_ISREG(Info.st_mode) || Info.st_uid != geteuid()) {
      close(Fd);
      return S_ISREG(Info.st_mode) ? NotOwnedError : NotARegularFileError;
    }
    const int Error = LockWithoutWaiting(Fd, LOCK_EX);
    if (Error == 0) {
      struct stat Now;
      if (fstat(Fd, &Info) == 0 && Info.st_nlink > 0 && stat(LockPath.c_str(), &Now) == 0 &&
          Now.st_dev == Info.st_dev && Now.st_ino == Info.st_ino) {
        FHandle = Fd;
        FPath = LockPath;
        return 0;
      }
      close(Fd);  // removed by the holder before: take the new one
      continue;
    }
    close(Fd);
    if (Error != EWOULDBLOCK) return Error;
    if (Waited >= TimeoutMilliseconds) return Error;
    Pause(GatePoll);
    Waited += GatePoll;
  }
}

void TGateLock::Release() {
  if (!Held()) return;
  // Removed while still locked: a launcher that opened it meanwhile finds,
  // once it holds it, that it is no longer the file at the path.
  unlink(FPath.c_str());
  close(static_cast<int>(FHandle));
  FHandle = -1;
}

int TRunLock::Acquire(const std::string& WorkDir) {
  if (Held()) return 0;
  const int Fd = open(LockFileName(WorkDir).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (Fd < 0) return errno;
  int Result;
  do {
    Result = flock(Fd, LOCK_SH);
  } while (Result != 0 && errno == EINTR);
  if (Result != 0) {
    const int Error = errno;
    close(Fd);
    return Error;
  }
  FHandle = Fd;
  return 0;
}

void TRunLock::Release() {
  if (!Held()) return;
  close(static_cast<int>(FHandle));  // closing the descriptor drops the flock
  FHandle = -1;
}

bool TRunLock::HeldByOthers(const std::string& WorkDir) {
  const int Fd = open(LockFileName(WorkDir).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (Fd < 0) return false;
  const bool Held = LockWithoutWaiting(Fd, LOCK_EX) == EWOULDBLOCK;
  close(Fd);
  return Held;
}
