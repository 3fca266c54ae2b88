#include "fs/stream.h"

#include <algorithm>
#include <vector>

#include "runtime/exceptions.h"

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  auto* P = static_cast<unsigned char*>(Buffer);
  int32_t Done = 0;
  while (Done < Count) {
    int32_t N = Read(P + Done, Count - Done);
    if (N <= 0) throw EReadError("Stream read error");
    Done += N;
  }
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  auto* P = static_cast<const unsigned char*>(Buffer);
  int32_t Done = 0;
  while (Done < Count) {
    int32_t N = Write(P + Done, Count - Done);
    if (N <= 0) throw EWriteError("Stream write error");
    Done += N;
  }
}

int64_t TStream::Size() {
  int64_t Pos = Seek(0, soCurrent);
  int64_t End = Seek(0, soEnd);
  Seek(Pos, soBeginning);
  return End;
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  const int32_t Block = 131072;
  std::vector<unsigned char> Buf(static_cast<size_t>(std::min<int64_t>(Count, Block)));
  int64_t Left = Count;
  while (Left > 0) {
    int32_t N = static_cast<int32_t>(std::min<int64_t>(Left, Block));
    Source.ReadBuffer(Buf.data(), N);
    WriteBuffer(Buf.data(), N);
    Left -= N;
  }
  return Count;
}
