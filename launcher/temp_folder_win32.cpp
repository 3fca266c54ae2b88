// The Windows fallback for the temporary folder. GetTempPathW is not asked:
// it answers with TMP or TEMP even when they are relative (made absolute
// against the current folder), which is exactly what is refused here.
#include <windows.h>

#include <vector>

#include "fs/path_text.h"
#include "launcher/temp_folder.h"
#include "runtime/wide_text_win32.h"

namespace {

bool IsFullPath(const std::string& Folder) {
  return Folder.size() >= 3 &&
         ((Folder[1] == ':' && IsSeparator(Folder[2])) || (IsSeparator(Folder[0]) && IsSeparator(Folder[1])));
}

// An absolute environment value, or empty text.
std::string AbsoluteVariable(const wchar_t* Name) {
  const DWORD Needed = GetEnvironmentVariableW(Name, nullptr, 0);
  if (Needed == 0) return std::string();
  std::vector<wchar_t> Buffer(Needed + 1);
  const DWORD Length = GetEnvironmentVariableW(Name, Buffer.data(), static_cast<DWORD>(Buffer.size()));
  if (Length == 0 || Length >= Buffer.size()) return std::string();
  const std::string Value = WideToUtf8(Buffer.data(), Length);
  return IsFullPath(Value) ? IncludeTrailingSeparator(Value) : std::string();
}

}  // namespace

std::string PlatformTempFolder() {
  // The user's own temporary folder, where Windows itself puts it.
  std::string Folder = AbsoluteVariable(L"LOCALAPPDATA");
  if (!Folder.empty()) return Folder + "Temp\\";
  Folder = AbsoluteVariable(L"USERPROFILE");
  if (!Folder.empty()) return Folder + "AppData\\Local\\Temp\\";
  wchar_t Windows[MAX_PATH + 1];
  const UINT Length = GetSystemWindowsDirectoryW(Windows, MAX_PATH + 1);
  if (Length != 0 && Length <= MAX_PATH) return IncludeTrailingSeparator(WideToUtf8(Windows, Length)) + "Temp\\";
  return "C:\\Windows\\Temp\\";
}
