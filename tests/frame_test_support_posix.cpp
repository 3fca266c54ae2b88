#include "tests/frame_test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "runtime/arguments.h"

extern char** environ;

int RunChild(const std::string& Program, const std::string& Tail, const std::string& StdErrFile) {
  std::vector<std::string> words = SplitProgramArguments(Tail);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(Program.c_str()));
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!StdErrFile.empty())
    posix_spawn_file_actions_addopen(&actions, 2, StdErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, Program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

bool BoxesOnStdErr() { return true; }
