#include "runtime/message_box_channel.h"

#include <cstring>

namespace {

// How many of the Fill bytes of Text form whole UTF-8 characters: the
// bytes of a character cut at the end are left out (at most three), so
// that no box shows half a character.
size_t WholeCharacters(const char* Text, size_t Fill) {
  size_t start = Fill;
  // Walk back over continuation bytes (10xxxxxx) to the lead byte.
  while (start > 0 && Fill - start < 3 && (static_cast<unsigned char>(Text[start - 1]) & 0xC0) == 0x80) --start;
  if (start == 0) return Fill;
  const unsigned char lead = static_cast<unsigned char>(Text[start - 1]);
  size_t needed;
  if (lead < 0x80) return Fill;  // no sequence is open
  if ((lead & 0xE0) == 0xC0) needed = 2;
  else if ((lead & 0xF0) == 0xE0) needed = 3;
  else if ((lead & 0xF8) == 0xF0) needed = 4;
  else return Fill;  // not UTF-8: split where the buffer ends
  const size_t have = Fill - (start - 1);
  return have < needed ? start - 1 : Fill;
}

}  // namespace

void TMessageBoxBuffer::Append(const char* Text, size_t Length) {
  while (Length > 0) {
    size_t room = MessageBoxBufferSize - Fill_;
    size_t n = Length < room ? Length : room;
    std::memcpy(Buffer_ + Fill_, Text, n);
    Fill_ += n;
    Buffer_[Fill_] = '\0';
    Text += n;
    Length -= n;
    if (Fill_ == MessageBoxBufferSize) {
      // A character cut by the end of the buffer moves whole into the next
      // box.
      const size_t whole = WholeCharacters(Buffer_, Fill_);
      char carried[4];
      const size_t carry = Fill_ - whole;
      std::memcpy(carried, Buffer_ + whole, carry);
      Fill_ = whole;
      ShowAndEmpty();
      std::memcpy(Buffer_, carried, carry);
      Fill_ = carry;
      Buffer_[Fill_] = '\0';
    }
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
