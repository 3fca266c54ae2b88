// The file stream's life: open or create through the shared open-mode
// mapping, close on destruction.
#include "fs/file_stream.h"

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
