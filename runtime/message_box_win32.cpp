// The Windows box: MessageBoxW with the report turned from UTF-8 into UTF-16,
// so that a path in any script is shown as it is written.
#include <windows.h>

#include "runtime/message_box_channel.h"
#include "runtime/wide_text_win32.h"

void ShowPlatformMessageBox(const char* Text, size_t Length) {
  // No owner window, caption "Error", an OK button and no icon.
  const std::wstring Shown = Utf8ToWide(std::string(Text, Length));
  MessageBoxW(nullptr, Shown.c_str(), L"Error", MB_OK);
}
