// FileCopy: checks, three attempts at the source, a plain 4,096-byte block
// loop, and the optional carry-over of the last-write time.
#include "fs/file_copy.h"

#include "fs/checked_io.h"
#include "fs/file_services.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"

namespace {

constexpr int kOpenAttempts = 3;
constexpr uint32_t kAttemptPauseMs = 10;
constexpr int32_t kCopyBlock = 4096;
// Read, deny others writing: the source admits readers only.
constexpr uint16_t kSourceMode = fmOpenRead | fmShareDenyWrite;
// Create, exclusive: the destination admits no other opener.
constexpr uint16_t kDestinationMode = fmCreate | fmShareExclusive;

}  // namespace

bool FileCopy(const std::string& Source, const std::string& Destination,
              uint32_t Flags, bool RaiseOnError) {
  if (!(Flags & cfOverwriteExisting) && FileExists(Destination)) return false;
  if (Flags & cfCreateDestinationFolder) {
    std::string folder = ExtractFolderPart(Destination);
    if (!FolderExists(folder) && !ForceFolders(folder)) return false;
  }

  THandle source = InvalidHandle;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    source = FileOpenHandle(Source, kSourceMode);
    if (source != InvalidHandle) break;
    Pause(kAttemptPauseMs);
  }
  if (source == InvalidHandle) {
    if (RaiseOnError) throw EFOpenError(FormatText("Unable to open file \"%s\"", Source));
    return false;
  }
  THandleCloser sourceCloser(source);

  THandle destination = FileOpenHandle(Destination, kDestinationMode);
  if (destination == InvalidHandle) {
    if (RaiseOnError) throw EFCreateError(FormatText("Unable to create file \"%s\"", Destination));
    return false;
  }
  THandleCloser destinationCloser(destination);

  // A failed read is a failure, never the end of the file: a copy cut
  // short by a read error must not pass for a whole one.
  unsigned char block[kCopyBlock];
  for (;;) {
    int32_t got = 0;
    if (ReadSome(source, block, kCopyBlock, got) != 0) {
      if (RaiseOnError)
        throw EReadError(FormatText("Unable to read from file \"%s\"", Source));
      return false;
    }
    if (got == 0) break;
    if (WriteAll(destination, block, got) != 0) {
      if (RaiseOnError)
        throw EWriteError(FormatText("Unable to write to file \"%s\"", Destination));
      return false;
    }
  }
  destinationCloser.Close();

  if (Flags & cfPreserveTime) {
    // Goes through the DOS date-time, as the time stored in archives does:
    // whole seconds rounded down to an even number, via local time. A time
    // that cannot be carried over is not reported.
    int32_t dosTime = FileDosTimeOfHandle(source);
    if (dosTime != -1) SetFileDosTime(Destination, dosTime);
  }
  return true;
}
