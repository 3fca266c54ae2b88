// The platform-free half of the process object: construction, property
// rules, word cutting, quoting, the command line and the Windows flag tables.
#include "process/process.h"

#include "runtime/exceptions.h"

TProcess::TProcess(TComponent* AOwner) : TComponent(AOwner) {}

TProcess::~TProcess() {
  FreePipeStreams();
  TProcess::CloseHandles();
}

void TProcess::SetOptions(TProcessOptions Value) {
  FOptions = Value;
  if (FOptions.Contains(poNewConsole)) FOptions.Exclude(poNoConsole);
  if (FOptions.Contains(poRunSuspended)) FOptions.Exclude(poWaitOnExit);
}

void TProcess::SetCommandLine(const std::string& Value) {
  if (Value == FCommandLine) return;
  FCommandLine = Value;
  if (!Loading) SplitCommandLine();
}

namespace {

// A window setting: a non-zero value also asks the system to use it.
void SetWindowSetting(uint32_t& Field, uint32_t Value, TStartupOptions& Options, TStartupOption Use) {
  Field = Value;
  if (Value != 0) Options.Include(Use);
}

}  // namespace

void TProcess::SetWindowLeft(uint32_t Value) { SetWindowSetting(FWindowLeft, Value, StartupOptions, suoUsePosition); }
void TProcess::SetWindowTop(uint32_t Value) { SetWindowSetting(FWindowTop, Value, StartupOptions, suoUsePosition); }
void TProcess::SetWindowWidth(uint32_t Value) { SetWindowSetting(FWindowWidth, Value, StartupOptions, suoUseSize); }
void TProcess::SetWindowHeight(uint32_t Value) { SetWindowSetting(FWindowHeight, Value, StartupOptions, suoUseSize); }
void TProcess::SetWindowColumns(uint32_t Value) {
  SetWindowSetting(FWindowColumns, Value, StartupOptions, suoUseCountChars);
}
void TProcess::SetWindowRows(uint32_t Value) { SetWindowSetting(FWindowRows, Value, StartupOptions, suoUseCountChars); }

bool TProcess::Running() {
  if (FRunning) FRunning = PlatformRunning();
  return FRunning;
}

void TProcess::SetActive(bool Value) {
  if (Value == Running()) return;
  if (Value)
    Execute();
  else
    Terminate(0);
}

uint32_t TProcess::ExitCode() {
  Running();
  return FExitCode;
}

void TProcess::Execute() {
  if (ApplicationName.empty() && FCommandLine.empty() && Executable.empty())
    throw EProcess("Cannot execute empty command-line");
  PlatformExecute();
  FRunning = true;
  if (FOptions.Contains(poWaitOnExit) && !FOptions.Contains(poRunSuspended)) WaitForExit();
}

bool TProcess::WaitForExit() {
  bool Ok = PlatformWaitForExit();
  FRunning = false;
  return Ok;
}

bool TProcess::Terminate(int32_t AExitCode) { return PlatformTerminate(AExitCode); }

int32_t TProcess::Suspend() { return PlatformSuspend(); }

int32_t TProcess::Resume() { return PlatformResume(); }

void TProcess::CloseHandles() { PlatformCloseHandles(); }

void TProcess::CreatePipeStreams() {
  if (FPendingInput != -1) FInputPipe = new TPipeStream(FPendingInput);
  if (FPendingOutput != -1) FOutputPipe = new TPipeStream(FPendingOutput);
  if (FPendingError != -1)
    FErrorPipe = new TPipeStream(FPendingError);
  else if (FOptions.Contains(poStderrToOutPut))
    FErrorPipe = FOutputPipe;
  FPendingInput = FPendingOutput = FPendingError = -1;
}

void TProcess::CloseInputPipe() {
  delete FInputPipe;
  FInputPipe = nullptr;
}

void TProcess::CloseOutputPipe() {
  // With stderr sent into the output pipe both names stand for one stream.
  if (FErrorPipe == FOutputPipe) FErrorPipe = nullptr;
  delete FOutputPipe;
  FOutputPipe = nullptr;
}

void TProcess::CloseErrorPipe() {
  if (FErrorPipe != FOutputPipe) delete FErrorPipe;
  FErrorPipe = nullptr;
}

void TProcess::FreePipeStreams() {
  CloseErrorPipe();
  CloseOutputPipe();
  CloseInputPipe();
}

namespace {

bool IsCommandLineSpace(char C) { return C == '\t' || C == '\n' || C == '\r' || C == ' '; }

}  // namespace

