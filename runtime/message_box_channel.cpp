#include "runtime/message_box_channel.h"

#include <cstring>

void TMessageBoxBuffer::Append(const char* Text, size_t Length) {
  while (Length > 0) {
    size_t room = MessageBoxBufferSize - Fill_;
    size_t n = Length < room ? Length : room;
    std::memcpy(Buffer_ + Fill_, Text, n);
    Fill_ += n;
    Buffer_[Fill_] = '\0';
    Text += n;
    Length -= n;
    if (Fill_ == MessageBoxBufferSize) ShowAndEmpty();
  }
}

void TMessageBoxBuffer::ShowAndEmpty() {
  if (Fill_ == 0) return;
  Buffer_[Fill_] = '\0';
  // Empty the buffer first: a show function that writes again (or a fault
  // inside it) must not see this text a second time.
  size_t length = Fill_;
  char text[MessageBoxBufferSize + 1];
  std::memcpy(text, Buffer_, length + 1);
  Fill_ = 0;
  Buffer_[0] = '\0';
  (Show_ != nullptr ? Show_ : ShowPlatformMessageBox)(text, length);
}

void TMessageBoxChannel::Write(const std::string& Text) {
  if (!Open_) return;
  size_t start = 0;
  for (;;) {
    size_t end = Text.find('\n', start);
    if (end == std::string::npos) break;
    Pending_.append(Text, start, end + 1 - start);
    Shared_.Append(Pending_.data(), Pending_.size());
    Pending_.clear();
    start = end + 1;
  }
  Pending_.append(Text, start, std::string::npos);
}

void TMessageBoxChannel::Flush() {
  if (Pending_.empty()) return;
  Shared_.Append(Pending_.data(), Pending_.size());
  Pending_.clear();
}

void TMessageBoxChannel::Close() {
  if (!Open_) return;
  Flush();
  Shared_.ShowAndEmpty();
  Open_ = false;
}

void TMessageBoxChannel::Reopen() {
  Pending_.clear();
  Open_ = true;
}

namespace {

// Constant-initialised, so that it is usable before any constructor has run
// and from a fault handler.
TMessageBoxBuffer SharedBuffer(nullptr);

}  // namespace

TMessageBoxBuffer& SharedMessageBoxBuffer() { return SharedBuffer; }

TMessageBoxChannel& StdOutChannel() {
  static TMessageBoxChannel Channel(SharedBuffer);
  return Channel;
}

TMessageBoxChannel& StdErrChannel() {
  static TMessageBoxChannel Channel(SharedBuffer);
  return Channel;
}

void SetMessageBoxSink(TShowMessageBox Show) { SharedBuffer.SetShow(Show); }
