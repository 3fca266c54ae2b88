#include "zip/read_buffer.h"

#include <algorithm>
#include <cstring>

TReadBuffer::TReadBuffer(TStream& Source, int32_t BufferSize)
    : FSource(Source), FBuffer(new unsigned char[static_cast<size_t>(BufferSize)]), FCapacity(BufferSize) {
  FPosition = FSource.Position();
  FSourcePosition = FPosition;
  FBufferStart = FPosition;
}

int32_t TReadBuffer::Read(void* Buffer, int32_t Count) {
  if (Count <= 0 || FPosition < 0) return 0;
  auto* out = static_cast<unsigned char*>(Buffer);
  int32_t done = 0;
  while (done < Count) {
    const int64_t offset = FPosition - FBufferStart;
    if (offset >= 0 && offset < FLength) {
      const int32_t n = static_cast<int32_t>(std::min<int64_t>(FLength - offset, Count - done));
      std::memcpy(out + done, FBuffer.get() + offset, static_cast<size_t>(n));
      done += n;
      FPosition += n;
      continue;
    }
    // Nothing buffered at the position: go to the source.
    if (FSourcePosition != FPosition) {
      if (FSource.Seek(FPosition, soBeginning) != FPosition) {
        FSourcePosition = -1;
        break;
      }
      FSourcePosition = FPosition;
    }
    const int32_t want = Count - done;
    if (want >= FCapacity) {
      const int32_t n = FSource.Read(out + done, want);
      if (n <= 0) break;
      FSourcePosition += n;
      FPosition += n;
      done += n;
      FLength = 0;
      FBufferStart = FPosition;
      continue;
    }
    const int32_t n = FSource.Read(FBuffer.get(), FCapacity);
    FBufferStart = FPosition;
    FLength = n > 0 ? n : 0;
    if (n <= 0) break;
    FSourcePosition += n;
  }
  return done;
}

int64_t TReadBuffer::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t target;
  switch (Origin) {
    case soBeginning:
      target = Offset;
      break;
    case soCurrent:
      target = FPosition + Offset;
      break;
    default: {
      const int64_t end = FSource.Seek(0, soEnd);
      FSourcePosition = end;
      if (end < 0) return -1;
      target = end + Offset;
      break;
    }
  }
  if (target < 0) return -1;
  FPosition = target;  // the source follows on the next read
  return FPosition;
}
