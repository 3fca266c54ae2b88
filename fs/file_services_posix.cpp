// Folder services over POSIX calls. Paths reach the system as they are
// given; attribute words are made up from stat: folder 0x10, read-only 0x01
// when the owner may not write, hidden 0x02 for names beginning with ".",
// link 0x400 for a symbolic link.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fs/dos_time_posix.h"
#include "fs/file_services.h"
#include "fs/file_services_platform.h"
#include "fs/path_text.h"

extern char** environ;

const int NoMoreEntriesError = ENOENT;

std::string EnvironmentValue(const std::string& Name) {
  std::string Value;
  if (environ == nullptr) return Value;
  for (char** Entry = environ; *Entry != nullptr; ++Entry)
    if (MatchEnvironmentEntry(*Entry, Name, Value)) return Value;
  return std::string();
}

std::string GetCurrentFolder() {
  std::vector<char> Buffer(256);
  for (;;) {
    if (getcwd(Buffer.data(), Buffer.size()) != nullptr) return std::string(Buffer.data());
    if (errno != ERANGE || Buffer.size() > (1u << 20)) return std::string();
    Buffer.resize(Buffer.size() * 2);
  }
}

bool FileExists(const std::string& Path) {
  struct stat St;
  return stat(Path.c_str(), &St) == 0 && !S_ISDIR(St.st_mode);
}

