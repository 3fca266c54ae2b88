#include <errno.h>
#include <sys/stat.h>

#include "fs/file_services.h"
#include "fs/path_text.h"
#include "fs/system_error.h"
#include "launcher/work_folder.h"
#include "runtime/exceptions.h"

bool CreatePrivateFolder(const std::string& Path, int& Error) {
  if (mkdir(ExcludeTrailingSeparator(Path).c_str(), 0700) == 0) return true;
  Error = errno;
  return false;
}

void CreateWorkFolder(const std::string& WorkDir) {
  const std::string Folder = ExcludeTrailingSeparator(WorkDir);
  const std::string Parent = ExcludeTrailingSeparator(ExtractFolderPart(Folder));
  if (!Parent.empty()) ForceFolders(Parent);
  // mkdir never follows a link standing at the path: it fails with EEXIST,
  // and the check below then refuses the link.
  int Error = 0;
  if (!CreatePrivateFolder(WorkDir, Error) && Error != EEXIST)
    throw EFCreateError(FormatText("Unable to create file \"%s\": %s", WorkDir, SystemErrorReason(Error)));
  CheckWorkFolder(WorkDir);
}
