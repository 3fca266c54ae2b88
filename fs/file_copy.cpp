// FileCopy: checks, three attempts at the source, a plain 4,096-byte block
// loop, and the optional carry-over of the last-write time.
#include "fs/file_copy.h"

#include "fs/checked_io.h"
#include "fs/file_services.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"

namespace {

constexpr int OpenAttempts = 3;
constexpr uint32_t AttemptPauseMs = 10;
constexpr int32_t CopyBlock = 4096;
// Read, deny others writing: the source admits readers only.
constexpr uint16_t SourceMode = fmOpenRead | fmShareDenyWrite;
// Create, exclusive: the destination admits no other opener.
constexpr uint16_t DestinationMode = fmCreate | fmShareExclusive;

}  // namespace

bool FileCopy(const std::string& Source, const std::string& Destination, uint32_t Flags, bool RaiseOnError) {
  if (!(Flags & cfOverwriteExisting) && FileExists(Destination)) return false;
  if (Flags & cfCreateDestinationFolder) {
    std::string Folder = ExtractFolderPart(Destination);
    if (!FolderExists(Folder) && !ForceFolders(Folder)) return false;
  }

  THandle In = InvalidHandle;
  for (int Attempt = 0; Attempt < OpenAttempts; ++Attempt) {
    In = FileOpenHandle(Source, SourceMode);
    if (In != InvalidHandle) break;
    Pause(AttemptPauseMs);
  }
  if (In == InvalidHandle) {
    if (RaiseOnError) throw EFOpenError(FormatText("Unable to open file \"%s\"", Source));
    return false;
  }
  THandleCloser InCloser(In);

  THandle Out = FileOpenHandle(Destination, DestinationMode);
  if (Out == InvalidHandle) {
    if (RaiseOnError) throw EFCreateError(FormatText("Unable to create file \"%s\"", Destination));
    return false;
  }
  THandleCloser OutCloser(Out);

  // A failed read is a failure, never the end of the file: a copy cut
  // short by a read error must not pass for a whole one.
  unsigned char Block[CopyBlock];
  for (;;) {
    int32_t Got = 0;
    if (ReadSome(In, Block, CopyBlock, Got) != 0) {
      if (RaiseOnError) throw EReadError(FormatText("Unable to read from file \"%s\"", Source));
      return false;
    }
    if (Got == 0) break;
    if (WriteAll(Out, Block, Got) != 0) {
      if (RaiseOnError) throw EWriteError(FormatText("Unable to write to file \"%s\"", Destination));
      return false;
    }
  }
  OutCloser.Close();

  if (Flags & cfPreserveTime) {
    // Goes through the DOS date-time, as the time stored in archives does:
    // whole seconds rounded down to an even number, via local time. A time
    // that cannot be carried over is not reported.
    int32_t DosTime = FileDosTimeOfHandle(In);
    if (DosTime != -1) SetFileDosTime(Destination, DosTime);
  }
  return true;
}
