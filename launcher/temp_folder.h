// Where a run works: the temporary folder of the user.
#pragma once

#include <string>

// The temporary folder for this run, ending with the path separator:
// GetTempFolder() (an absolute TEMP, else an absolute TMP), or, when that
// gives nothing, PlatformTempFolder(). Never relative, never the current
// folder.
std::string RunTempFolder();

// The platform's own temporary folder, ending with the path separator: on
// Windows the user's "AppData\Local\Temp" (from LOCALAPPDATA or
// USERPROFILE), else the system's "Temp"; on POSIX an absolute TMPDIR, else
// "/tmp".
std::string PlatformTempFolder();
