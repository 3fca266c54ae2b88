// The process object: the description of a program to start (program,
// parameters, options, window and console settings, priority, environment,
// working folder), one start, the wait for its end, its exit code, and the
// optional pipes to its standard input, output and error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fs/stream.h"
#include "process/component.h"
#include "process/enum_set.h"
#include "process/pipe_stream.h"

using TStringList = std::vector<std::string>;

enum TProcessOption {
  poRunSuspended,
  poWaitOnExit,
  poUsePipes,
  poStderrToOutPut,
  poNoConsole,
  poNewConsole,
  poDefaultErrorMode,
  poNewProcessGroup,
  poDebugProcess,
  poDebugOnlyThisProcess,
};
using TProcessOptions = TEnumSet<TProcessOption>;

enum TStartupOption {
  suoUseShowWindow,
  suoUseSize,
  suoUsePosition,
  suoUseCountChars,
  suoUseFillAttribute,
};
using TStartupOptions = TEnumSet<TStartupOption>;

enum TShowWindowOptions {
  swoNone,
  swoHIDE,
  swoMaximize,
  swoMinimize,
  swoRestore,
  swoShow,
  swoShowDefault,
  swoShowMaximized,
  swoShowMinimized,
  swoshowMinNOActive,
  swoShowNA,
  swoShowNoActivate,
  swoShowNormal,
};

enum TProcessPriority { ppHigh, ppIdle, ppNormal, ppRealTime };

// The platform's handle of a started process or thread, widened to one
// integer type; 0 means none. On POSIX both hold the child's process id.
using TProcessHandle = intptr_t;

class TProcess : public TComponent {
 public:
  explicit TProcess(TComponent* AOwner = nullptr);
  // Frees the pipe streams and closes the handles; a child that still runs
  // keeps running on its own.
  ~TProcess() override;
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  // Fields without a rule of their own.
  TStartupOptions StartupOptions;
  uint32_t FillAttribute = 0;
  std::string ApplicationName;
  std::string ConsoleTitle;  // stored only
  std::string CurrentDirectory;
  std::string Desktop;  // stored only
  TStringList Environment;
  std::string Executable;
  TStringList Parameters;
  TShowWindowOptions ShowWindow = swoNone;
  bool InheritHandles = true;
  TProcessPriority Priority = ppNormal;
  std::string XTermProgram;  // stored only
  uint32_t PipeBufferSize = 1024;

  TProcessOptions Options() const { return FOptions; }
  // Stores the set; poNewConsole removes poNoConsole, then poRunSuspended
  // removes poWaitOnExit.
  void SetOptions(TProcessOptions Value);

  const std::string& CommandLine() const { return FCommandLine; }
  // A new text is stored and split into Executable and Parameters
  // (SplitCommandLine), unless the object is being loaded.
  void SetCommandLine(const std::string& Value);

  uint32_t WindowLeft() const { return FWindowLeft; }
  uint32_t WindowTop() const { return FWindowTop; }
  uint32_t WindowWidth() const { return FWindowWidth; }
  uint32_t WindowHeight() const { return FWindowHeight; }
  uint32_t WindowColumns() const { return FWindowColumns; }
  uint32_t WindowRows() const { return FWindowRows; }
  // A non-zero value also adds suoUsePosition, suoUseSize or
  // suoUseCountChars to StartupOptions; 0 removes nothing.
  void SetWindowLeft(uint32_t Value);
  void SetWindowTop(uint32_t Value);
  void SetWindowWidth(uint32_t Value);
  void SetWindowHeight(uint32_t Value);
  void SetWindowColumns(uint32_t Value);
  void SetWindowRows(uint32_t Value);

  uint32_t ProcessID() const { return FProcessId; }
  TProcessHandle ProcessHandle() const { return FProcessHandle; }
  TProcessHandle ThreadHandle() const { return FThreadHandle; }

