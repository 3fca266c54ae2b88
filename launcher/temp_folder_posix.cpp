#include <stdlib.h>

#include "fs/path_text.h"
#include "launcher/temp_folder.h"

std::string PlatformTempFolder() {
  // Only an absolute TMPDIR: a relative one ("." among them) would put the
  // work folder, and the clean-up's tree deletions, into the current folder.
  const char* Value = getenv("TMPDIR");
  if (Value != nullptr && Value[0] == '/') return IncludeTrailingSeparator(Value);
  return "/tmp/";
}
