// Windows half of the work-folder services: the temporary folder from
// GetTempPathW, the run lock as a shared-open file tested with an exclusive
// open.
#include <windows.h>

#include "fs/file_services.h"
#include "fs/path_text.h"
#include "fs/wide_text_win32.h"
#include "launcher/work_folder.h"

std::string PlatformTempFolder() {
  wchar_t Buffer[MAX_PATH + 2];
  DWORD Length = GetTempPathW(MAX_PATH + 1, Buffer);
  if (Length == 0 || Length > MAX_PATH + 1) return "C:\\Windows\\Temp\\";
  return IncludeTrailingSeparator(WideToUtf8(Buffer, Length));
}

// The temporary folder is the user's own on Windows: no other user can
// place anything at the work folder's path.
void CheckWorkFolder(const std::string&) {}

void CreateWorkFolder(const std::string& WorkDir) { ForceFolders(WorkDir); }

void TRunLock::Acquire(const std::string& WorkDir) {
  if (Handle != -1) return;
  // Every running launcher opens the file with full sharing, so they all
  // hold it at once; the handle is not inheritable, so the application does
  // not keep it.
  HANDLE File = CreateFileW(Utf8ToWide(LockFileName(WorkDir)).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return;
  Handle = reinterpret_cast<intptr_t>(File);
}

void TRunLock::Release() {
  if (Handle == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(Handle));
  Handle = -1;
}

bool TRunLock::HeldByOthers(const std::string& WorkDir) {
  // An open without any sharing fails with a sharing violation while some
  // other launcher holds the file open.
  HANDLE File = CreateFileW(Utf8ToWide(LockFileName(WorkDir)).c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(File);
  return false;
}

std::string ProcessTag() { return std::to_string(static_cast<unsigned long>(GetCurrentProcessId())); }
