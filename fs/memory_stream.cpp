#include "fs/memory_stream.h"

#include <cstring>

int32_t TMemoryStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPos >= static_cast<int64_t>(FData.size())) return 0;
  int64_t Avail = static_cast<int64_t>(FData.size()) - FPos;
  int32_t N = Count < Avail ? Count : static_cast<int32_t>(Avail);
  std::memcpy(Buffer, FData.data() + FPos, static_cast<size_t>(N));
  FPos += N;
  return N;
}

int32_t TMemoryStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  size_t End = static_cast<size_t>(FPos) + static_cast<size_t>(Count);
  if (End > FData.size()) FData.resize(End);
  std::memcpy(FData.data() + FPos, Buffer, static_cast<size_t>(Count));
  FPos += Count;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t Base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPos : static_cast<int64_t>(FData.size());
  int64_t P = Base + Offset;
  if (P < 0) return -1;
  FPos = P;
  return FPos;
}

bool TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) return false;
  FData.resize(static_cast<size_t>(NewSize));
  if (FPos > NewSize) FPos = NewSize;
  return true;
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPos = 0;
}
