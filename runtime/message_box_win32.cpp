#include "runtime/message_box_channel.h"

#include <windows.h>

void ShowPlatformMessageBox(const char* Text, size_t /*Length*/) {
  // No owner window, caption "Error", an OK button and no icon.
  MessageBoxA(nullptr, Text, "Error", MB_OK);
}
