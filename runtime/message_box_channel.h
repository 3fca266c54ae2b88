// The message-box channels: the program has no console, so text written to
// standard output or standard error is collected in one shared buffer of
// 1,024 characters and shown to the user in message boxes captioned "Error".
#pragma once

#include <cstddef>
#include <string>

constexpr size_t MessageBoxBufferSize = 1024;

// Shows one box: Text holds Length characters and is NUL-terminated.
using TShowMessageBox = void (*)(const char* Text, size_t Length);

// The platform's box (MessageBoxA on Windows; on POSIX the caption line and
// the text on standard error). Uses only async-signal-safe calls on POSIX.
void ShowPlatformMessageBox(const char* Text, size_t Length);

// The shared buffer. Appending allocates nothing and calls nothing but the
// show function, so a fault handler may use it.
class TMessageBoxBuffer {
 public:
  explicit constexpr TMessageBoxBuffer(TShowMessageBox Show) : FShow(Show) {}
  // Appends Text; each time the buffer holds 1,024 characters they are shown
  // and the buffer is emptied, and the rest of Text continues into it.
  void Append(const char* Text, size_t Length);
  // Shows the text held, if any, and empties the buffer.
  void ShowAndEmpty();
  size_t Fill() const { return FFill; }
  const char* Text() const { return FBuffer; }
  // Replaces the show function; null restores the platform's box.
  void SetShow(TShowMessageBox Show) { FShow = Show; }

 private:
  TShowMessageBox FShow;
  char FBuffer[MessageBoxBufferSize + 1] = {};
  size_t FFill = 0;
};

// One text channel (standard output or standard error) writing into a shared
// buffer: complete lines are appended, a line's unfinished end waits.
class TMessageBoxChannel {
 public:
  explicit TMessageBoxChannel(TMessageBoxBuffer& Shared) : FShared(Shared) {}
  void Write(const std::string& Text);
  // Appends the unfinished end of a line, if any.
  void Flush();
  // Flushes, then shows what the shared buffer holds. Later writes are
  // ignored.
  void Close();
  bool IsOpen() const { return FOpen; }
  // Opens the channel again (start-up of a program).
  void Reopen();

 private:
  TMessageBoxBuffer& FShared;
  std::string FPending;
  bool FOpen = true;
};

// The process's buffer and its two channels.
TMessageBoxBuffer& SharedMessageBoxBuffer();
TMessageBoxChannel& StdOutChannel();
TMessageBoxChannel& StdErrChannel();

// Routes every box of the process to Show instead of the platform's box
// (null restores the platform's). Meant for programs that record the boxes,
// such as tests; set it before anything is shown.
void SetMessageBoxSink(TShowMessageBox Show);
