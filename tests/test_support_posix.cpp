// POSIX half of the test-support kit.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest-spi.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "tests/test_support.h"

extern char** environ;

namespace qbtest {

// ---- environment ----

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
  for (const char* const* E = Entries; *E != nullptr; ++E) Storage.emplace_back(*E, *E + strlen(*E) + 1);
  for (auto& S : Storage) Block.push_back(S.data());
  Block.push_back(nullptr);
  char** Saved = environ;
  environ = Block.data();
  Body(Context);
  environ = Saved;
  return true;
}

// ---- links ----

static bool MakeLink(const std::string& Target, const std::string& Link, std::string& Why) {
  if (symlink(Target.c_str(), Link.c_str()) == 0) {
    RememberTestLink(Link);
    return true;
  }
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

void RemoveTree(const fsys::path& Root) {
  std::error_code Ignored;
  fsys::remove_all(Root, Ignored);
}

// ---- files held by another program ----

intptr_t HoldFile(const std::string& Path) {
  const int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return -1;
  if (flock(Fd, LOCK_EX) != 0) {
    close(Fd);
    return -1;
  }
  return Fd;
}

void ReleaseFile(intptr_t Held) {
  if (Held >= 0) close(static_cast<int>(Held));
}

// ---- attributes, times and the current folder ----

bool SetReadOnly(const std::string& Path, bool ReadOnly) {
  struct stat St;
  if (stat(Path.c_str(), &St) != 0) return false;
  mode_t Mode = St.st_mode & 07777;
  Mode = ReadOnly ? (Mode & ~static_cast<mode_t>(0222)) : (Mode | S_IWUSR);
  return chmod(Path.c_str(), Mode) == 0;
}

bool SetHidden(const std::string&) { return false; }
bool SetSystem(const std::string&) { return false; }

bool SetModTime(const std::string& Path, const TLocalTime& Time) {
  struct tm Local = {};
  Local.tm_year = Time.Year - 1900;
  Local.tm_mon = Time.Month - 1;
  Local.tm_mday = Time.Day;
  Local.tm_hour = Time.Hour;
  Local.tm_min = Time.Minute;
  Local.tm_sec = Time.Second;
  Local.tm_isdst = -1;
  const time_t When = mktime(&Local);
  if (When == static_cast<time_t>(-1)) return false;
  struct timeval Times[2];
  Times[0].tv_sec = Times[1].tv_sec = When;
  Times[0].tv_usec = Times[1].tv_usec = 0;
  return utimes(Path.c_str(), Times) == 0;
}

bool ModTimeOf(const std::string& Path, TLocalTime& Time) {
  struct stat St;
  if (stat(Path.c_str(), &St) != 0) return false;
  struct tm Local;
  const time_t When = St.st_mtime;
  if (localtime_r(&When, &Local) == nullptr) return false;
  Time = {Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Local.tm_hour, Local.tm_min, Local.tm_sec};
  return true;
}

bool SetCurrentFolder(const std::string& Path) { return chdir(Path.c_str()) == 0; }

std::string CurrentFolder() {
  char Buffer[4096];
  return getcwd(Buffer, sizeof Buffer) != nullptr ? std::string(Buffer) : std::string();
}

bool MakeDeepTree(const std::string& Root, int Levels, const std::string& Name) {
  // Relative to the folder just made, so no path is ever longer than a name.
  int Fd = open(Root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (int I = 0; Fd >= 0 && I < Levels; ++I) {
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

// ---- the platform ----

bool IsWindowsBuild() { return false; }
bool IsWine() { return false; }
bool PermissionBitsApply() { return true; }
bool PermissionsAreIgnored() { return geteuid() == 0; }

// ---- users ----

bool TestUser(const std::string& Name, uint32_t& Uid, uint32_t& Gid, std::string& Why) {
  if (geteuid() != 0) {
    Why = "needs root to act as another user";
    return false;
  }
  if (getpwnam(Name.c_str()) == nullptr) {
    const std::string Command =
        "useradd --system --no-create-home --shell /usr/sbin/nologin " + Name + " >/dev/null 2>&1";
    // Several tests may ask at once: one of them makes the user.
    if (system(Command.c_str()) != 0 && getpwnam(Name.c_str()) == nullptr) {
      Why = "cannot create the user " + Name;
      return false;
    }
  }
  const struct passwd* Entry = getpwnam(Name.c_str());
  if (Entry == nullptr) {
    Why = "no user " + Name;
    return false;
  }
  Uid = Entry->pw_uid;
  Gid = Entry->pw_gid;
  return true;
}

bool GiveTree(const std::string& Path, const std::string& Name) {
  const struct passwd* Entry = getpwnam(Name.c_str());
  if (Entry == nullptr) return false;
  if (lchown(Path.c_str(), Entry->pw_uid, Entry->pw_gid) != 0) return false;
  std::error_code Error;
  for (auto It = fsys::recursive_directory_iterator(Path, Error); !Error && It != fsys::recursive_directory_iterator();
       It.increment(Error))
    if (lchown(It->path().c_str(), Entry->pw_uid, Entry->pw_gid) != 0) return false;
  return !Error;
}

bool GiveToAnotherUser(const std::string& Path, std::string& Why) {
  uint32_t Uid = 0, Gid = 0;
  if (!TestUser(OtherUserName, Uid, Gid, Why)) return false;
  struct stat Info;
  if (lstat(Path.c_str(), &Info) != 0 && mkdir(Path.c_str(), 0755) != 0) {
    Why = "cannot make " + Path;
    return false;
  }
  if (lchown(Path.c_str(), Uid, Gid) != 0) {
    Why = "cannot give " + Path + " away";
    return false;
  }
  return true;
}

namespace {

// The results of the child of RunUnprivileged travel to the parent through a
// pipe, each as its type, line, file name and message, the texts with their
// lengths in front.
const std::string EndMark = "3:end";

void PutText(std::string& Out, const std::string& Text) { Out += std::to_string(Text.size()) + ":" + Text; }

bool TakeText(const std::string& In, size_t& At, std::string& Text) {
  const size_t Colon = In.find(':', At);
  if (Colon == std::string::npos) return false;
  const size_t Length = std::strtoul(In.substr(At, Colon - At).c_str(), nullptr, 10);
  if (Colon + 1 + Length > In.size()) return false;
  Text = In.substr(Colon + 1, Length);
  At = Colon + 1 + Length;
  return true;
}

std::string Encode(const ::testing::TestPartResultArray& Results) {
  std::string Out;
  for (int I = 0; I < Results.size(); ++I) {
    const ::testing::TestPartResult& R = Results.GetTestPartResult(I);
    PutText(Out, std::to_string(static_cast<int>(R.type())));
    PutText(Out, std::to_string(R.line_number()));
    PutText(Out, R.file_name() ? R.file_name() : "");
    PutText(Out, R.message());
  }
  return Out;
}

// Runs Body as the user Uid:Gid in this (child) process and gives the
// results it reported; Failed tells whether one of them is a failure.
std::string RunAs(uint32_t Uid, uint32_t Gid, const std::function<void()>& Body, bool& Failed) {
  ::testing::TestPartResultArray Results;
  {
    ::testing::ScopedFakeTestPartResultReporter Reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &Results);
    if (setgroups(0, nullptr) != 0 || setgid(Gid) != 0 || setuid(Uid) != 0) {
      ADD_FAILURE() << "cannot become " << TestUserName << ": " << strerror(errno);
    } else {
      // A changed user leaves the process undumpable, which would hide
      // /proc/self from the sanitizers.
      prctl(PR_SET_DUMPABLE, 1, 0, 0, 0);
      try {
        Body();
      } catch (const std::exception& E) {
        ADD_FAILURE() << "exception as " << TestUserName << ": " << E.what();
      } catch (...) {
        ADD_FAILURE() << "exception as " << TestUserName;
      }
    }
  }
  Failed = false;
  for (int I = 0; I < Results.size(); ++I) Failed = Failed || Results.GetTestPartResult(I).failed();
  return Encode(Results);
}

}  // namespace

void RunUnprivileged(const TScratchFolder& Scratch, const std::function<void()>& Body) {
  if (!PermissionsAreIgnored()) {
    Body();
    return;
  }
  uint32_t Uid = 0, Gid = 0;
  std::string Why;
  if (!TestUser(TestUserName, Uid, Gid, Why)) {
    ADD_FAILURE() << "cannot run as an unprivileged user: " << Why;
    return;
  }
  if (!GiveTree(Utf8Of(Scratch.Root()), TestUserName)) {
    ADD_FAILURE() << "cannot give the scratch folder to " << TestUserName;
    return;
  }
  int Pipe[2];
  if (pipe2(Pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << strerror(errno);
    return;
  }
  std::fflush(nullptr);
  const pid_t Child = fork();
  if (Child < 0) {
    ADD_FAILURE() << "fork: " << strerror(errno);
    close(Pipe[0]);
    close(Pipe[1]);
    return;
  }
  if (Child == 0) {
    close(Pipe[0]);
    bool Failed = false;
    // The report ends with a mark, so that a body that ends the process
    // itself is not taken for one that passed.
    const std::string Report = RunAs(Uid, Gid, Body, Failed) + EndMark;
    for (size_t Done = 0; Done < Report.size();) {
      const ssize_t N = write(Pipe[1], Report.data() + Done, Report.size() - Done);
      if (N <= 0) _exit(3);
      Done += static_cast<size_t>(N);
    }
    _exit(Failed ? 1 : 0);
  }
  close(Pipe[1]);
  std::string Report;
  char Buffer[4096];
  for (;;) {
    const ssize_t N = read(Pipe[0], Buffer, sizeof Buffer);
    if (N > 0) {
      Report.append(Buffer, static_cast<size_t>(N));
    } else if (N == 0 || errno != EINTR) {
      break;
    }
  }
  close(Pipe[0]);
  int Status = 0;
  while (waitpid(Child, &Status, 0) < 0 && errno == EINTR) {
  }
  const bool Finished =
      Report.size() >= EndMark.size() && Report.compare(Report.size() - EndMark.size(), EndMark.size(), EndMark) == 0;
  if (Finished) Report.resize(Report.size() - EndMark.size());

  std::string Skip;
  bool Skipped = false, Failed = false;
  size_t At = 0;
  std::string Type, Line, File, Message;
  while (TakeText(Report, At, Type) && TakeText(Report, At, Line) && TakeText(Report, At, File) &&
         TakeText(Report, At, Message)) {
    const auto Kind = static_cast<::testing::TestPartResult::Type>(std::atoi(Type.c_str()));
    if (Kind == ::testing::TestPartResult::kSkip) {
      Skipped = true;
      Skip = Message;
    } else if (Kind != ::testing::TestPartResult::kSuccess) {
      Failed = true;
      ADD_FAILURE_AT(File.empty() ? "unknown file" : File.c_str(), std::atoi(Line.c_str()))
          << "as " << TestUserName << (Kind == ::testing::TestPartResult::kFatalFailure ? " (fatal)" : "") << ": "
          << Message;
    }
  }
  // The child ends with 1 after the failures reported above, with 0 without
  // any; anything else (a signal, an exit of the body's own) is a failure.
  if (!Finished || !WIFEXITED(Status) || WEXITSTATUS(Status) != (Failed ? 1 : 0)) {
    if (WIFSIGNALED(Status))
      ADD_FAILURE() << "the body run as " << TestUserName << " was ended by signal " << WTERMSIG(Status);
    else
      ADD_FAILURE() << "the body run as " << TestUserName << " ended the process with " << WEXITSTATUS(Status)
                    << (Finished ? "" : " before it finished");
  }
  if (Skipped) GTEST_SKIP() << Skip;
}

}  // namespace qbtest
