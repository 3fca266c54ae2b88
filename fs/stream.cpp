#include "fs/stream.h"

#include <algorithm>
#include <vector>

#include "runtime/exceptions.h"

void TStream::ReadBuffer(void* Buffer, int32_t Count) {
  auto* p = static_cast<unsigned char*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    int32_t n = Read(p + done, Count - done);
    if (n <= 0) throw EReadError("Stream read error");
    done += n;
  }
}

void TStream::WriteBuffer(const void* Buffer, int32_t Count) {
  auto* p = static_cast<const unsigned char*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    int32_t n = Write(p + done, Count - done);
    if (n <= 0) throw EWriteError("Stream write error");
    done += n;
  }
}

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t end = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return end;
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  const int32_t kBlock = 131072;
  std::vector<unsigned char> buf(static_cast<size_t>(std::min<int64_t>(Count, kBlock)));
  int64_t left = Count;
  while (left > 0) {
    int32_t n = static_cast<int32_t>(std::min<int64_t>(left, kBlock));
    Source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return Count;
}