bool FolderExists(const std::string& Path) {
  struct stat St;
  return stat(Path.c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

bool RemoveFile(const std::string& Path) {
  // unlink never removes a folder (EISDIR), like DeleteFileW.
  return unlink(Path.c_str()) == 0;
}

bool CreateFolder(const std::string& Path) { return mkdir(Path.c_str(), 0777) == 0; }

bool RemoveFolder(const std::string& Path) { return rmdir(Path.c_str()) == 0; }

bool RenameReplace(const std::string& Source, const std::string& Target) {
  if (rename(Source.c_str(), Target.c_str()) != 0) return false;
  // Make the new directory entry durable: sync the folder that holds it.
  std::string Folder = ExtractFolderPart(Target);
  if (Folder.empty()) Folder = ".";
  int Fd = open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Fd >= 0) {
    fsync(Fd);
    close(Fd);
  }
  return true;
}

void Pause(uint32_t Milliseconds) {
  struct timespec Left;
  Left.tv_sec = static_cast<time_t>(Milliseconds / 1000);
  Left.tv_nsec = static_cast<long>(Milliseconds % 1000) * 1000000L;
  while (nanosleep(&Left, &Left) != 0 && errno == EINTR) {
  }
}

bool IsAbsolutePath(const std::string& Path) { return !Path.empty() && IsSeparator(Path[0]); }

bool LeadingSeparatorIsRoot() { return true; }

bool RootedPathDrive(const std::string& /*Path*/, std::string& /*Drive*/) { return false; }

bool DriveRelativeBase(const std::string& /*Path*/, std::string& /*Base*/, std::string& /*Rest*/) { return false; }

// ---------------------------------------------------------------------------
// Enumeration: opendir/readdir, the name part of the pattern matched with
// the wildcards "*" and "?" ("*.*" matches every name, as on Windows).

namespace {
struct TPosixSearch {
  DIR* Dir = nullptr;
  std::string Folder;       // the pattern's folder part, "" for the current one
  std::string NamePattern;  // the pattern's name part
};
}  // namespace

static TPosixSearch* SearchOf(TSearchRecord& Record) { return static_cast<TPosixSearch*>(Record.RawEntry); }

// The two wildcards of a Windows pattern: "*" any run of characters, "?"
// any one character (of UTF-8 text, so all its bytes). Every other
// character, "[" included, stands for itself (fnmatch would read brackets as
// a character class).
static bool NameMatches(const std::string& Pattern, const char* Name) {
  if (Pattern == "*.*" || Pattern == "*") return true;
  size_t P = 0, N = 0, Star = std::string::npos, Resume = 0;
  const size_t Length = std::strlen(Name);
  while (N < Length) {
    if (P < Pattern.size() && Pattern[P] == '*') {
      Star = P++;
      Resume = N;
    } else if (P < Pattern.size() && Pattern[P] == '?') {
      ++P;
      ++N;
      while (N < Length && (static_cast<unsigned char>(Name[N]) & 0xC0) == 0x80) ++N;
    } else if (P < Pattern.size() && Pattern[P] == Name[N]) {
      ++P;
      ++N;
    } else if (Star != std::string::npos) {
      P = Star + 1;
      N = ++Resume;
    } else {
      return false;
    }
  }
  while (P < Pattern.size() && Pattern[P] == '*') ++P;
  return P == Pattern.size();
}

// Builds the attribute word of an entry; false when it vanished meanwhile.
static bool DescribeEntry(const std::string& Path, const std::string& Name, uint32_t& Attributes, int64_t& Size,
                          uint32_t& ModTime) {
  struct stat Own;
  if (lstat(Path.c_str(), &Own) != 0) return false;
  struct stat St = Own;
  Attributes = 0;
  if (S_ISLNK(Own.st_mode)) {
    Attributes |= faReparsePoint;
    if (stat(Path.c_str(), &St) != 0) St = Own;  // a dangling link: the link itself
  }
  if (S_ISDIR(St.st_mode)) Attributes |= faDirectory;
  if ((St.st_mode & S_IWUSR) == 0) Attributes |= faReadOnly;
  if (!Name.empty() && Name[0] == '.' && Name != "." && Name != "..") Attributes |= faHidden;
  Size = (Attributes & faDirectory) ? 0 : static_cast<int64_t>(St.st_size);

  // DOS date-time in local time; 0 outside the years 1980-2107.
  if (!ToLocalDosTime(St.st_mtime, ModTime)) ModTime = 0;
  return true;
}

// Reads entries until one matches the pattern and is not excluded.
static int FindMatchingEntry(TSearchRecord& Record) {
  TPosixSearch* Search = SearchOf(Record);
  if (Search == nullptr || Search->Dir == nullptr) return EBADF;
  for (;;) {
    errno = 0;
    struct dirent* Entry = readdir(Search->Dir);
    if (Entry == nullptr) return errno != 0 ? errno : NoMoreEntriesError;
    if (!NameMatches(Search->NamePattern, Entry->d_name)) continue;
    const std::string Name = Entry->d_name;
    uint32_t Attributes = 0, ModTime = 0;
    int64_t Size = 0;
    if (!DescribeEntry(Search->Folder + Name, Name, Attributes, Size, ModTime)) continue;
    if (Attributes & Record.ExcludedAttributes) continue;
    Record.Name = Name;
    Record.Attributes = Attributes;
    Record.Size = Size;
    Record.ModTime = ModTime;
    return 0;
  }
}

int FindFirstEntry(const std::string& Pattern, uint32_t Mask, TSearchRecord& Record) {
  StartSearchRecord(Record, Mask);

  std::string Folder = ExtractFolderPart(Pattern);
  DIR* Dir = opendir(Folder.empty() ? "." : Folder.c_str());
  if (Dir == nullptr) return errno != 0 ? errno : ENOENT;
  TPosixSearch* Search = new TPosixSearch;
  Search->Dir = Dir;
  Search->Folder = Folder;
  Search->NamePattern = ExtractNamePart(Pattern);
  Record.RawEntry = Search;
  Record.Handle = reinterpret_cast<intptr_t>(Dir);
  return FindMatchingEntry(Record);
}

int FindNextEntry(TSearchRecord& Record) { return FindMatchingEntry(Record); }

void FindEnd(TSearchRecord& Record) {
  TPosixSearch* Search = SearchOf(Record);
  if (Search != nullptr) {
    if (Search->Dir != nullptr) closedir(Search->Dir);
    delete Search;
  }
  Record.RawEntry = nullptr;
  Record.Handle = -1;
}
