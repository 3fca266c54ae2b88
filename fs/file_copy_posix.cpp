// Last-write time as a local DOS date-time on POSIX: fstat, localtime_r,
// mktime and utimensat.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include "fs/file_copy.h"

int32_t FileDosTimeOfHandle(THandle Handle) {
  struct stat st;
  if (fstat(static_cast<int>(Handle), &st) != 0) return -1;
  time_t t = st.st_mtime;
  struct tm local;
  if (localtime_r(&t, &local) == nullptr) return -1;
  int year = local.tm_year + 1900;
  // The DOS date holds the years 1980 to 2107.
  if (year < 1980 || year > 2107) return -1;
  uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) |
                  (static_cast<uint32_t>(local.tm_mon + 1) << 5) |
                  static_cast<uint32_t>(local.tm_mday);
  uint32_t time = (static_cast<uint32_t>(local.tm_hour) << 11) |
                  (static_cast<uint32_t>(local.tm_min) << 5) |
                  static_cast<uint32_t>(local.tm_sec / 2);
  return static_cast<int32_t>((date << 16) | time);
}

bool SetFileDosTime(const std::string& FileName, int32_t DosTime) {
  uint32_t dos = static_cast<uint32_t>(DosTime);
  uint32_t date = dos >> 16, time = dos & 0xFFFF;
  int day = date & 0x1F, month = (date >> 5) & 0xF, year = static_cast<int>(date >> 9) + 1980;
  int sec = static_cast<int>(time & 0x1F) * 2, minute = (time >> 5) & 0x3F, hour = time >> 11;
  if (day < 1 || month < 1 || month > 12 || hour > 23 || minute > 59 || sec > 59) return false;
  struct tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = sec;
  local.tm_isdst = -1;
  time_t t = mktime(&local);
  if (t == static_cast<time_t>(-1)) return false;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;  // the last-access time stays
  times[1].tv_sec = t;
  times[1].tv_nsec = 0;
  return utimensat(AT_FDCWD, FileName.c_str(), times, 0) == 0;
}
