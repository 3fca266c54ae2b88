// Unbuffered byte streams over open files, and the open-mode word.
#pragma once

#include <cstdint>
#include <string>

#include "fs/stream.h"

// Open mode: access in bits 0-1, sharing in bits 4-7, 0xFF00 to create.
enum TFileMode : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

// The platform's file handle, widened to one integer type (-1: none).
using THandle = intptr_t;
inline constexpr THandle InvalidHandle = -1;

class THandleStream : public TStream {
 public:
  explicit THandleStream(THandle Handle) : Handle(Handle) {}
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  bool SetSize(int64_t NewSize) override;
  // Forces the written bytes out to the storage device (fsync /
  // FlushFileBuffers); true on success.
  bool FlushToDisk();

  THandle Handle;
};

class TFileStream : public THandleStream {
 public:
  // Raises EFCreateError "Unable to create file "%s"" for Mode 0xFF00 and
  // EFOpenError "Unable to open file "%s"" for every other Mode.
  TFileStream(const std::string& FileName, uint16_t Mode, uint32_t Rights = 0666);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  const std::string FileName;
};

// Opens or creates a file by the open-mode mapping and gives the handle, or
// InvalidHandle; shared by TFileStream and FileCopy. Modes below 0x100 open
// an existing file; any other mode creates (or empties) it. Access 3 and
// sharing values above 4 are refused (InvalidHandle).
THandle FileOpenHandle(const std::string& FileName, uint16_t Mode, uint32_t Rights = 0666);
void FileCloseHandle(THandle Handle);

// Closes a handle when the scope that owns it is left, on every path.
class THandleCloser {
 public:
  explicit THandleCloser(THandle Handle) : Handle(Handle) {}
  ~THandleCloser() { Close(); }
  THandleCloser(const THandleCloser&) = delete;
  THandleCloser& operator=(const THandleCloser&) = delete;
  void Close() {
    if (Handle != InvalidHandle) FileCloseHandle(Handle);
    Handle = InvalidHandle;
  }

  THandle Handle;
};
