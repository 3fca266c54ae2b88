// The process object on POSIX. The program starts from an argument vector
// (never through a shell):
//   - Executable and Parameters: argv[0] is Executable without one pair of
//     enclosing double quotes, then every parameter as one argument (an empty
//     one included);
//   - CommandLine (with or without ApplicationName): its words, cut the way
//     SplitCommandLine cuts them; ApplicationName, when set, is the program
//     to run, else the first word is.
// A program named without a slash is looked up in PATH, as execvp does; a
// relative path is taken from the caller's current folder, also when
// CurrentDirectory is set. The handles are the child's process id.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "fs/file_services.h"
#include "fs/path_text.h"
#include "process/process.h"
#include "runtime/exceptions.h"

extern char** environ;

namespace {

struct TArgv {
  std::string Program;  // the file to run
  bool Search = false;  // look Program up in PATH
  TStringList Args;
};

std::string StripEnclosingDoubleQuotes(const std::string& s) {
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
  return s;
}

// A relative program path keeps meaning the caller's current folder even
// when the child changes folder before the program is loaded.
std::string AnchorProgram(const std::string& Program) {
  if (Program.empty() || Program[0] == '/') return Program;
  const std::string Folder = GetCurrentFolder();
  if (Folder.empty()) return Program;
  return IncludeTrailingSeparator(Folder) + Program;
}

int ExecutableError(const std::string& Path) {
  struct stat st;
  if (stat(Path.c_str(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EACCES;
  if (access(Path.c_str(), X_OK) != 0) return errno;
  return 0;
}

// The file execvp would run for a name without a slash, or an error code.
int SearchPath(const std::string& Name, std::string& Found) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/bin:/usr/bin";
  int err = ENOENT;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + Name;
    int e = ExecutableError(candidate);
    if (e == 0) {
      Found = candidate;
      return 0;
    }
    if (e == EACCES) err = EACCES;
    start = end + 1;
  }
  return err;
}

std::vector<char*> CStrings(TStringList& List) {
  std::vector<char*> out;
  out.reserve(List.size() + 1);
  for (std::string& s : List) out.push_back(&s[0]);
  out.push_back(nullptr);
  return out;
}

void CloseFd(intptr_t& Fd) {
  if (Fd >= 0) close(static_cast<int>(Fd));
  Fd = -1;
}

int NiceValue(TProcessPriority Priority) {
  switch (Priority) {
    case ppHigh: return -10;
    case ppIdle: return 19;
    case ppRealTime: return -20;
    default: return 0;
  }
}

// The exit code of a child whose end waitpid reported.
uint32_t ExitCodeOf(int Status) {
  if (WIFEXITED(Status)) return static_cast<uint32_t>(WEXITSTATUS(Status));
  if (WIFSIGNALED(Status)) return 128u + static_cast<uint32_t>(WTERMSIG(Status));
  return 0;
}

// The pipes of one start: [0] read end, [1] write end; -1 when not made.
struct TPipeSet {
  int In[2] = {-1, -1};
  int Out[2] = {-1, -1};
  int Err[2] = {-1, -1};
  void CloseAll() {
    for (int* p : {In, Out, Err})
      for (int i = 0; i < 2; ++i)
        if (p[i] >= 0) {
          close(p[i]);
          p[i] = -1;
        }
  }
  void CloseChildEnds() {
    for (int* fd : {&In[0], &Out[1], &Err[1]})
      if (*fd >= 0) {
        close(*fd);
        *fd = -1;
      }
  }
};

// Keeps a new descriptor clear of 0, 1 and 2, so that moving the pipe ends
// onto the child's standard handles never overwrites another pipe end.
int AboveStdHandles(int Fd) {
  if (Fd > 2) return Fd;
  int moved = fcntl(Fd, F_DUPFD_CLOEXEC, 3);
  int err = errno;
  close(Fd);
  errno = err;
  return moved;
}

int MakePipe(int Fds[2], uint32_t BufferSize) {
  if (pipe2(Fds, O_CLOEXEC) != 0) return errno;
  Fds[0] = AboveStdHandles(Fds[0]);
  Fds[1] = AboveStdHandles(Fds[1]);
  if (Fds[0] < 0 || Fds[1] < 0) {
    int err = errno;
    for (int i = 0; i < 2; ++i)
      if (Fds[i] >= 0) close(Fds[i]);
    Fds[0] = Fds[1] = -1;
    return err;
  }
  // The kernel's pipes already hold 64 KiB; only a larger wish is applied
  // (a smaller pipe would only slow the transfer).
  int current = fcntl(Fds[0], F_GETPIPE_SZ);
  if (current > 0 && BufferSize > static_cast<uint32_t>(current))
    fcntl(Fds[0], F_SETPIPE_SZ, static_cast<int>(BufferSize));
  return 0;
}

// In a forked child: makes Fd the standard handle Target, inheritable.
void MoveToStdHandle(int Fd, int Target) {
  if (Fd == Target)
    fcntl(Fd, F_SETFD, 0);
  else
    dup2(Fd, Target);
}

[[noreturn]] void ReportAndExit(int ReportFd, int Err) {
  ssize_t w;
  do {
    w = write(ReportFd, &Err, sizeof Err);
  } while (w < 0 && errno == EINTR);
  _exit(127);
}

int ReadReport(int Fd, bool& Got) {
  int err = 0;
  ssize_t r;
  do {
    r = read(Fd, &err, sizeof err);
  } while (r < 0 && errno == EINTR);
  Got = r == static_cast<ssize_t>(sizeof err);
  return err;
}

pid_t WaitPid(pid_t Pid, int* Status, int Flags) {
  pid_t r;
  do {
    r = waitpid(Pid, Status, Flags);
  } while (r < 0 && errno == EINTR);
  return r;
}

// The argument vector of a start: from ApplicationName and CommandLine,
// from CommandLine alone, or from Executable and Parameters (see the top of
// this file). A relative program path is anchored to the caller's current
// folder. Gives false when the command line holds nothing to run.
bool BuildArgumentVector(const std::string& ApplicationName, const std::string& CommandLine,
                         const std::string& Executable, const TStringList& Parameters, TArgv& Argv) {
  if (!ApplicationName.empty()) {
    Argv.Program = ApplicationName;
    Argv.Args = TProcess::SplitCommandLineWords(CommandLine);
    if (Argv.Args.empty()) Argv.Args.push_back(ApplicationName);
  } else if (!CommandLine.empty()) {
    Argv.Args = TProcess::SplitCommandLineWords(CommandLine);
    if (Argv.Args.empty()) return false;  // only lone quote characters
    Argv.Program = Argv.Args.front();
    Argv.Search = Argv.Program.find('/') == std::string::npos;
  } else {
    Argv.Program = StripEnclosingDoubleQuotes(Executable);
    Argv.Args.push_back(Argv.Program);
    Argv.Args.insert(Argv.Args.end(), Parameters.begin(), Parameters.end());
    Argv.Search = Argv.Program.find('/') == std::string::npos;
  }
  if (!Argv.Search) Argv.Program = AnchorProgram(Argv.Program);
  return true;
}

// How the child of one start is set up.
struct TStartSettings {
  const char* Folder = nullptr;  // the child's current folder, or none
  bool UsePipes = false;
  bool ErrorToOutput = false;
  bool NewGroup = false;
  bool InheritHandles = false;
  int Nice = 0;
};

// Starts the program at once with posix_spawn; 0 with Pid, or the error
// code.
int SpawnNow(const TArgv& Argv, char* const* ArgvStrings, char* const* Environment, const TStartSettings& Settings,
             const TPipeSet& Pipes, pid_t& Pid) {
  posix_spawn_file_actions_t Actions;
  posix_spawnattr_t Attributes;
  posix_spawn_file_actions_init(&Actions);
  posix_spawnattr_init(&Attributes);
  if (Settings.Folder != nullptr) posix_spawn_file_actions_addchdir_np(&Actions, Settings.Folder);
  if (Settings.UsePipes) {
    posix_spawn_file_actions_adddup2(&Actions, Pipes.In[0], 0);
    posix_spawn_file_actions_adddup2(&Actions, Pipes.Out[1], 1);
    posix_spawn_file_actions_adddup2(&Actions, Settings.ErrorToOutput ? Pipes.Out[1] : Pipes.Err[1], 2);
  }
  if (!Settings.InheritHandles) posix_spawn_file_actions_addclosefrom_np(&Actions, 3);
  short Flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  sigset_t None, PipeSignal;
  sigemptyset(&None);
  sigemptyset(&PipeSignal);
  sigaddset(&PipeSignal, SIGPIPE);
  posix_spawnattr_setsigmask(&Attributes, &None);
  posix_spawnattr_setsigdefault(&Attributes, &PipeSignal);
  if (Settings.NewGroup) {
    Flags |= POSIX_SPAWN_SETPGROUP;
    posix_spawnattr_setpgroup(&Attributes, 0);
  }
  posix_spawnattr_setflags(&Attributes, Flags);
  const int Error =
      Argv.Search ? posix_spawnp(&Pid, Argv.Program.c_str(), &Actions, &Attributes, ArgvStrings, Environment)
                  : posix_spawn(&Pid, Argv.Program.c_str(), &Actions, &Attributes, ArgvStrings, Environment);
  posix_spawn_file_actions_destroy(&Actions);
  posix_spawnattr_destroy(&Attributes);
  if (Error == 0 && Settings.Nice != 0) setpriority(PRIO_PROCESS, static_cast<id_t>(Pid), Settings.Nice);
  return Error;
}

// Starts the program suspended: the child prepares everything, stops
// itself, and loads the program only once it is resumed. Whatever can be
// checked beforehand is checked here so that the start reports it. 0 with
// Pid and the read end of the pipe on which the child reports a failed load
// (StartReport), or the error code.
int StartSuspended(const TArgv& Argv, char* const* ArgvStrings, char* const* Environment,
                   const TStartSettings& Settings, const TPipeSet& Pipes, pid_t& Pid, int& StartReport) {
  std::string Program = Argv.Program;
  if (const int Error = Argv.Search ? SearchPath(Argv.Program, Program) : ExecutableError(Program)) return Error;
  int Report[2];
  if (pipe2(Report, O_CLOEXEC) != 0) return errno;
  Pid = fork();
  if (Pid < 0) {
    const int Error = errno;
    close(Report[0]);
    close(Report[1]);
    return Error;
  }
  if (Pid == 0) {
    // Only async-signal-safe calls from here on.
    close(Report[0]);
    if (Settings.NewGroup) setpgid(0, 0);
    if (Settings.Folder != nullptr && chdir(Settings.Folder) != 0) ReportAndExit(Report[1], errno);
    if (Settings.UsePipes) {
      close(Pipes.In[1]);
      close(Pipes.Out[0]);
      if (Pipes.Err[0] >= 0) close(Pipes.Err[0]);
      MoveToStdHandle(Pipes.In[0], 0);
      MoveToStdHandle(Pipes.Out[1], 1);
      MoveToStdHandle(Settings.ErrorToOutput ? Pipes.Out[1] : Pipes.Err[1], 2);
    }
    if (!Settings.InheritHandles) {
      if (Report[1] > 3) close_range(3, static_cast<unsigned>(Report[1]) - 1, 0);
      close_range(static_cast<unsigned>(Report[1]) + 1, ~0u, 0);
    }
    struct sigaction Default;
    std::memset(&Default, 0, sizeof Default);
    Default.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &Default, nullptr);
    sigset_t None;
    sigemptyset(&None);
    sigprocmask(SIG_SETMASK, &None, nullptr);
    if (Settings.Nice != 0) setpriority(PRIO_PROCESS, 0, Settings.Nice);
    raise(SIGSTOP);
    execve(Program.c_str(), ArgvStrings, Environment);
    ReportAndExit(Report[1], errno);
  }
  close(Report[1]);
  int Status = 0;
  const pid_t Waited = WaitPid(Pid, &Status, WUNTRACED);
  if (Waited != Pid || !WIFSTOPPED(Status)) {
    bool Got = false;
    const int Error = ReadReport(Report[0], Got);
    close(Report[0]);
    if (Waited != Pid) WaitPid(Pid, &Status, 0);
    return Got ? Error : ECHILD;
  }
  StartReport = Report[0];
  return 0;
}

}  // namespace

