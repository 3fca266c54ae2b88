// Platform-free half of the work-folder services.
#include "launcher/work_folder.h"

#include "fs/file_copy.h"
#include "fs/file_services.h"

std::string RunTempFolder() {
  std::string Folder = GetTempFolder();
  // An empty answer would put the work folder (and the tree deletions of the
  // clean-up) into the current folder, among the user's files.
  if (Folder.empty()) Folder = PlatformTempFolder();
  return Folder;
}

bool ExportFile(const std::string& Source, const std::string& Target) {
  // The temporary file sits beside Target, on the same volume, so that the
  // final rename is one atomic replacement.
  const std::string Temporary = Target + "." + ProcessTag() + ".tmp";
  if (!FileCopy(Source, Temporary, cfOverwriteExisting, false)) {
    RemoveFile(Temporary);
    return false;
  }
  if (!RenameReplace(Temporary, Target)) {
    RemoveFile(Temporary);
    return false;
  }
  return true;
}
