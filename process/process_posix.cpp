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

std::string StripEnclosingDoubleQuotes(const std::string& S) {
  if (S.size() >= 2 && S.front() == '"' && S.back() == '"') return S.substr(1, S.size() - 2);
  return S;
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
  struct stat St;
  if (stat(Path.c_str(), &St) != 0) return errno;
  if (!S_ISREG(St.st_mode)) return EACCES;
  if (access(Path.c_str(), X_OK) != 0) return errno;
  return 0;
}

// The file execvp would run for a name without a slash, or an error code.
int SearchPath(const std::string& Name, std::string& Found) {
  const char* Path = std::getenv("PATH");
  std::string Dirs = Path != nullptr ? Path : "/bin:/usr/bin";
  int Err = ENOENT;
  size_t Start = 0;
  while (Start <= Dirs.size()) {
    size_t End = Dirs.find(':', Start);
    if (End == std::string::npos) End = Dirs.size();
    std::string Dir = Dirs.substr(Start, End - Start);
    std::string Candidate = (Dir.empty() ? std::string(".") : Dir) + "/" + Name;
    int E = ExecutableError(Candidate);
    if (E == 0) {
      Found = Candidate;
      return 0;
    }
    if (E == EACCES) Err = EACCES;
    Start = End + 1;
  }
  return Err;
}

std::vector<char*> CStrings(TStringList& List) {
  std::vector<char*> Out;
  Out.reserve(List.size() + 1);
  for (std::string& S : List) Out.push_back(&S[0]);
  Out.push_back(nullptr);
  return Out;
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
    for (int* P : {In, Out, Err})
      for (int I = 0; I < 2; ++I)
        if (P[I] >= 0) {
          close(P[I]);
          P[I] = -1;
        }
  }
  void CloseChildEnds() {
    for (int* Fd : {&In[0], &Out[1], &Err[1]})
      if (*Fd >= 0) {
        close(*Fd);
        *Fd = -1;
      }
  }
};

// Keeps a new descriptor clear of 0, 1 and 2, so that moving the pipe ends
// onto the child's standard handles never overwrites another pipe end.
int AboveStdHandles(int Fd) {
  if (Fd > 2) return Fd;
  int Moved = fcntl(Fd, F_DUPFD_CLOEXEC, 3);
  int Err = errno;
  close(Fd);
  errno = Err;
  return Moved;
}

int MakePipe(int Fds[2], uint32_t BufferSize) {
  if (pipe2(Fds, O_CLOEXEC) != 0) return errno;
  Fds[0] = AboveStdHandles(Fds[0]);
  Fds[1] = AboveStdHandles(Fds[1]);
  if (Fds[0] < 0 || Fds[1] < 0) {
    int Err = errno;
    for (int I = 0; I < 2; ++I)
      if (Fds[I] >= 0) close(Fds[I]);
    Fds[0] = Fds[1] = -1;
    return Err;
  }
  // The kernel's pipes already hold 64 KiB; only a larger wish is applied
  // (a smaller pipe would only slow the transfer).
  int Current = fcntl(Fds[0], F_GETPIPE_SZ);
  if (Current > 0 && BufferSize > static_cast<uint32_t>(Current))
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
  ssize_t W;
  do {
    W = write(ReportFd, &Err, sizeof Err);
  } while (W < 0 && errno == EINTR);
  _exit(127);
}

int ReadReport(int Fd, bool& Got) {
  int Err = 0;
  ssize_t R;
  do {
    R = read(Fd, &Err, sizeof Err);
  } while (R < 0 && errno == EINTR);
  Got = R == static_cast<ssize_t>(sizeof Err);
  return Err;
}

