#include "launcher/work_folder.h"

#include "fs/entry_status.h"
#include "runtime/exceptions.h"

namespace {

// The error code carried by the unsafe-work-folder failure (access denied).
constexpr int UnsafeFolderCode = 13;

}  // namespace

void CheckWorkFolder(const std::string& WorkDir) {
  const TEntryStatus Status = EntryStatus(WorkDir);
  if (!Status.Exists && Status.Error == 0) return;  // nothing there yet
  if (!IsOwnPrivateFolder(Status))
    throw EInOutError(FormatText("Unsafe work folder \"%s\"", WorkDir), UnsafeFolderCode);
}
