#include "fs/file_lock_posix.h"

#include <errno.h>
#include <sys/file.h>

int LockWithoutWaiting(int Fd, int Operation) {
  int Result;
  do {
    Result = flock(Fd, Operation | LOCK_NB);
  } while (Result != 0 && errno == EINTR);
  return Result == 0 ? 0 : errno;
}
