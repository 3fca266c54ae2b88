// The file stream's life: open or create through the shared open-mode
// mapping, close on destruction; the handle stream's reads and flushes.
#include "fs/file_stream.h"

#include "fs/checked_io.h"
#include "runtime/exceptions.h"

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode, uint32_t Rights)
    : THandleStream(InvalidHandle), FileName(FileName) {
  Handle = FileOpenHandle(FileName, Mode, Rights);
  if (Handle == InvalidHandle) {
    // Only the plain create mode reports a create failure; a create mode
    // with sharing bits (0xFF20, ...) reports the open failure.
    if (Mode == fmCreate) throw EFCreateError(FormatText("Unable to create file \"%s\"", FileName));
    throw EFOpenError(FormatText("Unable to open file \"%s\"", FileName));
  }
}

TFileStream::~TFileStream() {
  if (Handle != InvalidHandle) FileCloseHandle(Handle);
}

// A failed read gives 0 like the end of the file, as every stream does; the
// copies that must tell the two apart call ReadSome themselves.
int32_t THandleStream::Read(void* Buffer, int32_t Count) {
  int32_t Got = 0;
  return Count > 0 && ReadSome(Handle, Buffer, Count, Got) == 0 ? Got : 0;
}

bool THandleStream::FlushToDisk() { return FlushToStorage(Handle) == 0; }
