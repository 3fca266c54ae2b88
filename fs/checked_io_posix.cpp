// Checked file operations on POSIX. Sharing follows the file streams' rule:
// a whole-file flock taken without waiting (shared for a reader that admits
// other readers, exclusive for a new file).
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/checked_io.h"
#include "fs/file_lock_posix.h"
#include "fs/file_services.h"
#include "fs/path_text.h"
#include "fs/system_error.h"

namespace {

int CloseWithError(int Fd, int Error) {
  close(Fd);
  return Error;
}

}  // namespace

THandle OpenRegularFile(const std::string& Path, int& Error) {
  // O_NONBLOCK: a FIFO in the file's place must not hang the open.
  int Fd;
  do {
    Fd = open(Path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (Fd < 0 && errno == EINTR);
  if (Fd < 0) {
    Error = errno;
    return InvalidHandle;
  }
  struct stat Info;
  if (fstat(Fd, &Info) != 0) {
    Error = CloseWithError(Fd, errno);
    return InvalidHandle;
  }
  if (!S_ISREG(Info.st_mode)) {
    Error = CloseWithError(Fd, S_ISDIR(Info.st_mode) ? EISDIR : NotARegularFileError);
    return InvalidHandle;
  }
  const int Flags = fcntl(Fd, F_GETFL);
  if (Flags < 0 || fcntl(Fd, F_SETFL, Flags & ~O_NONBLOCK) != 0) {
    Error = CloseWithError(Fd, errno);
    return InvalidHandle;
  }
  if (const int Code = LockWithoutWaiting(Fd, LOCK_SH)) {
    Error = CloseWithError(Fd, Code);
    return InvalidHandle;
  }
  Error = 0;
  return static_cast<THandle>(Fd);
}

THandle CreateNewFile(const std::string& Path, int& Error, uint32_t Rights) {
  int Fd;
  do {
    Fd = open(Path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, static_cast<mode_t>(Rights));
  } while (Fd < 0 && errno == EINTR);
  if (Fd < 0) {
    Error = errno;
    return InvalidHandle;
  }
  // A new file nobody else can have open yet; the lock marks it as in use
  // for anyone who tidies up abandoned temporary files.
  LockWithoutWaiting(Fd, LOCK_EX);
  Error = 0;
  return static_cast<THandle>(Fd);
}

int ReadSome(THandle Handle, void* Buffer, int32_t Count, int32_t& Got) {
  ssize_t Result;
  do {
    Result = read(static_cast<int>(Handle), Buffer, static_cast<size_t>(Count));
  } while (Result < 0 && errno == EINTR);
  if (Result < 0) {
    Got = 0;
    return errno;
  }
  Got = static_cast<int32_t>(Result);
  return 0;
}

int ReadSomeAt(THandle Handle, int64_t Offset, void* Buffer, int32_t Count, int32_t& Got) {
  ssize_t Result;
  do {
    Result = pread(static_cast<int>(Handle), Buffer, static_cast<size_t>(Count), static_cast<off_t>(Offset));
  } while (Result < 0 && errno == EINTR);
  Got = Result < 0 ? 0 : static_cast<int32_t>(Result);
  return Result < 0 ? errno : 0;
}

int WriteAll(THandle Handle, const void* Buffer, int32_t Count) {
  const char* Data = static_cast<const char*>(Buffer);
  size_t Left = static_cast<size_t>(Count);
  while (Left > 0) {
    const ssize_t Result = write(static_cast<int>(Handle), Data, Left);
    if (Result < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (Result == 0) return ENOSPC;
    Data += Result;
    Left -= static_cast<size_t>(Result);
  }
  return 0;
}

int FlushToStorage(THandle Handle) { return fsync(static_cast<int>(Handle)) == 0 ? 0 : errno; }

int ReplaceEntry(const std::string& Source, const std::string& Target, bool Durable) {
  if (Durable) return RenameReplace(Source, Target) ? 0 : errno;
  return rename(Source.c_str(), Target.c_str()) == 0 ? 0 : errno;
}

bool FileInUse(const std::string& Path) {
  const int Fd = open(Path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (Fd < 0) return errno != ENOENT;
  const int Code = LockWithoutWaiting(Fd, LOCK_EX);
  close(Fd);
  return Code != 0;
}