void TProcess::PlatformExecute() {
  const std::string commandLine = BuildCommandLine();
  TPipeSet pipes;
  auto fail = [&](int Err) {
    pipes.CloseAll();
    throw EProcess(FormatText("Failed to execute %s : %d", commandLine, Err));
  };
  TArgv a;
  if (!BuildArgumentVector(ApplicationName, CommandLine_, Executable, Parameters, a)) fail(ENOENT);

  TStringList env = Environment;
  std::vector<char*> argv = CStrings(a.Args);
  std::vector<char*> envp = CStrings(env);
  char** envBlock = Environment.empty() ? environ : envp.data();

  TStartSettings settings;
  settings.Folder = CurrentDirectory.empty() ? nullptr : CurrentDirectory.c_str();
  settings.UsePipes = Options_.Contains(poUsePipes);
  settings.ErrorToOutput = Options_.Contains(poStderrToOutPut);
  settings.NewGroup = Options_.Contains(poNewProcessGroup);
  settings.InheritHandles = InheritHandles;
  settings.Nice = NiceValue(Priority);
  if (settings.UsePipes) {
    int e = MakePipe(pipes.In, PipeBufferSize);
    if (e == 0) e = MakePipe(pipes.Out, PipeBufferSize);
    if (e == 0 && !settings.ErrorToOutput) e = MakePipe(pipes.Err, PipeBufferSize);
    if (e != 0) fail(e);
  }

  pid_t pid = -1;
  int startReport = -1;
  const int e = Options_.Contains(poRunSuspended)
                    ? StartSuspended(a, argv.data(), envBlock, settings, pipes, pid, startReport)
                    : SpawnNow(a, argv.data(), envBlock, settings, pipes, pid);
  if (e != 0) fail(e);
  const bool usePipes = settings.UsePipes;

  pipes.CloseChildEnds();
  FreePipeStreams();
  CloseHandles();
  ProcessID_ = static_cast<uint32_t>(pid);
  ProcessHandle_ = pid;
  ThreadHandle_ = pid;
  StartReport_ = startReport;
  StartedCommandLine_ = commandLine;
  SuspendCount_ = startReport >= 0 ? 1 : 0;
  ExitCode_ = 0;
  if (usePipes) {
    PendingInput_ = pipes.In[1];
    PendingOutput_ = pipes.Out[0];
    PendingError_ = pipes.Err[0];
    CreatePipeStreams();
  }
}

