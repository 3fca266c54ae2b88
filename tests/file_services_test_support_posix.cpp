// POSIX side of the folder-service test set-up.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tests/file_services_test_support.h"

extern char** environ;

namespace qbtest {

bool GetEnv(const std::string& Name, std::string& Value) {
  const char* V = getenv(Name.c_str());
  if (V == nullptr) return false;
  Value = V;
  return true;
}

void SetEnv(const std::string& Name, const std::string& Value) { setenv(Name.c_str(), Value.c_str(), 1); }

void UnsetEnv(const std::string& Name) { unsetenv(Name.c_str()); }

bool WithEnvironment(const char* const* Entries, void (*Body)(void*), void* Context) {
  std::vector<std::vector<char>> Storage;
  std::vector<char*> Block;
  for (const char* const* E = Entries; *E != nullptr; ++E) {
    Storage.emplace_back(*E, *E + strlen(*E) + 1);
  }
  for (auto& S : Storage) Block.push_back(S.data());
  Block.push_back(nullptr);
  char** Saved = environ;
  environ = Block.data();
  Body(Context);
  environ = Saved;
  return true;
}

bool SetReadOnly(const std::string& Path, bool ReadOnly) {
  struct stat St;
  if (stat(Path.c_str(), &St) != 0) return false;
  mode_t Mode = St.st_mode & 07777;
  Mode = ReadOnly ? (Mode & ~static_cast<mode_t>(0222)) : (Mode | S_IWUSR);
  return chmod(Path.c_str(), Mode) == 0;
}

bool SetHidden(const std::string&) { return false; }
bool SetSystem(const std::string&) { return false; }

static bool MakeLink(const std::string& Target, const std::string& Link, std::string& Why) {
  if (symlink(Target.c_str(), Link.c_str()) == 0) return true;
  Why = std::string("symlink failed: ") + strerror(errno);
  return false;
}

bool MakeFolderLink(const std::string& Target, const std::string& Link, std::string& Why) {
  return MakeLink(Target, Link, Why);
}

bool MakeFileLink(const std::string& Target, const std::string& Link, std::string& Why) {
  return MakeLink(Target, Link, Why);
}

void RemoveTestLink(const std::string& Link) { unlink(Link.c_str()); }

bool SetCurrentFolder(const std::string& Path) { return chdir(Path.c_str()) == 0; }

std::string CurrentFolder() {
  char Buffer[4096];
  return getcwd(Buffer, sizeof Buffer) != nullptr ? std::string(Buffer) : std::string();
}

bool PermissionsAreIgnored() { return geteuid() == 0; }
bool IsWindowsBuild() { return false; }
bool IsWine() { return false; }

}  // namespace qbtest

#include <sys/time.h>
#include <time.h>

namespace qbtest {
bool SetModTime(const std::string& Path, int Year, int Month, int Day, int Hour, int Minute, int Second) {
  struct tm Local = {};
  Local.tm_year = Year - 1900;
  Local.tm_mon = Month - 1;
  Local.tm_mday = Day;
  Local.tm_hour = Hour;
  Local.tm_min = Minute;
  Local.tm_sec = Second;
  Local.tm_isdst = -1;
  time_t When = mktime(&Local);
  if (When == static_cast<time_t>(-1)) return false;
  struct timeval Times[2];
  Times[0].tv_sec = Times[1].tv_sec = When;
  Times[0].tv_usec = Times[1].tv_usec = 0;
  return utimes(Path.c_str(), Times) == 0;
}
}  // namespace qbtest

#include <fcntl.h>

namespace qbtest {

bool MakeDeepTree(const std::string& Root, int Levels, const std::string& Name) {
  // Relative to the folder just made, so no path is ever longer than a name.
  int Fd = open(Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int i = 0; Fd >= 0 && i < Levels; ++i) {
    if (mkdirat(Fd, Name.c_str(), 0755) != 0) {
      close(Fd);
      return false;
    }
    const int Next = openat(Fd, Name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(Fd);
    Fd = Next;
  }
  if (Fd < 0) return false;
  const int File = openat(Fd, "leaf.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  close(Fd);
  if (File < 0) return false;
  close(File);
  return true;
}

bool EntryExists(const std::string& Root, const std::string& Name) {
  struct stat Info;
  return lstat((Root + "/" + Name).c_str(), &Info) == 0;
}

}  // namespace qbtest
