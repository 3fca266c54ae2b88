#include "runtime/message_box_channel.h"

#include <cstring>

namespace {

// How many of the Fill bytes of Text form whole UTF-8 characters: the
// bytes of a character cut at the end are left out (at most three), so
// that no box shows half a character.
size_t WholeCharacters(const char* Text, size_t Fill) {
  size_t Start = Fill;
  // Walk back over continuation bytes (10xxxxxx) to the lead byte.
  while (Start > 0 && Fill - Start < 3 && (static_cast<unsigned char>(Text[Start - 1]) & 0xC0) == 0x80) --Start;
  if (Start == 0) return Fill;
  const unsigned char Lead = static_cast<unsigned char>(Text[Start - 1]);
  size_t Needed;
  if (Lead < 0x80) return Fill;  // no sequence is open
  if ((Lead & 0xE0) == 0xC0)
    Needed = 2;
  else if ((Lead & 0xF0) == 0xE0)
    Needed = 3;
  else if ((Lead & 0xF8) == 0xF0)
    Needed = 4;
  else
    return Fill;  // not UTF-8: split where the buffer ends
  const size_t Have = Fill - (Start - 1);
  return Have < Needed ? Start - 1 : Fill;
}

}  // namespace

void TMessageBoxBuffer::Append(const char* Text, size_t Length) {
  while (Length > 0) {
    size_t Room = MessageBoxBufferSize - FFill;
    size_t N = Length < Room ? Length : Room;
    std::memcpy(FBuffer + FFill, Text, N);
    FFill += N;
    FBuffer[FFill] = '\0';
    Text += N;
    Length -= N;
    if (FFill == MessageBoxBufferSize) {
      // A character cut by the end of the buffer moves whole into the next
      // box.
      const size_t Whole = WholeCharacters(FBuffer, FFill);
      char Carried[4];
      const size_t Carry = FFill - Whole;
      std::memcpy(Carried, FBuffer + Whole, Carry);
      FFill = Whole;
      ShowAndEmpty();
      std::memcpy(FBuffer, Carried, Carry);
      FFill = Carry;
      FBuffer[FFill] = '\0';
    }
  }
}

void TMessageBoxBuffer::ShowAndEmpty() {
  if (FFill == 0) return;
  FBuffer[FFill] = '\0';
  // Empty the buffer first: a show function that writes again (or a fault
  // inside it) must not see this text a second time.
  size_t Length = FFill;
  char Text[MessageBoxBufferSize + 1];
  std::memcpy(Text, FBuffer, Length + 1);
  FFill = 0;
  FBuffer[0] = '\0';
  (FShow != nullptr ? FShow : ShowPlatformMessageBox)(Text, Length);
}

void TMessageBoxChannel::Write(const std::string& Text) {
  if (!FOpen) return;
  size_t Start = 0;
  for (;;) {
    size_t End = Text.find('\n', Start);
    if (End == std::string::npos) break;
    FPending.append(Text, Start, End + 1 - Start);
    FShared.Append(FPending.data(), FPending.size());
    FPending.clear();
    Start = End + 1;
  }
  FPending.append(Text, Start, std::string::npos);
}

void TMessageBoxChannel::Flush() {
  if (FPending.empty()) return;
  FShared.Append(FPending.data(), FPending.size());
  FPending.clear();
}

void TMessageBoxChannel::Close() {
  if (!FOpen) return;
  Flush();
  FShared.ShowAndEmpty();
  FOpen = false;
}

void TMessageBoxChannel::Reopen() {
  FPending.clear();
  FOpen = true;
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
