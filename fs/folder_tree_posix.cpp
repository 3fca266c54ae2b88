// Tree deletion on POSIX: openat / fstatat(AT_SYMLINK_NOFOLLOW) / unlinkat
// relative to the folder being emptied. Only one folder is held open at a
// time: going back up, the parent is reopened through ".." and must be the
// very folder (device and inode) that was left, so a tree of any depth is
// deleted with two descriptors and nothing moved in from outside is ever
// entered.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "fs/file_services_platform.h"
#include "fs/path_text.h"

namespace {

constexpr int FolderOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct TLevel {
  dev_t Device;
  ino_t Inode;
  std::vector<std::string> Names;  // what the folder held when it was entered
  size_t Next = 0;
};

bool SameEntry(const struct stat& A, dev_t Device, ino_t Inode) { return A.st_dev == Device && A.st_ino == Inode; }

// The names in the folder open as Fd (without "." and ".."); false when the
// folder cannot be read.
bool ListNames(int Fd, std::vector<std::string>& Names) {
  const int Copy = fcntl(Fd, F_DUPFD_CLOEXEC, 0);
  if (Copy < 0) return false;
  DIR* Dir = fdopendir(Copy);
  if (Dir == nullptr) {
    close(Copy);
    return false;
  }
  errno = 0;
  while (struct dirent* Entry = readdir(Dir)) {
    const std::string Name = Entry->d_name;
    if (Name != "." && Name != "..") Names.push_back(Name);
    errno = 0;
  }
  const bool Complete = errno == 0;
  closedir(Dir);
  return Complete;
}

// Removes the entry Name of the folder Fd; one that is gone already counts
// as removed.
bool RemoveEntry(int Fd, const std::string& Name, int Flags) {
  return unlinkat(Fd, Name.c_str(), Flags) == 0 || errno == ENOENT;
}

// Opens the folder Name of Parent for the descent; it must be the entry that
// fstatat described (not swapped since) and a folder, not a link.
int EnterFolder(int Parent, const std::string& Name, const struct stat& Seen) {
  const int Fd = openat(Parent, Name.c_str(), FolderOpenFlags);
  if (Fd < 0) return -1;
  struct stat Info;
  if (fstat(Fd, &Info) != 0 || !SameEntry(Info, Seen.st_dev, Seen.st_ino)) {
    close(Fd);
    return -1;
  }
  return Fd;
}

// Empties the folder open as Root (the descriptor stays the caller's),
// depth first in the order the system lists the entries. The first entry
// that cannot be deleted ends it: false, and what was not reached stays.
bool DeleteChildren(int Root) {
  struct stat Info;
  if (fstat(Root, &Info) != 0) return false;
  std::vector<TLevel> Stack;
  Stack.push_back({Info.st_dev, Info.st_ino, {}, 0});
  if (!ListNames(Root, Stack.back().Names)) return false;
  int Current = Root;
  auto Fail = [&] {
    if (Current != Root) close(Current);
    return false;
  };

  while (!Stack.empty()) {
    TLevel& Level = Stack.back();
    if (Level.Next < Level.Names.size()) {
      const std::string& Name = Level.Names[Level.Next++];
      struct stat Entry;
      if (fstatat(Current, Name.c_str(), &Entry, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;
        return Fail();
      }
      if (!S_ISDIR(Entry.st_mode)) {
        // Files, links (never followed), FIFOs, sockets, devices.
        if (!RemoveEntry(Current, Name, 0)) return Fail();
        continue;
      }
      const int Child = EnterFolder(Current, Name, Entry);
      if (Child < 0) return Fail();
      TLevel Down{Entry.st_dev, Entry.st_ino, {}, 0};
      if (!ListNames(Child, Down.Names)) {
        close(Child);
        return Fail();
      }
      if (Current != Root) close(Current);
      Current = Child;
      Stack.push_back(std::move(Down));
      continue;
    }

    // This folder is done: back to its parent, then remove it there.
    Stack.pop_back();
    if (Stack.empty()) break;
    const TLevel& Parent = Stack.back();
    const int Up = Stack.size() == 1 ? Root : openat(Current, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat UpInfo;
    if (Up < 0 || fstat(Up, &UpInfo) != 0 || !SameEntry(UpInfo, Parent.Device, Parent.Inode)) {
      // The folder was moved out of the tree while it was emptied: stop
      // rather than work on whatever ".." is now.
      if (Up >= 0 && Up != Root) close(Up);
      return Fail();
    }
    if (Current != Root) close(Current);
    Current = Up;
    if (!RemoveEntry(Current, Parent.Names[Parent.Next - 1], AT_REMOVEDIR)) return Fail();
  }
  if (Current != Root) close(Current);
  return true;
}

}  // namespace

bool DeleteTreeAt(const std::string& Path, bool OnlyChildren) {
  std::string Folder = Path;
  while (Folder.size() > 1 && IsSeparator(Folder.back())) Folder.pop_back();
  const std::string Name = ExtractNamePart(Folder);
  std::string ParentPath = ExtractFolderPart(Folder);
  if (ParentPath.empty()) ParentPath = ".";

  // Nothing to list (no folder there, or it cannot be read): there are no
  // children to delete, and no folder to remove.
  struct stat Info;
  if (lstat(Folder.c_str(), &Info) != 0) return OnlyChildren;
  if (S_ISLNK(Info.st_mode)) {
    // A link is not entered: what it points to lies outside the tree.
    return !OnlyChildren && unlink(Folder.c_str()) == 0;
  }
  const int Fd = open(Folder.c_str(), FolderOpenFlags);
  if (Fd < 0) return OnlyChildren;
  struct stat Opened;
  bool Ok = fstat(Fd, &Opened) == 0 && SameEntry(Opened, Info.st_dev, Info.st_ino) && DeleteChildren(Fd);
  close(Fd);
  if (!Ok || OnlyChildren) return Ok;
  if (Name.empty()) return false;  // the root itself
  const int Parent = open(ParentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Parent < 0) return false;
  // Only the folder that was emptied: something else moved into its place
  // since is left alone.
  struct stat Now;
  Ok = fstatat(Parent, Name.c_str(), &Now, AT_SYMLINK_NOFOLLOW) == 0 && SameEntry(Now, Info.st_dev, Info.st_ino) &&
       RemoveEntry(Parent, Name, AT_REMOVEDIR);
  close(Parent);
  return Ok;
}
