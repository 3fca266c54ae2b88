#include "fs/memory_stream.h"

#include <cstring>

int32_t TMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || Pos_ >= static_cast<int64_t>(Data_.size())) return 0;
  int64_t avail = static_cast<int64_t>(Data_.size()) - Pos_;
  int32_t n = Count < avail ? Count : static_cast<int32_t>(avail);
  std::memcpy(Buffer, Data_.data() + Pos_, static_cast<size_t>(n));
  Pos_ += n;
  return n;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  size_t end = static_cast<size_t>(Pos_) + static_cast<size_t>(Count);
  if (end > Data_.size()) Data_.resize(end);
  std::memcpy(Data_.data() + Pos_, Buffer, static_cast<size_t>(Count));
  Pos_ += Count;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = Origin == soBeginning ? 0
               : Origin == soCurrent   ? Pos_
                                       : static_cast<int64_t>(Data_.size());
  int64_t p = base + Offset;
  if (p < 0) return -1;
  Pos_ = p;
  return Pos_;
}

bool TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) return false;
  Data_.resize(static_cast<size_t>(NewSize));
  if (Pos_ > NewSize) Pos_ = NewSize;
  return true;
}

void TMemoryStream::Clear() {
  Data_.clear();
  Data_.shrink_to_fit();
  Pos_ = 0;
}
