#include "launcher/temp_folder.h"

#include "fs/file_services.h"

std::string RunTempFolder() {
  std::string Folder = GetTempFolder();
  // An empty answer would put the work folder (and the tree deletions of the
  // clean-up) into the current folder, among the user's files.
  if (Folder.empty()) Folder = PlatformTempFolder();
  return Folder;
}
