// The process object on Windows: one CreateProcessW call. Texts are UTF-8 and
// reach Windows as UTF-16, like every path of the system.
#include <windows.h>

#include "fs/handle_win32.h"
#include "process/process.h"
#include "runtime/exceptions.h"
#include "runtime/wide_text_win32.h"

namespace {

// The pipes of one start: the child's ends are inheritable, the caller's
// ends are not, so they never reach the child.
struct TPipeSet {
  HANDLE ChildIn = nullptr, CallerIn = nullptr;
  HANDLE CallerOut = nullptr, ChildOut = nullptr;
  HANDLE CallerErr = nullptr, ChildErr = nullptr;

  static void Close(HANDLE& H) {
    if (H != nullptr) CloseHandle(H);
    H = nullptr;
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
  SECURITY_ATTRIBUTES Sa;
  ZeroMemory(&Sa, sizeof Sa);
  Sa.nLength = sizeof Sa;
  Sa.bInheritHandle = TRUE;
  HANDLE ReadEnd = nullptr, WriteEnd = nullptr;
  if (!CreatePipe(&ReadEnd, &WriteEnd, &Sa, Size)) return false;
  HANDLE CallerInheritable = CallerReads ? ReadEnd : WriteEnd;
  ChildEnd = CallerReads ? WriteEnd : ReadEnd;
  HANDLE Self = GetCurrentProcess();
  if (!DuplicateHandle(Self, CallerInheritable, Self, &CallerEnd, 0, FALSE,
                       DUPLICATE_SAME_ACCESS | DUPLICATE_CLOSE_SOURCE)) {
    DWORD Err = GetLastError();
    CloseHandle(ReadEnd);
    CloseHandle(WriteEnd);
    ChildEnd = nullptr;
    CallerEnd = nullptr;
    SetLastError(Err);
    return false;
  }
  return true;
}

}  // namespace

void TProcess::PlatformExecute() {
  const std::string ShownCommandLine = BuildCommandLine();
  const std::string Module = ModuleName();
  std::wstring WideModule = Utf8ToWide(Module);
  std::wstring WideCommandLine = Utf8ToWide(ShownCommandLine);
  std::wstring WideFolder = Utf8ToWide(CurrentDirectory);
  // CreateProcessW may write into the command line.
  std::vector<wchar_t> CommandBuffer(WideCommandLine.begin(), WideCommandLine.end());
  CommandBuffer.push_back(L'\0');

  // Every entry and its NUL, then one more NUL; freed with this function.
  std::wstring EnvironmentBlock;
  for (const std::string& Entry : Environment) {
    EnvironmentBlock += Utf8ToWide(Entry);
    EnvironmentBlock += L'\0';
  }
  if (!Environment.empty()) EnvironmentBlock += L'\0';

  DWORD Flags = CreationFlags();
  if (!Environment.empty()) Flags |= CREATE_UNICODE_ENVIRONMENT;

  SECURITY_ATTRIBUTES ProcessAttributes, ThreadAttributes;
  ZeroMemory(&ProcessAttributes, sizeof ProcessAttributes);
  ProcessAttributes.nLength = sizeof ProcessAttributes;
  ZeroMemory(&ThreadAttributes, sizeof ThreadAttributes);
  ThreadAttributes.nLength = sizeof ThreadAttributes;

  STARTUPINFOW Si;
  ZeroMemory(&Si, sizeof Si);
  Si.cb = sizeof Si;
  Si.dwFlags = StartupFlags();
  Si.wShowWindow = ShowWindowValue();
  Si.dwFillAttribute = FillAttribute;
  Si.dwXCountChars = FWindowColumns;
  Si.dwYCountChars = FWindowRows;
  Si.dwXSize = FWindowWidth;
  Si.dwYSize = FWindowHeight;
  Si.dwX = FWindowLeft;
  Si.dwY = FWindowTop;

  const bool UsePipes = FOptions.Contains(poUsePipes);
  const bool ErrToOut = FOptions.Contains(poStderrToOutPut);
  TPipeSet Pipes;
  auto Fail = [&](DWORD Err) {
    Pipes.CloseAll();
    throw EProcess(FormatText("Failed to execute %s : %d", ShownCommandLine, static_cast<uint32_t>(Err)));
  };
  if (UsePipes) {
    bool Ok = MakePipe(Pipes.ChildIn, Pipes.CallerIn, false, PipeBufferSize) &&
              MakePipe(Pipes.ChildOut, Pipes.CallerOut, true, PipeBufferSize) &&
              (ErrToOut || MakePipe(Pipes.ChildErr, Pipes.CallerErr, true, PipeBufferSize));
    if (!Ok) Fail(GetLastError());
    Si.hStdInput = Pipes.ChildIn;
    Si.hStdOutput = Pipes.ChildOut;
    Si.hStdError = ErrToOut ? Pipes.ChildOut : Pipes.ChildErr;
  }

  PROCESS_INFORMATION Pi;
  ZeroMemory(&Pi, sizeof Pi);
  // The child's pipe ends reach it only through inheritance.
  const BOOL Inherit = (InheritHandles || UsePipes) ? TRUE : FALSE;
  BOOL Created = CreateProcessW(Module.empty() ? nullptr : WideModule.c_str(), CommandBuffer.data(), &ProcessAttributes,
                                &ThreadAttributes, Inherit, Flags, Environment.empty() ? nullptr : &EnvironmentBlock[0],
                                CurrentDirectory.empty() ? nullptr : WideFolder.c_str(), &Si, &Pi);
  if (!Created) Fail(GetLastError());

  Pipes.CloseChildEnds();
  FreePipeStreams();
  CloseHandles();
  FProcessHandle = AsInteger(Pi.hProcess);
  FThreadHandle = AsInteger(Pi.hThread);
  FProcessId = Pi.dwProcessId;
  if (UsePipes) {
    FPendingInput = AsInteger(Pipes.CallerIn);
    FPendingOutput = AsInteger(Pipes.CallerOut);
    FPendingError = Pipes.CallerErr != nullptr ? AsInteger(Pipes.CallerErr) : -1;
    CreatePipeStreams();
  }
}

bool TProcess::PlatformRunning() {
  DWORD Code = 0;
  if (!GetExitCodeProcess(AsHandle(FProcessHandle), &Code)) return true;
  FExitCode = Code;
  return Code == STILL_ACTIVE;
}

bool TProcess::PlatformWaitForExit() {
  DWORD R = WaitForSingleObject(AsHandle(FProcessHandle), INFINITE);
  if (R == WAIT_FAILED) return false;
  Running();
  return true;
}

bool TProcess::PlatformTerminate(int32_t AExitCode) {
  if (ExitCode() != STILL_ACTIVE) return false;
  return TerminateProcess(AsHandle(FProcessHandle), static_cast<UINT>(AExitCode)) != 0;
}

int32_t TProcess::PlatformSuspend() { return static_cast<int32_t>(SuspendThread(AsHandle(FThreadHandle))); }

int32_t TProcess::PlatformResume() { return static_cast<int32_t>(ResumeThread(AsHandle(FThreadHandle))); }

void TProcess::PlatformCloseHandles() {
  if (FProcessHandle != 0) CloseHandle(AsHandle(FProcessHandle));
  if (FThreadHandle != 0) CloseHandle(AsHandle(FThreadHandle));
  FProcessHandle = 0;
  FThreadHandle = 0;
}
