// The locks on Windows: sharing modes. The gate is a file opened without
// any sharing and deleted when its handle closes (also when the process
// ends); the run lock is a file every launcher holds open with full
// sharing, tested with an open that admits nobody else.
#include <windows.h>

#include "fs/file_services.h"
#include "fs/handle_win32.h"
#include "fs/wide_path_win32.h"
#include "launcher/folder_locks.h"

namespace {

constexpr uint32_t GatePoll = 20;

}  // namespace

int TGateLock::Acquire(const std::string& LockPath, uint32_t TimeoutMilliseconds) {
  if (Held()) return 0;
  const std::wstring Name = WidePath(LockPath);
  for (uint32_t Waited = 0;;) {
    HANDLE File =
        CreateFileW(Name.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (File != INVALID_HANDLE_VALUE) {
      FHandle = AsInteger(File);
      FPath = LockPath;
      return 0;
    }
    const DWORD Error = GetLastError();
    // Held by another launcher, or being deleted by the one before.
    if (Error != ERROR_SHARING_VIOLATION && Error != ERROR_ACCESS_DENIED) return static_cast<int>(Error);
    if (Waited >= TimeoutMilliseconds) return ERROR_SHARING_VIOLATION;
    Pause(GatePoll);
    Waited += GatePoll;
  }
}

void TGateLock::Release() {
  if (!Held()) return;
  CloseHandle(AsHandle(FHandle));  // deletes the file
  FHandle = -1;
}

int TRunLock::Acquire(const std::string& WorkDir) {
  if (Held()) return 0;
  // Every running launcher opens the file with full sharing, so they all
  // hold it at once; the handle is not inheritable, so the application does
  // not keep it.
  HANDLE File = CreateFileW(WidePath(LockFileName(WorkDir)).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (File == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  FHandle = AsInteger(File);
  return 0;
}

void TRunLock::Release() {
  if (!Held()) return;
  CloseHandle(AsHandle(FHandle));
  FHandle = -1;
}

bool TRunLock::HeldByOthers(const std::string& WorkDir) {
  // An open without any sharing fails with a sharing violation while some
  // other launcher holds the file open.
  HANDLE File = CreateFileW(WidePath(LockFileName(WorkDir)).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (File == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
  CloseHandle(File);
  return false;
}
