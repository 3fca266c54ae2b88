// Pipe streams over Windows pipe handles.
#include <windows.h>

#include "process/pipe_stream.h"

namespace {
HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

TPipeStream::~TPipeStream() {
  if (Handle_ != -1 && Handle_ != 0) CloseHandle(AsHandle(Handle_));
}

int32_t TPipeStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  DWORD done = 0;
  // A closed writer ends the pipe (ERROR_BROKEN_PIPE): that reads as 0.
  if (!ReadFile(AsHandle(Handle_), Buffer, static_cast<DWORD>(Count), &done, nullptr)) return 0;
  return static_cast<int32_t>(done);
}

int32_t TPipeStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  DWORD done = 0;
  if (!WriteFile(AsHandle(Handle_), Buffer, static_cast<DWORD>(Count), &done, nullptr)) return 0;
  return static_cast<int32_t>(done);
}

int64_t TPipeStream::Seek(int64_t, TSeekOrigin) { return -1; }

bool TPipeStream::SetSize(int64_t) { return false; }

uint32_t TPipeStream::NumBytesAvailable() const {
  DWORD avail = 0;
  if (!PeekNamedPipe(AsHandle(Handle_), nullptr, 0, nullptr, &avail, nullptr)) return 0;
  return avail;
}
