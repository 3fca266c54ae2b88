// File handles on POSIX: open/write/lseek/ftruncate/close (reads and flushes
// go through the checked operations of checked_io_posix.cpp).
//
// POSIX has no sharing modes, so the sharing bits of the open mode become a
// whole-file flock() taken without waiting right after open(). The lock
// belongs to the open file description, so it holds among all opens of this
// system (in this process or another) and goes away when the handle closes:
//   - a shared lock for an opener that only reads and lets others write
//     (sharing 2 "deny writers", sharing 4 "deny none");
//   - an exclusive lock for everything else: sharing 0 and 1, sharing 3
//     ("deny readers"), and every opener that wants write access, so that a
//     writer fails against a holder that denies writers and against a reader
//     that holds the file exclusively.
// This is never looser than the Windows rules; it is stricter only where a
// writer would share a file with openers that deny nobody, which this system
// never does.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fs/file_lock_posix.h"
#include "fs/file_stream.h"

namespace {

int AccessFlags(unsigned Access) {
  switch (Access) {
    case 0: return O_RDONLY;
    case 1: return O_WRONLY;
    case 2: return O_RDWR;
    default: return -1;
  }
}

// The flock() operation for an opener, or 0 for a sharing value the mapping
// does not know.
int LockFor(unsigned Access, unsigned Sharing) {
  if (Sharing > 4) return 0;
  bool ReadOnly = Access == 0;
  if (ReadOnly && (Sharing == 2 || Sharing == 4)) return LOCK_SH;
  return LOCK_EX;
}

void CloseQuietly(int Fd) {
  int Saved = errno;
  close(Fd);
  errno = Saved;
}

}  // namespace

THandle FileOpenHandle(const std::string& FileName, uint16_t Mode, uint32_t Rights) {
  bool Create = Mode >= 0x100;
  unsigned Access = Create ? 2u : (Mode & 0x3u);
  unsigned Sharing = (Mode >> 4) & 0xFu;
  int Flags = AccessFlags(Access);
  int Lock = LockFor(Access, Sharing);
  if (Flags < 0 || Lock == 0) return InvalidHandle;
  // O_NONBLOCK keeps a FIFO in the file's place from hanging the open; it is
  // cleared again once the file is known.
  Flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int Fd;
  do {
    // No O_TRUNC: a create empties the file only after it holds the lock,
    // so a refused create leaves someone else's file untouched.
    Fd = Create ? open(FileName.c_str(), Flags | O_CREAT, static_cast<mode_t>(Rights)) : open(FileName.c_str(), Flags);
  } while (Fd < 0 && errno == EINTR);
  if (Fd < 0) return InvalidHandle;

  // A folder opens for reading on POSIX; it is not a file to stream.
  struct stat St;
  if (fstat(Fd, &St) != 0) {
    CloseQuietly(Fd);
    return InvalidHandle;
  }
  if (S_ISDIR(St.st_mode)) {
    close(Fd);
    errno = EISDIR;
    return InvalidHandle;
  }
  // Opened without blocking (a FIFO must not hang the open); reads and
  // writes of anything but a regular file, which never blocks, block again.
  if (!S_ISREG(St.st_mode)) {
    const int Fl = fcntl(Fd, F_GETFL);
    if (Fl < 0 || fcntl(Fd, F_SETFL, Fl & ~O_NONBLOCK) != 0) {
      CloseQuietly(Fd);
      return InvalidHandle;
    }
  }
  if (const int Rc = LockWithoutWaiting(Fd, Lock)) {
    errno = Rc;
    CloseQuietly(Fd);
    return InvalidHandle;
  }
  // An empty file is left alone: on ext4 a truncation to zero marks the file
  // for a forced flush, which made every new file cost a synchronous write
  // when it is deleted (about 2 ms each).
  if (Create && S_ISREG(St.st_mode) && fstat(Fd, &St) == 0 && St.st_size != 0 && ftruncate(Fd, 0) != 0) {
    CloseQuietly(Fd);
    return InvalidHandle;
  }
  return static_cast<THandle>(Fd);
}

void FileCloseHandle(THandle Handle) {
  if (Handle != InvalidHandle) close(static_cast<int>(Handle));
}

int32_t THandleStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  ssize_t N;
  do {
    N = write(static_cast<int>(Handle), Buffer, static_cast<size_t>(Count));
  } while (N < 0 && errno == EINTR);
  return N < 0 ? 0 : static_cast<int32_t>(N);
}

int64_t THandleStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int Whence;
  switch (Origin) {
    case soBeginning: Whence = SEEK_SET; break;
    case soCurrent: Whence = SEEK_CUR; break;
    case soEnd: Whence = SEEK_END; break;
    default: return -1;
  }
  off_t R = lseek(static_cast<int>(Handle), static_cast<off_t>(Offset), Whence);
  return R < 0 ? -1 : static_cast<int64_t>(R);
}

bool THandleStream::SetSize(int64_t NewSize) {
  // Like the Windows version: move to the new size, then end the file there.
  if (Seek(NewSize, soBeginning) < 0) return false;
  return ftruncate(static_cast<int>(Handle), static_cast<off_t>(NewSize)) == 0;
}
