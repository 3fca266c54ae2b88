// Last-write time as a local DOS date-time on Windows.
#include <windows.h>

#include "fs/file_copy.h"
#include "fs/wide_path_win32.h"

int32_t FileDosTimeOfHandle(THandle Handle) {
  FILETIME utc, local;
  WORD date = 0, time = 0;
  if (!GetFileTime(reinterpret_cast<HANDLE>(Handle), nullptr, nullptr, &utc)) return -1;
  if (!FileTimeToLocalFileTime(&utc, &local)) return -1;
  if (!FileTimeToDosDateTime(&local, &date, &time)) return -1;
  return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}

bool SetFileDosTime(const std::string& FileName, int32_t DosTime) {
  uint32_t dos = static_cast<uint32_t>(DosTime);
  HANDLE h = CreateFileW(WidePath(FileName).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME local, utc;
  bool ok = DosDateTimeToFileTime(static_cast<WORD>(dos >> 16), static_cast<WORD>(dos & 0xFFFF), &local) &&
            LocalFileTimeToFileTime(&local, &utc) &&
            SetFileTime(h, nullptr, nullptr, &utc);
  CloseHandle(h);
  return ok;
}