bool TProcess::PlatformRunning() {
  if (ProcessHandle_ <= 0) return false;
  int status = 0;
  pid_t r = WaitPid(static_cast<pid_t>(ProcessHandle_), &status, WNOHANG);
  if (r == 0) return true;
  if (r == static_cast<pid_t>(ProcessHandle_)) ExitCode_ = ExitCodeOf(status);
  return false;
}

bool TProcess::PlatformWaitForExit() {
  if (ProcessHandle_ <= 0) return false;
  if (!Running_) return true;  // its end was already seen
  int status = 0;
  pid_t r = WaitPid(static_cast<pid_t>(ProcessHandle_), &status, 0);
  if (r != static_cast<pid_t>(ProcessHandle_)) return false;
  ExitCode_ = ExitCodeOf(status);
  return true;
}

bool TProcess::PlatformTerminate(int32_t) {
  // A child ended by a signal reports 128 + the signal number, so the
  // requested exit code cannot reach it here.
  if (!Running() || ProcessHandle_ <= 0) return false;
  return kill(static_cast<pid_t>(ProcessHandle_), SIGKILL) == 0;
}

int32_t TProcess::PlatformSuspend() {
  if (ProcessHandle_ <= 0 || !Running()) return -1;
  if (SuspendCount_ == 0 && kill(static_cast<pid_t>(ProcessHandle_), SIGSTOP) != 0) return -1;
  return SuspendCount_++;
}

int32_t TProcess::PlatformResume() {
  if (ProcessHandle_ <= 0 || !Running()) return -1;
  int32_t previous = SuspendCount_;
  if (previous == 0) return 0;
  if (previous == 1) {
    if (kill(static_cast<pid_t>(ProcessHandle_), SIGCONT) != 0) return -1;
    if (StartReport_ >= 0) {
      // The child now loads its program: the report pipe closes when that
      // worked and carries the error code when it did not.
      bool got = false;
      int err = ReadReport(static_cast<int>(StartReport_), got);
      CloseFd(StartReport_);
      if (got) {
        SuspendCount_ = 0;
        WaitForExit();
        throw EProcess(FormatText("Failed to execute %s : %d", StartedCommandLine_, err));
      }
    }
  }
  SuspendCount_ = previous - 1;
  return previous;
}

void TProcess::PlatformCloseHandles() {
  CloseFd(StartReport_);
  ProcessHandle_ = 0;
  ThreadHandle_ = 0;
  SuspendCount_ = 0;
}
