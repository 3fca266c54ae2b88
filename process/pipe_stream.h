// Streams over the caller's ends of a child's standard handles.
#pragma once

#include <cstdint>

#include "fs/file_stream.h"

// The caller's end of one of the child's standard handles: a handle stream
// that reads (output, error) or writes (input), cannot seek, and closes its
// handle when it goes.
class TPipeStream : public THandleStream {
 public:
  explicit TPipeStream(THandle Handle) : THandleStream(Handle) {}
  ~TPipeStream() override;
  TPipeStream(const TPipeStream&) = delete;
  TPipeStream& operator=(const TPipeStream&) = delete;

  // Read blocks until at least one byte is there; 0 once every writer has
  // closed its end. Write to a pipe whose reader is gone gives 0 (and on
  // POSIX never raises SIGPIPE).
  int32_t Write(const void* Buffer, int32_t Count) override;
  // A pipe has no position: always -1.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  bool SetSize(int64_t NewSize) override;
  // Bytes that can be read right now without blocking.
  uint32_t NumBytesAvailable() const;
};
