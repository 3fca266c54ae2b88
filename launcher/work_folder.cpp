#include "launcher/work_folder.h"

#include "fs/entry_status.h"
#include "fs/file_services.h"
#include "fs/path_text.h"
#include "fs/system_error.h"
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

void CreateWorkFolder(const std::string& WorkDir) {
  const std::string Parent = ExtractFolderPart(ExcludeTrailingSeparator(WorkDir));
  if (!Parent.empty()) ForceFolders(Parent);
  // The creation never follows a link standing at the path: it fails, and
  // the check below then refuses the link.
  int Error = 0;
  if (!CreatePrivateFolder(WorkDir, Error) && !EntryStatus(WorkDir).Exists)
    throw EFCreateError(FormatText("Unable to create file \"%s\": %s", WorkDir, SystemErrorReason(Error)));
  CheckWorkFolder(WorkDir);
}
