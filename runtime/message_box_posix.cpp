// POSIX has no message box of its own: a box is the caption line "Error"
// followed by the text on standard error, where a user who started the
// program from a terminal sees it. Only write(2) is used, so a fault handler
// may show a box too.
#include <unistd.h>

#include <cerrno>

#include "runtime/message_box_channel.h"

namespace {

void WriteAll(const char* Text, size_t Length) {
  while (Length > 0) {
    ssize_t N = write(2, Text, Length);
    if (N < 0) {
      if (errno == EINTR) continue;
      return;
    }
    Text += N;
    Length -= static_cast<size_t>(N);
  }
}

}  // namespace

void ShowPlatformMessageBox(const char* Text, size_t Length) {
  static const char Caption[] = "Error\n";
  WriteAll(Caption, sizeof(Caption) - 1);
  WriteAll(Text, Length);
  // A box that ends inside a line is closed with a line feed, so that the
  // next caption starts a line of its own.
  if (Length == 0 || Text[Length - 1] != '\n') WriteAll("\n", 1);
}
