#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "runtime/arguments.h"
#include "tests/frame_test_support.h"

extern char** environ;

int RunChild(const std::string& Program, const std::string& Tail, const std::string& StdErrFile) {
  std::vector<std::string> Words = SplitProgramArguments(Tail);
  std::vector<char*> Argv;
  Argv.push_back(const_cast<char*>(Program.c_str()));
  for (std::string& Word : Words) Argv.push_back(&Word[0]);
  Argv.push_back(nullptr);

  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  if (!StdErrFile.empty())
    posix_spawn_file_actions_addopen(&Actions, 2, StdErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t Pid = 0;
  int Rc = posix_spawn(&Pid, Program.c_str(), &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Rc != 0) return -1;
  int Status = 0;
  while (waitpid(Pid, &Status, 0) < 0) {
  }
  if (WIFEXITED(Status)) return WEXITSTATUS(Status);
  if (WIFSIGNALED(Status)) return 128 + WTERMSIG(Status);
  return -1;
}

bool BoxesOnStdErr() { return true; }
