// The process object on Windows: one CreateProcessW call. Texts are UTF-8 and
// reach Windows as UTF-16, like every path of the system.
#include <windows.h>

#include "fs/handle_win32.h"
#include "runtime/wide_text_win32.h"
#include "process/process.h"
#include "runtime/exceptions.h"

namespace {

// The pipes of one start: the child's ends are inheritable, the caller's
// ends are not, so they never reach the child.
struct TPipeSet {
  HANDLE ChildIn = nullptr, CallerIn = nullptr;
  HANDLE CallerOut = nullptr, ChildOut = nullptr;
  HANDLE CallerErr = nullptr, ChildErr = nullptr;

  static void Close(HANDLE& h) {
    if (h != nullptr) CloseHandle(h);
    h = nullptr;
  }
  void CloseChildEnds() {
    Close(ChildIn);
    Close(ChildOut);
    Close(ChildErr);
  }
  void CloseAll() {
    CloseChildEnds();
    Close(CallerIn);
    Close(CallerOut);
    Close(CallerErr);
  }
};

// One pipe; CallerReads says which end the caller keeps. The caller's end is
// duplicated as non-inheritable and the inheritable original closed.
bool MakePipe(HANDLE& ChildEnd, HANDLE& CallerEnd, bool CallerReads, DWORD Size) {
  SECURITY_ATTRIBUTES sa;
  ZeroMemory(&sa, sizeof sa);
  sa.nLength = sizeof sa;
  sa.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, Size)) return false;
  HANDLE callerInheritable = CallerReads ? readEnd : writeEnd;
  ChildEnd = CallerReads ? writeEnd : readEnd;
  HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, callerInheritable, self, &CallerEnd, 0, FALSE,
                       DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE)) {
    DWORD err = GetLastError();
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
    ChildEnd = nullptr;
    CallerEnd = nullptr;
    SetLastError(err);
    return false;
  }
  return true;
}

}  // namespace

void TProcess::PlatformExecute() {
  const std::string commandLine = BuildCommandLine();
  const std::string module = ModuleName();
  std::wstring wideModule = Utf8ToWide(module);
  std::wstring wideCommandLine = Utf8ToWide(commandLine);
  std::wstring wideFolder = Utf8ToWide(CurrentDirectory);
  // CreateProcessW may write into the command line.
  std::vector<wchar_t> commandBuffer(wideCommandLine.begin(), wideCommandLine.end());
  commandBuffer.push_back(L'\0');

  // Every entry and its NUL, then one more NUL; freed with this function.
  std::wstring environmentBlock;
  for (const std::string& entry : Environment) {
    environmentBlock += Utf8ToWide(entry);
    environmentBlock += L'\0';
  }
  if (!Environment.empty()) environmentBlock += L'\0';

  DWORD creationFlags = CreationFlags();
  if (!Environment.empty()) creationFlags |= CREATE_UNICODE_ENVIRONMENT;

  SECURITY_ATTRIBUTES processAttributes, threadAttributes;
  ZeroMemory(&processAttributes, sizeof processAttributes);
  processAttributes.nLength = sizeof processAttributes;
  ZeroMemory(&threadAttributes, sizeof threadAttributes);
  threadAttributes.nLength = sizeof threadAttributes;

  STARTUPINFOW si;
  ZeroMemory(&si, sizeof si);
  si.cb = sizeof si;
  si.dwFlags = StartupFlags();
  si.wShowWindow = ShowWindowValue();
  si.dwFillAttribute = FillAttribute;
  si.dwXCountChars = WindowColumns_;
  si.dwYCountChars = WindowRows_;
  si.dwXSize = WindowWidth_;
  si.dwYSize = WindowHeight_;
  si.dwX = WindowLeft_;
  si.dwY = WindowTop_;

  const bool usePipes = Options_.Contains(poUsePipes);
  const bool errToOut = Options_.Contains(poStderrToOutPut);
  TPipeSet pipes;
  auto fail = [&](DWORD Err) {
    pipes.CloseAll();
    throw EProcess(FormatText("Failed to execute %s : %d", commandLine, static_cast<uint32_t>(Err)));
  };
  if (usePipes) {
    bool ok = MakePipe(pipes.ChildIn, pipes.CallerIn, false, PipeBufferSize) &&
              MakePipe(pipes.ChildOut, pipes.CallerOut, true, PipeBufferSize) &&
              (errToOut || MakePipe(pipes.ChildErr, pipes.CallerErr, true, PipeBufferSize));
    if (!ok) fail(GetLastError());
    si.hStdInput = pipes.ChildIn;
    si.hStdOutput = pipes.ChildOut;
    si.hStdError = errToOut ? pipes.ChildOut : pipes.ChildErr;
  }

  PROCESS_INFORMATION pi;
  ZeroMemory(&pi, sizeof pi);
  // The child's pipe ends reach it only through inheritance.
  const BOOL inherit = (InheritHandles || usePipes) ? TRUE : FALSE;
  BOOL created = CreateProcessW(module.empty() ? nullptr : wideModule.c_str(), commandBuffer.data(),
                                &processAttributes, &threadAttributes, inherit, creationFlags,
                                Environment.empty() ? nullptr : &environmentBlock[0],
                                CurrentDirectory.empty() ? nullptr : wideFolder.c_str(), &si, &pi);
  if (!created) fail(GetLastError());

  pipes.CloseChildEnds();
  FreePipeStreams();
  CloseHandles();
  ProcessHandle_ = AsInteger(pi.hProcess);
  ThreadHandle_ = AsInteger(pi.hThread);
  ProcessID_ = pi.dwProcessId;
  if (usePipes) {
    PendingInput_ = AsInteger(pipes.CallerIn);
    PendingOutput_ = AsInteger(pipes.CallerOut);
    PendingError_ = pipes.CallerErr != nullptr ? AsInteger(pipes.CallerErr) : -1;
    CreatePipeStreams();
  }
}

bool TProcess::PlatformRunning() {
  DWORD code = 0;
  if (!GetExitCodeProcess(AsHandle(ProcessHandle_), &code)) return true;
  ExitCode_ = code;
  return code == STILL_ACTIVE;
}

bool TProcess::PlatformWaitForExit() {
  DWORD r = WaitForSingleObject(AsHandle(ProcessHandle_), INFINITE);
  if (r == WAIT_FAILED) return false;
  Running();
  return true;
}

bool TProcess::PlatformTerminate(int32_t AExitCode) {
  if (ExitCode() != STILL_ACTIVE) return false;
  return TerminateProcess(AsHandle(ProcessHandle_), static_cast<UINT>(AExitCode)) != 0;
}

int32_t TProcess::PlatformSuspend() {
  return static_cast<int32_t>(SuspendThread(AsHandle(ThreadHandle_)));
}

int32_t TProcess::PlatformResume() {
  return static_cast<int32_t>(ResumeThread(AsHandle(ThreadHandle_)));
}

void TProcess::PlatformCloseHandles() {
  if (ProcessHandle_ != 0) CloseHandle(AsHandle(ProcessHandle_));
  if (ThreadHandle_ != 0) CloseHandle(AsHandle(ThreadHandle_));
  ProcessHandle_ = 0;
  ThreadHandle_ = 0;
}
