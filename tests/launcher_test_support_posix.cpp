#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
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
    Words = {"/usr/bin/setpriv", "--reuid=" + Environment.RunAs, "--regid=" + Environment.RunAs, "--clear-groups",
             "--"};
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

std::string BuildTreePath(const std::string& Path) { return Path; }

bool ReportOnStdErr() { return true; }

std::string UsePlatformTempFolder(TChildEnvironment& Environment, const std::string& Folder) {
  Environment.Set.emplace_back("TMPDIR", Folder);
  return Folder + "/";
}

bool SignalChild(intptr_t Child, int Signal) { return kill(static_cast<pid_t>(Child), Signal) == 0; }
