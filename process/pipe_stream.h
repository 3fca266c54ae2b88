// Streams over the caller's ends of a child's standard handles.
#pragma once

#include <cstdint>

#include "fs/stream.h"

// The caller's end of one of the child's standard handles: a byte stream that
// reads (output, error) or writes (input) and cannot seek.
class TPipeStream : public TStream {
 public:
  explicit TPipeStream(intptr_t Handle) : Handle_(Handle) {}
  ~TPipeStream() override;
  TPipeStream(const TPipeStream&) = delete;
  TPipeStream& operator=(const TPipeStream&) = delete;

  // Read blocks until at least one byte is there; 0 once every writer has
  // closed its end. Write to a pipe whose reader is gone gives 0 (and on
  // POSIX never raises SIGPIPE).
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  // A pipe has no position: always -1.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  bool SetSize(int64_t NewSize) override;
  // Bytes that can be read right now without blocking.
  uint32_t NumBytesAvailable() const;
  intptr_t Handle() const { return Handle_; }

 private:
  intptr_t Handle_;
};
