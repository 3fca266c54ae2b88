// Block-by-block copy of one file to another path.
#pragma once

#include <cstdint>
#include <string>

#include "fs/file_stream.h"

// The Flags of FileCopy.
enum TCopyFlag : uint32_t {
  cfOverwriteExisting = 1,
  cfCreateDestinationFolder = 2,
  cfPreserveTime = 4,
};

// Copies Source to Destination in 4,096-byte blocks; true when the copy ran
// to its end (a read error ends it as a failure, not as the end of the
// file). With RaiseOnError, failing to open the source, create the
// destination, read or write raises EFOpenError / EFCreateError /
// EReadError / EWriteError instead of answering false.
bool FileCopy(const std::string& Source, const std::string& Destination, uint32_t Flags, bool RaiseOnError);

// Platform parts of carrying the last-write time over (file_copy_<platform>.cpp).
// The last-write time of an open file as a local DOS date-time (date in the
// high 16 bits, time in the low 16 bits), or -1 when a conversion fails.
int32_t FileDosTimeOfHandle(THandle Handle);
// Sets only the last-write time of the named file from a local DOS
// date-time; false on any failure.
bool SetFileDosTime(const std::string& FileName, int32_t DosTime);
