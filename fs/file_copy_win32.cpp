// Last-write time as a local DOS date-time on Windows.
#include <windows.h>

#include "fs/file_copy.h"
#include "fs/handle_win32.h"
#include "fs/wide_path_win32.h"

int32_t FileDosTimeOfHandle(THandle Handle) {
  FILETIME Utc, Local;
  WORD Date = 0, Time = 0;
  if (!GetFileTime(AsHandle(Handle), nullptr, nullptr, &Utc)) return -1;
  if (!FileTimeToLocalFileTime(&Utc, &Local)) return -1;
  if (!FileTimeToDosDateTime(&Local, &Date, &Time)) return -1;
  return static_cast<int32_t>((static_cast<uint32_t>(Date) << 16) | Time);
}

bool SetFileDosTime(const std::string& FileName, int32_t DosTime) {
  uint32_t Dos = static_cast<uint32_t>(DosTime);
  HANDLE H = CreateFileW(WidePath(FileName).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (H == INVALID_HANDLE_VALUE) return false;
  FILETIME Local, Utc;
  bool Ok = DosDateTimeToFileTime(static_cast<WORD>(Dos >> 16), static_cast<WORD>(Dos & 0xFFFF), &Local) &&
            LocalFileTimeToFileTime(&Local, &Utc) && SetFileTime(H, nullptr, nullptr, &Utc);
  CloseHandle(H);
  return Ok;
}
