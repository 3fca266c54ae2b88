// The private folder on POSIX: mode 700.
#include <errno.h>
#include <sys/stat.h>

#include "fs/path_text.h"
#include "launcher/work_folder.h"

int CreatePrivateFolder(const std::string& Path) {
  return mkdir(ExcludeTrailingSeparator(Path).c_str(), 0700) == 0 ? 0 : errno;
}
