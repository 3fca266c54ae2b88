#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <climits>

#include "tests/probe_app/probe_platform.h"

std::vector<std::string> ProbeArguments(int Argc, char** Argv) {
  return std::vector<std::string>(Argv + 1, Argv + Argc);
}

std::string ProbeCommandLine() { return std::string(); }

std::string ProbeEnvironment(const std::string& Name, bool& Present) {
  const char* Value = getenv(Name.c_str());
  Present = Value != nullptr;
  return Value ? Value : "";
}

std::string ProbeOwnFolder() {
  char Buffer[PATH_MAX];
  ssize_t Length = readlink("/proc/self/exe", Buffer, sizeof Buffer - 1);
  if (Length <= 0) return ".";
  std::string Path(Buffer, static_cast<size_t>(Length));
  return Path.substr(0, Path.find_last_of('/'));
}

std::string ProbeCurrentFolder() {
  char Buffer[PATH_MAX];
  return getcwd(Buffer, sizeof Buffer) ? Buffer : "";
}

void ProbeCrash() {
  // The default action, whatever a sanitizer runtime installed.
  signal(SIGSEGV, SIG_DFL);
  kill(getpid(), SIGSEGV);
  _exit(139);
}

namespace {
volatile sig_atomic_t Requested = 0;
void NoteRequest(int) { Requested = 1; }
}  // namespace

bool ProbeOnTermination() {
  struct sigaction Action = {};
  Action.sa_handler = NoteRequest;
  sigemptyset(&Action.sa_mask);
  return sigaction(SIGTERM, &Action, nullptr) == 0 && sigaction(SIGHUP, &Action, nullptr) == 0 &&
         sigaction(SIGINT, &Action, nullptr) == 0;
}

bool ProbeTerminationRequested() { return Requested != 0; }
