// Error codes on Windows: GetLastError values.
#include <windows.h>

#include "fs/system_error.h"
#include "runtime/wide_text_win32.h"

const int AccessDeniedError = ERROR_ACCESS_DENIED;
const int InUseError = ERROR_SHARING_VIOLATION;
const int InterruptedError = ERROR_OPERATION_ABORTED;

int LastSystemError() { return static_cast<int>(GetLastError()); }

bool IsSharingViolation(int Code) {
  return Code == ERROR_SHARING_VIOLATION || Code == ERROR_LOCK_VIOLATION || Code == ERROR_USER_MAPPED_FILE;
}

std::string PlatformErrorReason(int Code) {
  switch (Code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE: return "in use by another program";
    case ERROR_ACCESS_DENIED: return "permission denied";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "no space left";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return "not found";
    case ERROR_WRITE_PROTECT: return "write-protected medium";
    case ERROR_FILENAME_EXCED_RANGE: return "name too long";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "already exists";
    case ERROR_DIRECTORY: return "a folder";
    case ERROR_CRC:
    case ERROR_READ_FAULT: return "read error on the medium";
    case ERROR_TOO_MANY_OPEN_FILES: return "too many open files";
    default: break;
  }
  wchar_t* Text = nullptr;
  DWORD Length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, static_cast<DWORD>(Code), 0, reinterpret_cast<wchar_t*>(&Text), 0, nullptr);
  std::string Reason;
  if (Length != 0 && Text != nullptr) {
    // The system's text ends with a full stop and a line break.
    while (Length > 0 && (Text[Length - 1] == L'\r' || Text[Length - 1] == L'\n' || Text[Length - 1] == L' ' ||
                          Text[Length - 1] == L'.'))
      --Length;
    Reason = WideToUtf8(Text, Length);
  }
  if (Text != nullptr) LocalFree(Text);
  if (Reason.empty()) Reason = "system error";
  return Reason + " (error " + std::to_string(Code) + ")";
}
