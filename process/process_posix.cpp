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

std::string CurrentFolder() {
  std::string buf(256, '\0');
  while (getcwd(&buf[0], buf.size()) == nullptr) {
    if (errno != ERANGE) return std::string();
    buf.resize(buf.size() * 2);
  }
  buf.resize(std::strlen(buf.c_str()));
  return buf;
}

// A relative program path keeps meaning the caller's current folder even
// when the child changes folder before the program is loaded.
std::string AnchorProgram(const std::string& Program) {
  if (Program.empty() || Program[0] == '/') return Program;
  std::string cwd = CurrentFolder();
  if (cwd.empty()) return Program;
  if (cwd.back() != '/') cwd += '/';
  return cwd + Program;
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

}  // namespace

void TProcess::PlatformExecute() {
  const std::string commandLine = BuildCommandLine();
  TArgv a;
  if (!ApplicationName.empty()) {
    a.Program = ApplicationName;
    a.Args = SplitCommandLineWords(CommandLine_);
    if (a.Args.empty()) a.Args.push_back(ApplicationName);
  } else if (!CommandLine_.empty()) {
    a.Args = SplitCommandLineWords(CommandLine_);
    if (a.Args.empty())  // only lone quote characters: nothing to run
      throw EProcess(FormatText("Failed to execute %s : %d", commandLine, ENOENT));
    a.Program = a.Args.front();
    a.Search = a.Program.find('/') == std::string::npos;
  } else {
    a.Program = StripEnclosingDoubleQuotes(Executable);
    a.Args.push_back(a.Program);
    a.Args.insert(a.Args.end(), Parameters.begin(), Parameters.end());
    a.Search = a.Program.find('/') == std::string::npos;
  }
  if (!a.Search) a.Program = AnchorProgram(a.Program);

  TStringList env = Environment;
  std::vector<char*> argv = CStrings(a.Args);
  std::vector<char*> envp = CStrings(env);
  char** envBlock = Environment.empty() ? environ : envp.data();

  const bool usePipes = Options_.Contains(poUsePipes);
  const bool errToOut = Options_.Contains(poStderrToOutPut);
  TPipeSet pipes;
  auto fail = [&](int Err) {
    pipes.CloseAll();
    throw EProcess(FormatText("Failed to execute %s : %d", commandLine, Err));
  };
  if (usePipes) {
    int e = MakePipe(pipes.In, PipeBufferSize);
    if (e == 0) e = MakePipe(pipes.Out, PipeBufferSize);
    if (e == 0 && !errToOut) e = MakePipe(pipes.Err, PipeBufferSize);
    if (e != 0) fail(e);
  }

  pid_t pid = -1;
  int startReport = -1;
  if (!Options_.Contains(poRunSuspended)) {
    posix_spawn_file_actions_t fa;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&fa);
    posix_spawnattr_init(&attr);
    if (!CurrentDirectory.empty()) posix_spawn_file_actions_addchdir_np(&fa, CurrentDirectory.c_str());
    if (usePipes) {
      posix_spawn_file_actions_adddup2(&fa, pipes.In[0], 0);
      posix_spawn_file_actions_adddup2(&fa, pipes.Out[1], 1);
      posix_spawn_file_actions_adddup2(&fa, errToOut ? pipes.Out[1] : pipes.Err[1], 2);
    }
    if (!InheritHandles) posix_spawn_file_actions_addclosefrom_np(&fa, 3);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    sigset_t none, pipeSignal;
    sigemptyset(&none);
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &pipeSignal);
    if (Options_.Contains(poNewProcessGroup)) {
      flags |= POSIX_SPAWN_SETPGROUP;
      posix_spawnattr_setpgroup(&attr, 0);
    }
    posix_spawnattr_setflags(&attr, flags);
    int e = a.Search ? posix_spawnp(&pid, a.Program.c_str(), &fa, &attr, argv.data(), envBlock)
                     : posix_spawn(&pid, a.Program.c_str(), &fa, &attr, argv.data(), envBlock);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    if (e != 0) fail(e);
    if (Priority != ppNormal) setpriority(PRIO_PROCESS, static_cast<id_t>(pid), NiceValue(Priority));
  } else {
    // Started suspended: the child prepares everything, stops itself, and
    // loads the program only once it is resumed. Whatever can be checked
    // beforehand is checked here so that Execute reports it.
    std::string program = a.Program;
    int e = a.Search ? SearchPath(a.Program, program) : ExecutableError(program);
    if (e != 0) fail(e);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) fail(errno);
    const bool newGroup = Options_.Contains(poNewProcessGroup);
    const int nice = NiceValue(Priority);
    const char* dir = CurrentDirectory.empty() ? nullptr : CurrentDirectory.c_str();
    pid = fork();
    if (pid < 0) {
      int forkErr = errno;
      close(report[0]);
      close(report[1]);
      fail(forkErr);
    }
    if (pid == 0) {
      // Only async-signal-safe calls from here on.
      close(report[0]);
      if (newGroup) setpgid(0, 0);
      if (dir != nullptr && chdir(dir) != 0) ReportAndExit(report[1], errno);
      if (usePipes) {
        close(pipes.In[1]);
        close(pipes.Out[0]);
        if (pipes.Err[0] >= 0) close(pipes.Err[0]);
        MoveToStdHandle(pipes.In[0], 0);
        MoveToStdHandle(pipes.Out[1], 1);
        MoveToStdHandle(errToOut ? pipes.Out[1] : pipes.Err[1], 2);
      }
      if (!InheritHandles) {
        if (report[1] > 3) close_range(3, static_cast<unsigned>(report[1]) - 1, 0);
        close_range(static_cast<unsigned>(report[1]) + 1, ~0u, 0);
      }
      struct sigaction dfl;
      std::memset(&dfl, 0, sizeof dfl);
      dfl.sa_handler = SIG_DFL;
      sigaction(SIGPIPE, &dfl, nullptr);
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (nice != 0) setpriority(PRIO_PROCESS, 0, nice);
      raise(SIGSTOP);
      execve(program.c_str(), argv.data(), envBlock);
      ReportAndExit(report[1], errno);
    }
    close(report[1]);
    int status = 0;
    pid_t w = WaitPid(pid, &status, WUNTRACED);
    if (w != pid || !WIFSTOPPED(status)) {
      bool got = false;
      int err = ReadReport(report[0], got);
      close(report[0]);
      if (w != pid) WaitPid(pid, &status, 0);
      fail(got ? err : ECHILD);
    }
    startReport = report[0];
  }

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
