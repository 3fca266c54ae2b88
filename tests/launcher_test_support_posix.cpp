#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "tests/launcher_test_support.h"

extern char** environ;

intptr_t StartChild(const std::string& Program, const std::vector<std::string>& Arguments,
                    const std::string& CurrentFolder, const TChildEnvironment& Environment,
                    const std::string& StdErrFile) {
  std::vector<std::string> Entries;
  for (char** Entry = environ; *Entry != nullptr; ++Entry) {
    std::string Text = *Entry;
    std::string Name = Text.substr(0, Text.find('='));
    bool Drop = false;
    for (const std::string& Unset : Environment.Unset) Drop = Drop || Name == Unset;
    for (const auto& Set : Environment.Set) Drop = Drop || Name == Set.first;
    if (!Drop) Entries.push_back(Text);
  }
  for (const auto& Set : Environment.Set) Entries.push_back(Set.first + "=" + Set.second);

  std::vector<char*> Envp;
  for (std::string& Entry : Entries) Envp.push_back(&Entry[0]);
  Envp.push_back(nullptr);
  std::vector<std::string> Words;
  std::string File = Program;
  if (!Environment.RunAs.empty()) {
    Words = {"/usr/bin/setpriv", "--reuid=" + Environment.RunAs, "--regid=" + Environment.RunAs,
             "--clear-groups", "--"};
    File = Words.front();
  }
  Words.push_back(Program);
  Words.insert(Words.end(), Arguments.begin(), Arguments.end());
  std::vector<char*> Argv;
  for (std::string& Word : Words) Argv.push_back(&Word[0]);
  Argv.push_back(nullptr);

  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addchdir_np(&Actions, CurrentFolder.c_str());
  posix_spawn_file_actions_addopen(&Actions, 2, StdErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t Pid = 0;
  int Error = posix_spawn(&Pid, File.c_str(), &Actions, nullptr, Argv.data(), Envp.data());
  posix_spawn_file_actions_destroy(&Actions);
  if (Error != 0) throw std::runtime_error("cannot start " + Program + ": " + strerror(Error));
  return Pid;
}

int WaitChild(intptr_t Child) {
  int Status = 0;
  while (waitpid(static_cast<pid_t>(Child), &Status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(Status)) return WEXITSTATUS(Status);
  if (WIFSIGNALED(Status)) return 128 + WTERMSIG(Status);
  return -1;
}

std::string ScratchRoot() {
  const char* Value = getenv("TMPDIR");
  std::string Root = (Value != nullptr && *Value != '\0') ? Value : "/tmp";
  if (Root.back() != '/') Root += '/';
  return Root;
}

std::string BuildTreePath(const std::string& Path) { return Path; }


bool ReportOnStdErr() { return true; }

std::string FallbackTempFolder(const TChildEnvironment& Environment) {
  for (const auto& Set : Environment.Set)
    if (Set.first == "TMPDIR" && !Set.second.empty())
      return Set.second.back() == '/' ? Set.second : Set.second + "/";
  return std::string();
}

void SetEnvironmentValue(const std::string& Name, const std::string& Value) { setenv(Name.c_str(), Value.c_str(), 1); }

void ClearEnvironmentValue(const std::string& Name) { unsetenv(Name.c_str()); }

bool MakeFolderLink(const std::string& Target, const std::string& Link) {
  return symlink(Target.c_str(), Link.c_str()) == 0;
}

bool TestUser(const std::string& Name, uint32_t& Uid, uint32_t& Gid, std::string& Why) {
  if (geteuid() != 0) {
    Why = "needs root to run as another user";
    return false;
  }
  if (getpwnam(Name.c_str()) == nullptr) {
    const std::string Command = "useradd --system --no-create-home --shell /usr/sbin/nologin " + Name +
                                " >/dev/null 2>&1";
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
  for (auto It = std::filesystem::recursive_directory_iterator(Path, Error);
       !Error && It != std::filesystem::recursive_directory_iterator(); It.increment(Error))
    if (lchown(It->path().c_str(), Entry->pw_uid, Entry->pw_gid) != 0) return false;
  return !Error;
}

int RunAsUser(const std::string& Name, const std::string& Command) {
  const std::string Line = "/usr/bin/setpriv --reuid=" + Name + " --regid=" + Name + " --clear-groups -- /bin/sh -c '" +
                           Command + "'";
  const int Status = system(Line.c_str());
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

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

bool SignalChild(intptr_t Child, int Signal) { return kill(static_cast<pid_t>(Child), Signal) == 0; }

bool MakeFileLink(const std::string& Target, const std::string& Link) {
  return symlink(Target.c_str(), Link.c_str()) == 0;
}

bool PermissionBitsApply() { return true; }

bool GiveToAnotherUser(const std::string& Path, std::string& Why) {
  uint32_t Uid = 0, Gid = 0;
  if (!TestUser("qbother", Uid, Gid, Why)) return false;
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
