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
  auto* Out = static_cast<unsigned char*>(Buffer);
  int32_t Done = 0;
  while (Done < Count) {
    const int64_t Offset = FPosition - FBufferStart;
    if (Offset >= 0 && Offset < FLength) {
      const int32_t N = static_cast<int32_t>(std::min<int64_t>(FLength - Offset, Count - Done));
      std::memcpy(Out + Done, FBuffer.get() + Offset, static_cast<size_t>(N));
      Done += N;
      FPosition += N;
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
    const int32_t Want = Count - Done;
    if (Want >= FCapacity) {
      const int32_t N = FSource.Read(Out + Done, Want);
      if (N <= 0) break;
      FSourcePosition += N;
      FPosition += N;
      Done += N;
      FLength = 0;
      FBufferStart = FPosition;
      continue;
    }
    const int32_t N = FSource.Read(FBuffer.get(), FCapacity);
    FBufferStart = FPosition;
    FLength = N > 0 ? N : 0;
    if (N <= 0) break;
    FSourcePosition += N;
  }
  return Done;
}

int64_t TReadBuffer::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t Target;
  switch (Origin) {
    case soBeginning: Target = Offset; break;
    case soCurrent: Target = FPosition + Offset; break;
    default: {
      const int64_t End = FSource.Seek(0, soEnd);
      FSourcePosition = End;
      if (End < 0) return -1;
      Target = End + Offset;
      break;
    }
  }
  if (Target < 0) return -1;
  FPosition = Target;  // the source follows on the next read
  return FPosition;
}
