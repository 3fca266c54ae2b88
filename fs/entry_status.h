// What stands at a path, seen without following a link there: the checks
// that decide whether something under a shared temporary folder may be
// used, written over or deleted.
#pragma once

#include <string>

struct TEntryStatus {
  bool Exists = false;
  bool Folder = false;          // a real folder, not a link to one
  bool Link = false;            // a symbolic link, junction or other reparse point
  bool RegularFile = false;     // a plain file, not a link
  bool OwnedByUser = false;     // belongs to the user this process runs as
  bool OthersMayWrite = false;  // POSIX: the group or others may write
  int Error = 0;                // why it could not be examined; 0 with !Exists: nothing there
};

// The entry Path itself (a trailing separator is ignored); a link at Path is
// reported as a link and never followed. Folders along the way are followed.
TEntryStatus EntryStatus(const std::string& Path);

// True for a real folder of the current user that nobody else may write
// into: the only kind of folder under the temporary folder that is used or
// deleted.
bool IsOwnPrivateFolder(const TEntryStatus& Status);

// True when the paths A and B lead (links followed) to one and the same
// existing file or folder.
bool SameEntry(const std::string& A, const std::string& B);
