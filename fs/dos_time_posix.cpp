#include "fs/dos_time_posix.h"

bool ToLocalDosTime(time_t When, uint32_t& DosTime) {
  struct tm Local;
  if (localtime_r(&When, &Local) == nullptr) return false;
  const int Year = Local.tm_year + 1900;
  if (Year < 1980 || Year > 2107) return false;
  const uint32_t Date = (static_cast<uint32_t>(Year - 1980) << 9) | (static_cast<uint32_t>(Local.tm_mon + 1) << 5) |
                        static_cast<uint32_t>(Local.tm_mday);
  const uint32_t Time = (static_cast<uint32_t>(Local.tm_hour) << 11) | (static_cast<uint32_t>(Local.tm_min) << 5) |
                        static_cast<uint32_t>(Local.tm_sec / 2);
  DosTime = (Date << 16) | Time;
  return true;
}

bool FromLocalDosTime(uint32_t DosTime, time_t& When) {
  const uint32_t Date = DosTime >> 16, Time = DosTime & 0xFFFF;
  const int Day = static_cast<int>(Date & 0x1F), Month = static_cast<int>((Date >> 5) & 0xF);
  const int Year = static_cast<int>(Date >> 9) + 1980;
  const int Second = static_cast<int>(Time & 0x1F) * 2, Minute = static_cast<int>((Time >> 5) & 0x3F);
  const int Hour = static_cast<int>(Time >> 11);
  if (Day < 1 || Month < 1 || Month > 12 || Hour > 23 || Minute > 59 || Second > 59) return false;
  struct tm Local = {};
  Local.tm_year = Year - 1900;
  Local.tm_mon = Month - 1;
  Local.tm_mday = Day;
  Local.tm_hour = Hour;
  Local.tm_min = Minute;
  Local.tm_sec = Second;
  Local.tm_isdst = -1;
  When = mktime(&Local);
  return When != static_cast<time_t>(-1);
}
