#include "runtime/message_box_channel.h"

#include <windows.h>

#include <string>

namespace {

// The report is UTF-8 (paths of the system are); the 8-bit box shows text
// of the ANSI code page, so anything outside ASCII is converted first.
std::string ToAnsiCodePage(const char* Text, size_t Length) {
  int wide = MultiByteToWideChar(CP_UTF8, 0, Text, static_cast<int>(Length), nullptr, 0);
  if (wide <= 0) return std::string(Text, Length);
  std::wstring w(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text, static_cast<int>(Length), &w[0], wide);
  int n = WideCharToMultiByte(CP_ACP, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string(Text, Length);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.data(), wide, &out[0], n, nullptr, nullptr);
  return out;
}

bool IsAscii(const char* Text, size_t Length) {
  for (size_t i = 0; i < Length; ++i)
    if (static_cast<unsigned char>(Text[i]) >= 0x80) return false;
  return true;
}

}  // namespace

void ShowPlatformMessageBox(const char* Text, size_t Length) {
  // No owner window, caption "Error", an OK button and no icon.
  if (IsAscii(Text, Length)) {
    MessageBoxA(nullptr, Text, "Error", MB_OK);
    return;
  }
  std::string shown = ToAnsiCodePage(Text, Length);
  MessageBoxA(nullptr, shown.c_str(), "Error", MB_OK);
}
