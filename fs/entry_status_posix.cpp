// Entry status on POSIX: lstat, the owner against the effective user.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/entry_status.h"
#include "fs/path_text.h"

TEntryStatus EntryStatus(const std::string& Path) {
  TEntryStatus Status;
  std::string Entry = Path;
  while (Entry.size() > 1 && IsSeparator(Entry.back())) Entry.pop_back();
  struct stat Info;
  if (lstat(Entry.c_str(), &Info) != 0) {
    Status.Error = (errno == ENOENT || errno == ENOTDIR) ? 0 : errno;
    return Status;
  }
  Status.Exists = true;
  Status.Link = S_ISLNK(Info.st_mode);
  Status.Folder = S_ISDIR(Info.st_mode);
  Status.RegularFile = S_ISREG(Info.st_mode);
  Status.OwnedByUser = Info.st_uid == geteuid();
  Status.OthersMayWrite = (Info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  return Status;
}

bool IsOwnPrivateFolder(const TEntryStatus& Status) {
  return Status.Exists && Status.Folder && !Status.Link && Status.OwnedByUser && !Status.OthersMayWrite;
}

bool SameEntry(const std::string& A, const std::string& B) {
  struct stat First, Second;
  return stat(A.c_str(), &First) == 0 && stat(B.c_str(), &Second) == 0 && First.st_dev == Second.st_dev &&
         First.st_ino == Second.st_ino;
}
