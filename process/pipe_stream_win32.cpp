// Pipe streams over Windows pipe handles: a closed writer ends a read
// (ERROR_BROKEN_PIPE reads as 0), as the handle stream's reads do.
#include <windows.h>

#include "fs/handle_win32.h"
#include "process/pipe_stream.h"

int32_t TPipeStream::Write(const void* Buffer, int32_t Count) { return THandleStream::Write(Buffer, Count); }

uint32_t TPipeStream::NumBytesAvailable() const {
  DWORD Available = 0;
  if (!PeekNamedPipe(AsHandle(Handle), nullptr, 0, nullptr, &Available, nullptr)) return 0;
  return Available;
}
