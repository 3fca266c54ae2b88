// The work folder's safety: what may stand at its path, and how it is made.
// Platform halves in work_folder_posix.cpp / work_folder_win32.cpp.
#pragma once

#include <string>

// Checks what stands at the work folder's path: nothing, or a real folder
// (no link, no file) of the current user that nobody else may write into.
// Raises EInOutError "Unsafe work folder "%s"" otherwise.
void CheckWorkFolder(const std::string& WorkDir);

// Creates the folder Path (ending with a separator), private to the
// current user like the work folder, when nothing stands there yet. False
// with the system's error code when it cannot; an existing entry is no
// success.
bool CreatePrivateFolder(const std::string& Path, int& Error);

// Creates the work folder, private to the current user (mode 700 on POSIX;
// on Windows an access list that admits the user and the system only),
// together with any missing parents, and checks it as CheckWorkFolder does.
// A folder that cannot be made raises EFCreateError "Unable to create file
// "%s"" with the reason.
void CreateWorkFolder(const std::string& WorkDir);