pid_t WaitPid(pid_t Pid, int* Status, int Flags) {
  pid_t R;
  do {
    R = waitpid(Pid, Status, Flags);
  } while (R < 0 && errno == EINTR);
  return R;
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
  const int Error = Argv.Search
                        ? posix_spawnp(&Pid, Argv.Program.c_str(), &Actions, &Attributes, ArgvStrings, Environment)
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
  const std::string ShownCommandLine = BuildCommandLine();
  TPipeSet Pipes;
  auto Fail = [&](int Err) {
    Pipes.CloseAll();
    throw EProcess(FormatText("Failed to execute %s : %d", ShownCommandLine, Err));
  };
  TArgv A;
  if (!BuildArgumentVector(ApplicationName, FCommandLine, Executable, Parameters, A)) Fail(ENOENT);

  TStringList Env = Environment;
  std::vector<char*> Argv = CStrings(A.Args);
  std::vector<char*> Envp = CStrings(Env);
  char** EnvBlock = Environment.empty() ? environ : Envp.data();

  TStartSettings Settings;
  Settings.Folder = CurrentDirectory.empty() ? nullptr : CurrentDirectory.c_str();
  Settings.UsePipes = FOptions.Contains(poUsePipes);
  Settings.ErrorToOutput = FOptions.Contains(poStderrToOutPut);
  Settings.NewGroup = FOptions.Contains(poNewProcessGroup);
  Settings.InheritHandles = InheritHandles;
  Settings.Nice = NiceValue(Priority);
  if (Settings.UsePipes) {
    int E = MakePipe(Pipes.In, PipeBufferSize);
    if (E == 0) E = MakePipe(Pipes.Out, PipeBufferSize);
    if (E == 0 && !Settings.ErrorToOutput) E = MakePipe(Pipes.Err, PipeBufferSize);
    if (E != 0) Fail(E);
  }

  pid_t Pid = -1;
  int StartReport = -1;
  const int E = FOptions.Contains(poRunSuspended)
                    ? StartSuspended(A, Argv.data(), EnvBlock, Settings, Pipes, Pid, StartReport)
                    : SpawnNow(A, Argv.data(), EnvBlock, Settings, Pipes, Pid);
  if (E != 0) Fail(E);
  const bool UsePipes = Settings.UsePipes;

  Pipes.CloseChildEnds();
  FreePipeStreams();
  CloseHandles();
  FProcessId = static_cast<uint32_t>(Pid);
  FProcessHandle = Pid;
  FThreadHandle = Pid;
  FStartReport = StartReport;
  FStartedCommandLine = ShownCommandLine;
  FSuspendCount = StartReport >= 0 ? 1 : 0;
  FExitCode = 0;
  if (UsePipes) {
    FPendingInput = Pipes.In[1];
    FPendingOutput = Pipes.Out[0];
    FPendingError = Pipes.Err[0];
    CreatePipeStreams();
  }
}

bool TProcess::PlatformRunning() {
  if (FProcessHandle <= 0) return false;
  int Status = 0;
  pid_t R = WaitPid(static_cast<pid_t>(FProcessHandle), &Status, WNOHANG);
  if (R == 0) return true;
  if (R == static_cast<pid_t>(FProcessHandle)) FExitCode = ExitCodeOf(Status);
  return false;
}

bool TProcess::PlatformWaitForExit() {
  if (FProcessHandle <= 0) return false;
  if (!FRunning) return true;  // its end was already seen
  int Status = 0;
  pid_t R = WaitPid(static_cast<pid_t>(FProcessHandle), &Status, 0);
  if (R != static_cast<pid_t>(FProcessHandle)) return false;
  FExitCode = ExitCodeOf(Status);
  return true;
}

bool TProcess::PlatformTerminate(int32_t) {
  // A child ended by a signal reports 128 + the signal number, so the
  // requested exit code cannot reach it here.
  if (!Running() || FProcessHandle <= 0) return false;
  return kill(static_cast<pid_t>(FProcessHandle), SIGKILL) == 0;
}

int32_t TProcess::PlatformSuspend() {
  if (FProcessHandle <= 0 || !Running()) return -1;
  if (FSuspendCount == 0 && kill(static_cast<pid_t>(FProcessHandle), SIGSTOP) != 0) return -1;
  return FSuspendCount++;
}

int32_t TProcess::PlatformResume() {
  if (FProcessHandle <= 0 || !Running()) return -1;
  int32_t Previous = FSuspendCount;
  if (Previous == 0) return 0;
  if (Previous == 1) {
    if (kill(static_cast<pid_t>(FProcessHandle), SIGCONT) != 0) return -1;
    if (FStartReport >= 0) {
      // The child now loads its program: the report pipe closes when that
      // worked and carries the error code when it did not.
      bool Got = false;
      int Err = ReadReport(static_cast<int>(FStartReport), Got);
      CloseFd(FStartReport);
      if (Got) {
        FSuspendCount = 0;
        WaitForExit();
        throw EProcess(FormatText("Failed to execute %s : %d", FStartedCommandLine, Err));
      }
    }
  }
  FSuspendCount = Previous - 1;
  return Previous;
}

void TProcess::PlatformCloseHandles() {
  CloseFd(FStartReport);
  FProcessHandle = 0;
  FThreadHandle = 0;
  FSuspendCount = 0;
}
