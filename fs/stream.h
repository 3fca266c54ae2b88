// The byte stream every file, archive and buffer of the system is read and
// written through.
#pragma once

#include <cstdint>

enum TSeekOrigin : int { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;

  // Transfer up to Count bytes at the current position; the result is the
  // number of bytes transferred (0 at the end or on failure).
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  // Moves to Offset from Origin; the new position, or -1 on failure.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  // Ends the stream at NewSize; true on success.
  virtual bool SetSize(int64_t NewSize) = 0;

  // Exactly Count bytes or EReadError "Stream read error".
  void ReadBuffer(void* Buffer, int32_t Count);
  // Exactly Count bytes or EWriteError "Stream write error".
  void WriteBuffer(const void* Buffer, int32_t Count);

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
  int64_t Size();

  // Copies Count bytes from Source's current position (Count 0: the whole of
  // Source from its start) in blocks of at most 131,072 bytes; the number of
  // bytes copied. A short read or write raises as ReadBuffer/WriteBuffer do.
  int64_t CopyFrom(TStream& Source, int64_t Count);
};