  // While the child is known to run, asks the system whether it still does
  // (storing its exit code once it has ended); the refreshed flag.
  bool Running();
  bool Active() { return Running(); }
  // True starts the child (Execute), false ends it (Terminate(0)), each only
  // when the value differs from Running.
  void SetActive(bool Value);
  // Refreshes Running, then gives the exit code as last read. While the
  // child runs that is STILL_ACTIVE (259) on Windows; on POSIX the value
  // stays 0 until the child's end is seen, and a child ended by a signal
  // reads 128 + the signal number.
  uint32_t ExitCode();

  // The caller's ends of the pipes (poUsePipes), else null. With
  // poStderrToOutPut ErrorPipe is the same stream as OutputPipe.
  TStream* InputPipe() const { return FInputPipe; }
  TStream* OutputPipe() const { return FOutputPipe; }
  TStream* ErrorPipe() const { return FErrorPipe; }

  // Starts the child; raises EProcess "Cannot execute empty command-line" or
  // "Failed to execute %s : %d". With poWaitOnExit and without
  // poRunSuspended it returns once the child has ended.
  virtual void Execute();
  // Blocks until the child has ended; false only when the wait failed.
  bool WaitForExit();
  // Ends a running child with AExitCode; true when it was told to end. On
  // POSIX the child is killed (SIGKILL) and so reads 137.
  virtual bool Terminate(int32_t AExitCode);
  // The previous suspend count, or -1 when there is no child to act on. On
  // POSIX a child started suspended loads its program when resumed, and
  // Resume raises EProcess "Failed to execute %s : %d" when that fails.
  virtual int32_t Suspend();
  virtual int32_t Resume();
  virtual void CloseHandles();
  virtual void CreatePipeStreams();
  virtual void CloseInputPipe();
  virtual void CloseOutputPipe();
  virtual void CloseErrorPipe();

  // True while the object is being loaded as a component: CommandLine is
  // then stored without being split.
  bool Loading = false;

  // The word rules of SplitCommandLine: every non-empty word of Text.
  static TStringList SplitCommandLineWords(const std::string& Text);
  // The word in double quotes when it holds a space and no double quote.
  static std::string QuoteIfNeeded(const std::string& Word);

  // The module name (empty: none) and the command line that Execute hands to
  // process creation, chosen from ApplicationName, CommandLine, Executable
  // and Parameters.
  std::string ModuleName() const;
  std::string BuildCommandLine() const;
  // The creation flags of Options and Priority, and the startup record's
  // flags and show-window value (Windows constants).
  uint32_t CreationFlags() const;
  uint32_t StartupFlags() const;
  uint16_t ShowWindowValue() const;

 protected:
  void SplitCommandLine();

 private:
  // Platform halves of the operations above.
  void PlatformExecute();
  bool PlatformRunning();
  bool PlatformWaitForExit();
  bool PlatformTerminate(int32_t AExitCode);
  int32_t PlatformSuspend();
  int32_t PlatformResume();
  void PlatformCloseHandles();
  void FreePipeStreams();

  TProcessOptions FOptions;
  std::string FCommandLine;
  uint32_t FWindowLeft = 0, FWindowTop = 0, FWindowWidth = 0, FWindowHeight = 0;
  uint32_t FWindowColumns = 0, FWindowRows = 0;
  uint32_t FProcessId = 0;
  TProcessHandle FProcessHandle = 0;
  TProcessHandle FThreadHandle = 0;
  bool FRunning = false;
  uint32_t FExitCode = 0;
  TPipeStream* FInputPipe = nullptr;
  TPipeStream* FOutputPipe = nullptr;
  TPipeStream* FErrorPipe = nullptr;
  // The caller's pipe ends between process creation and CreatePipeStreams
  // (-1: none).
  intptr_t FPendingInput = -1, FPendingOutput = -1, FPendingError = -1;
  // POSIX: the suspend count kept for Suspend/Resume, and for a child
  // started suspended, the pipe that reports whether its program could be
  // started once it is resumed (-1: none), with the command line for the
  // message.
  int32_t FSuspendCount = 0;
  intptr_t FStartReport = -1;
  std::string FStartedCommandLine;
};
