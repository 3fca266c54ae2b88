// A read-only view of a stream through one fixed buffer: the archive reader
// takes many small records (46-byte directory records, names, 30-byte local
// headers) and 16 KiB inflater reads, and this turns them into few large
// reads of the file underneath. Large reads bypass the buffer.
#pragma once

#include <cstdint>
#include <memory>

#include "fs/stream.h"

class TReadBuffer : public TStream {
 public:
  // Source is not owned and must outlive the view; reads start at its
  // current position.
  TReadBuffer(TStream& Source, int32_t BufferSize = 65536);
  TReadBuffer(const TReadBuffer&) = delete;
  TReadBuffer& operator=(const TReadBuffer&) = delete;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  bool SetSize(int64_t) override { return false; }

 private:
  TStream& FSource;
  std::unique_ptr<unsigned char[]> FBuffer;
  int32_t FCapacity;
  int64_t FBufferStart = 0;      // source position of FBuffer[0]
  int32_t FLength = 0;           // valid bytes in FBuffer
  int64_t FPosition = 0;         // the view's position
  int64_t FSourcePosition = -1;  // where the source stands, -1 when unknown
};
