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
  Options_ = Value;
  if (Options_.Contains(poNewConsole)) Options_.Exclude(poNoConsole);
  if (Options_.Contains(poRunSuspended)) Options_.Exclude(poWaitOnExit);
}

void TProcess::SetCommandLine(const std::string& Value) {
  if (Value == CommandLine_) return;
  CommandLine_ = Value;
  if (!Loading) SplitCommandLine();
}

void TProcess::SetWindowLeft(uint32_t Value) {
  WindowLeft_ = Value;
  if (Value != 0) StartupOptions.Include(suoUsePosition);
}

void TProcess::SetWindowTop(uint32_t Value) {
  WindowTop_ = Value;
  if (Value != 0) StartupOptions.Include(suoUsePosition);
}

void TProcess::SetWindowWidth(uint32_t Value) {
  WindowWidth_ = Value;
  if (Value != 0) StartupOptions.Include(suoUseSize);
}

void TProcess::SetWindowHeight(uint32_t Value) {
  WindowHeight_ = Value;
  if (Value != 0) StartupOptions.Include(suoUseSize);
}

void TProcess::SetWindowColumns(uint32_t Value) {
  WindowColumns_ = Value;
  if (Value != 0) StartupOptions.Include(suoUseCountChars);
}

void TProcess::SetWindowRows(uint32_t Value) {
  WindowRows_ = Value;
  if (Value != 0) StartupOptions.Include(suoUseCountChars);
}

bool TProcess::Running() {
  if (Running_) Running_ = PlatformRunning();
  return Running_;
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
  return ExitCode_;
}

void TProcess::Execute() {
  if (ApplicationName.empty() && CommandLine_.empty() && Executable.empty())
    throw EProcess("Cannot execute empty command-line");
  PlatformExecute();
  Running_ = true;
  if (Options_.Contains(poWaitOnExit) && !Options_.Contains(poRunSuspended)) WaitForExit();
}

bool TProcess::WaitForExit() {
  bool ok = PlatformWaitForExit();
  Running_ = false;
  return ok;
}

bool TProcess::Terminate(int32_t AExitCode) { return PlatformTerminate(AExitCode); }

int32_t TProcess::Suspend() { return PlatformSuspend(); }

int32_t TProcess::Resume() { return PlatformResume(); }

void TProcess::CloseHandles() { PlatformCloseHandles(); }

void TProcess::CreatePipeStreams() {
  if (PendingInput_ != -1) InputPipe_ = new TPipeStream(PendingInput_);
  if (PendingOutput_ != -1) OutputPipe_ = new TPipeStream(PendingOutput_);
  if (PendingError_ != -1)
    ErrorPipe_ = new TPipeStream(PendingError_);
  else if (Options_.Contains(poStderrToOutPut))
    ErrorPipe_ = OutputPipe_;
  PendingInput_ = PendingOutput_ = PendingError_ = -1;
}

void TProcess::CloseInputPipe() {
  delete InputPipe_;
  InputPipe_ = nullptr;
}

void TProcess::CloseOutputPipe() {
  // With stderr sent into the output pipe both names stand for one stream.
  if (ErrorPipe_ == OutputPipe_) ErrorPipe_ = nullptr;
  delete OutputPipe_;
  OutputPipe_ = nullptr;
}

void TProcess::CloseErrorPipe() {
  if (ErrorPipe_ != OutputPipe_) delete ErrorPipe_;
  ErrorPipe_ = nullptr;
}

void TProcess::FreePipeStreams() {
  CloseErrorPipe();
  CloseOutputPipe();
  CloseInputPipe();
}

namespace {

bool IsCommandLineSpace(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

}  // namespace

TStringList TProcess::SplitCommandLineWords(const std::string& Text) {
  TStringList words;
  size_t pos = 0;
  const size_t n = Text.size();
  while (pos < n && IsCommandLineSpace(Text[pos])) ++pos;
  while (pos < n) {
    size_t start = pos;
    char quote = 0;
    for (; pos < n; ++pos) {
      char c = Text[pos];
      if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (IsCommandLineSpace(c)) {
        break;
      }
    }
    std::string word = Text.substr(start, pos - start);
    if (!word.empty() && (word.front() == '"' || word.front() == '\'') &&
        word.back() == word.front()) {
      // A lone quote character is both the first and the last one.
      word = word.size() >= 2 ? word.substr(1, word.size() - 2) : std::string();
    }
    if (!word.empty()) words.push_back(word);
    while (pos < n && IsCommandLineSpace(Text[pos])) ++pos;
  }
  return words;
}

void TProcess::SplitCommandLine() {
  Parameters = SplitCommandLineWords(CommandLine_);
  if (!Parameters.empty()) {
    Executable = Parameters.front();
    Parameters.erase(Parameters.begin());
  }
}

std::string TProcess::QuoteIfNeeded(const std::string& Word) {
  if (Word.find(' ') != std::string::npos && Word.find('"') == std::string::npos)
    return '"' + Word + '"';
  return Word;
}

std::string TProcess::ModuleName() const { return ApplicationName; }

std::string TProcess::BuildCommandLine() const {
  if (!ApplicationName.empty() || !CommandLine_.empty()) return CommandLine_;
  std::string line = QuoteIfNeeded(Executable);
  for (const std::string& p : Parameters) {
    line += ' ';
    line += QuoteIfNeeded(p);
  }
  return line;
}

uint32_t TProcess::CreationFlags() const {
  static const uint32_t kOptionFlags[] = {
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
  static const uint32_t kPriorityClass[] = {
      0x80,   // ppHigh: HIGH_PRIORITY_CLASS
      0x40,   // ppIdle: IDLE_PRIORITY_CLASS
      0x20,   // ppNormal: NORMAL_PRIORITY_CLASS
      0x100,  // ppRealTime: REALTIME_PRIORITY_CLASS
  };
  uint32_t flags = kPriorityClass[Priority];
  for (unsigned o = poRunSuspended; o <= poDebugOnlyThisProcess; ++o)
    if (Options_.Contains(static_cast<TProcessOption>(o))) flags |= kOptionFlags[o];
  return flags;
}

uint32_t TProcess::StartupFlags() const {
  static const uint32_t kStartupFlag[] = {
      0x1,   // suoUseShowWindow: STARTF_USESHOWWINDOW
      0x2,   // suoUseSize: STARTF_USESIZE
      0x4,   // suoUsePosition: STARTF_USEPOSITION
      0x8,   // suoUseCountChars: STARTF_USECOUNTCHARS
      0x10,  // suoUseFillAttribute: STARTF_USEFILLATTRIBUTE
  };
  uint32_t flags = 0;
  for (unsigned o = suoUseShowWindow; o <= suoUseFillAttribute; ++o)
    if (StartupOptions.Contains(static_cast<TStartupOption>(o))) flags |= kStartupFlag[o];
  if (Options_.Contains(poUsePipes)) flags |= 0x100;  // STARTF_USESTDHANDLES
  // The show state decides the show-window flag, whatever StartupOptions says.
  if (ShowWindow != swoNone)
    flags |= 0x1;
  else
    flags &= ~uint32_t(0x1);
  if (FillAttribute != 0) flags |= 0x10;
  return flags;
}

uint16_t TProcess::ShowWindowValue() const {
  static const uint16_t kShow[] = {
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
  return kShow[ShowWindow];
}
