// The Windows box: MessageBoxW with the report turned from UTF-8 into UTF-16,
// so that a path in any script is shown as it is written. user32 is loaded
// only when a box is shown: a run that succeeds never needs it, and a
// program that does not import it starts faster.
#include <windows.h>

#include "runtime/message_box_channel.h"
#include "runtime/wide_text_win32.h"

void ShowPlatformMessageBox(const char* Text, size_t Length) {
  using TMessageBoxW = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);
  const std::wstring Shown = Utf8ToWide(std::string(Text, Length));
  // A known system library: always taken from the system folder, never from
  // the program's own.
  const HMODULE User32 = LoadLibraryW(L"user32.dll");
  if (User32 == nullptr) return;
  const auto Show = reinterpret_cast<TMessageBoxW>(reinterpret_cast<void (*)()>(GetProcAddress(User32, "MessageBoxW")));
  // No owner window, caption "Error", an OK button and no icon.
  if (Show != nullptr) Show(nullptr, Shown.c_str(), L"Error", MB_OK);
}