TStringList TProcess::SplitCommandLineWords(const std::string& Text) {
  TStringList Words;
  size_t Pos = 0;
  const size_t N = Text.size();
  while (Pos < N && IsCommandLineSpace(Text[Pos])) ++Pos;
  while (Pos < N) {
    size_t Start = Pos;
    char Quote = 0;
    for (; Pos < N; ++Pos) {
      char C = Text[Pos];
      if (Quote != 0) {
        if (C == Quote) Quote = 0;
      } else if (C == '"' || C == '\'') {
        Quote = C;
      } else if (IsCommandLineSpace(C)) {
        break;
      }
    }
    std::string Word = Text.substr(Start, Pos - Start);
    if (!Word.empty() && (Word.front() == '"' || Word.front() == '\'') && Word.back() == Word.front()) {
      // A lone quote character is both the first and the last one.
      Word = Word.size() >= 2 ? Word.substr(1, Word.size() - 2) : std::string();
    }
    if (!Word.empty()) Words.push_back(Word);
    while (Pos < N && IsCommandLineSpace(Text[Pos])) ++Pos;
  }
  return Words;
}

void TProcess::SplitCommandLine() {
  Parameters = SplitCommandLineWords(FCommandLine);
  if (!Parameters.empty()) {
    Executable = Parameters.front();
    Parameters.erase(Parameters.begin());
  }
}

std::string TProcess::QuoteIfNeeded(const std::string& Word) {
  if (Word.find(' ') != std::string::npos && Word.find('"') == std::string::npos) return '"' + Word + '"';
  return Word;
}

std::string TProcess::ModuleName() const { return ApplicationName; }

std::string TProcess::BuildCommandLine() const {
  if (!ApplicationName.empty() || !FCommandLine.empty()) return FCommandLine;
  std::string Line = QuoteIfNeeded(Executable);
  for (const std::string& P : Parameters) {
    Line += ' ';
    Line += QuoteIfNeeded(P);
  }
  return Line;
}

uint32_t TProcess::CreationFlags() const {
  static const uint32_t OptionFlags[] = {
      0x4,        // poRunSuspended: CREATE_SUSPENDED
      0,          // poWaitOnExit
      0,          // poUsePipes
      0,          // poStderrToOutPut
      0x8,        // poNoConsole: DETACHED_PROCESS
      0x10,       // poNewConsole: CREATE_NEW_CONSOLE
      0x4000000,  // poDefaultErrorMode: CREATE_DEFAULT_ERROR_MODE
      0x200,      // poNewProcessGroup: CREATE_NEW_PROCESS_GROUP
      0x1,        // poDebugProcess: DEBUG_PROCESS
      0x2,        // poDebugOnlyThisProcess: DEBUG_ONLY_THIS_PROCESS
  };
  static const uint32_t PriorityClass[] = {
      0x80,   // ppHigh: HIGH_PRIORITY_CLASS
      0x40,   // ppIdle: IDLE_PRIORITY_CLASS
      0x20,   // ppNormal: NORMAL_PRIORITY_CLASS
      0x100,  // ppRealTime: REALTIME_PRIORITY_CLASS
  };
  uint32_t Flags = PriorityClass[Priority];
  for (unsigned O = poRunSuspended; O <= poDebugOnlyThisProcess; ++O)
    if (FOptions.Contains(static_cast<TProcessOption>(O))) Flags |= OptionFlags[O];
  return Flags;
}

uint32_t TProcess::StartupFlags() const {
  static const uint32_t StartupFlag[] = {
      0x1,   // suoUseShowWindow: STARTF_USESHOWWINDOW
      0x2,   // suoUseSize: STARTF_USESIZE
      0x4,   // suoUsePosition: STARTF_USEPOSITION
      0x8,   // suoUseCountChars: STARTF_USECOUNTCHARS
      0x10,  // suoUseFillAttribute: STARTF_USEFILLATTRIBUTE
  };
  uint32_t Flags = 0;
  for (unsigned O = suoUseShowWindow; O <= suoUseFillAttribute; ++O)
    if (StartupOptions.Contains(static_cast<TStartupOption>(O))) Flags |= StartupFlag[O];
  if (FOptions.Contains(poUsePipes)) Flags |= 0x100;  // STARTF_USESTDHANDLES
  // The show state decides the show-window flag, whatever StartupOptions says.
  if (ShowWindow != swoNone)
    Flags |= 0x1;
  else
    Flags &= ~uint32_t(0x1);
  if (FillAttribute != 0) Flags |= 0x10;
  return Flags;
}

uint16_t TProcess::ShowWindowValue() const {
  static const uint16_t Show[] = {
      0,   // swoNone
      0,   // swoHIDE: SW_HIDE
      3,   // swoMaximize: SW_MAXIMIZE
      6,   // swoMinimize: SW_MINIMIZE
      9,   // swoRestore: SW_RESTORE
      5,   // swoShow: SW_SHOW
      10,  // swoShowDefault: SW_SHOWDEFAULT
      3,   // swoShowMaximized: SW_SHOWMAXIMIZED
      2,   // swoShowMinimized: SW_SHOWMINIMIZED
      7,   // swoshowMinNOActive: SW_SHOWMINNOACTIVE
      8,   // swoShowNA: SW_SHOWNA
      4,   // swoShowNoActivate: SW_SHOWNOACTIVATE
      1,   // swoShowNormal: SW_SHOWNORMAL
  };
  return Show[ShowWindow];
}
