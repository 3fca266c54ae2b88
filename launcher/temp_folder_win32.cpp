#include <windows.h>

#include <vector>

#include "fs/path_text.h"
#include "launcher/temp_folder.h"
#include "runtime/wide_text_win32.h"

std::string PlatformTempFolder() {
  DWORD Needed = GetTempPathW(0, nullptr);
  if (Needed != 0) {
    std::vector<wchar_t> Buffer(Needed + 1);
    const DWORD Length = GetTempPathW(static_cast<DWORD>(Buffer.size()), Buffer.data());
    if (Length != 0 && Length < Buffer.size()) {
      const std::string Folder = WideToUtf8(Buffer.data(), Length);
      // Only a full path: "X:\..." or "\\server\share\...".
      if (Folder.size() >= 3 && ((Folder[1] == ':' && IsSeparator(Folder[2])) ||
                                 (IsSeparator(Folder[0]) && IsSeparator(Folder[1]))))
        return IncludeTrailingSeparator(Folder);
    }
  }
  return "C:\\Windows\\Temp\\";
}
