// The small platform differences that the shared folder services rest on.
// Implemented in file_services_posix.cpp and file_services_win32.cpp; used
// only by file_services.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "fs/file_services.h"

// Value of the first environment entry whose name equals Name (ASCII case
// ignored), read afresh from the process environment; empty when none.
std::string EnvironmentValue(const std::string& Name);

// Matches one environment entry "NAME=VALUE" against Name: split at the
// first "=", compare the name part ignoring the case of ASCII letters; an
// empty name part never matches. Shared by both platforms' walks.
bool MatchEnvironmentEntry(const char* Entry, const std::string& Name, std::string& Value);

// True when Path (separators already normalised) needs no base folder:
// "X:\" or "\\" on Windows, a leading separator on POSIX.
bool IsAbsolutePath(const std::string& Path);

// True when the empty text before a leading separator stands for the root
// folder (POSIX), so that folder creation along "/a/b" starts below it;
// false where a leading separator has no such meaning (Windows).
bool LeadingSeparatorIsRoot();

// For a path rooted on the current drive ("\x" on Windows), the drive to
// put in front of it; false when the platform has no such paths.
bool RootedPathDrive(const std::string& Path, std::string& Drive);

// For a drive-relative path ("X:x" on Windows), the folder it is relative
// to and the path without "X:"; false when the platform has no such paths.
bool DriveRelativeBase(const std::string& Path, std::string& Base, std::string& Rest);

// Closes a search still open on Record and empties it for a new search with
// Mask: the special attributes Mask lacks become the excluded ones.
void StartSearchRecord(TSearchRecord& Record, uint32_t Mask);

// Deletes everything below the folder Path (expanded, no trailing
// separator) depth first, and Path itself unless OnlyChildren. The descent
// goes relative to folders held open, so no link is followed at any depth,
// nothing can be swapped in underneath, and the depth is not limited by the
// system's path length. A link standing at Path itself is not entered: only
// the link goes, and only when Path itself is to go. True when everything
// that was to go is gone. (folder_tree_<platform>.cpp)
bool DeleteTreeAt(const std::string& Path, bool OnlyChildren);
