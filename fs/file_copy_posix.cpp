// Last-write time as a local DOS date-time on POSIX: fstat and utimensat
// around the DOS date-time conversion.
#include <fcntl.h>
#include <sys/stat.h>

#include "fs/dos_time_posix.h"
#include "fs/file_copy.h"

int32_t FileDosTimeOfHandle(THandle Handle) {
  struct stat Info;
  uint32_t DosTime = 0;
  if (fstat(static_cast<int>(Handle), &Info) != 0 || !ToLocalDosTime(Info.st_mtime, DosTime)) return -1;
  return static_cast<int32_t>(DosTime);
}

bool SetFileDosTime(const std::string& FileName, int32_t DosTime) {
  time_t When = 0;
  if (!FromLocalDosTime(static_cast<uint32_t>(DosTime), When)) return false;
  struct timespec Times[2];
  Times[0].tv_sec = 0;
  Times[0].tv_nsec = UTIME_OMIT;  // the last-access time stays
  Times[1].tv_sec = When;
  Times[1].tv_nsec = 0;
  return utimensat(AT_FDCWD, FileName.c_str(), Times, 0) == 0;
}
