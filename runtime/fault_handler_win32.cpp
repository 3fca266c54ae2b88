// Access violations and integer divisions by zero that no handler takes
// reach the unhandled-exception
// filter, which reports them with the faulting address and the return
// addresses unwound from the faulting context.
#include <windows.h>

#include "runtime/fault_handler.h"
#include "runtime/stack_capture.h"

namespace {

// Unwinds the faulting context, innermost caller first.
unsigned WalkReturnAddresses(const CONTEXT& Faulting, unsigned long long* Out, unsigned Max) {
  CONTEXT Context = Faulting;
  unsigned Count = 0;
  while (Count < Max) {
    DWORD64 ImageBase = 0;
    PRUNTIME_FUNCTION Entry = RtlLookupFunctionEntry(Context.Rip, &ImageBase, nullptr);
    if (Entry == nullptr) {
      // A leaf function: the return address is on top of the stack.
      if (Context.Rsp == 0) break;
      Context.Rip = *reinterpret_cast<DWORD64*>(Context.Rsp);
      Context.Rsp += 8;
    } else {
      PVOID HandlerData = nullptr;
      DWORD64 EstablisherFrame = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, ImageBase, Context.Rip, Entry, &Context, &HandlerData, &EstablisherFrame,
                       nullptr);
    }
    if (Context.Rip == 0) break;
    Out[Count++] = Context.Rip;
  }
  // Only the launcher's own frames: not the system's start-up code below
  // main, nor any other module's.
  return static_cast<unsigned>(KeepOwnFrames(Out, Count));
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* Pointers) {
  if (Pointers == nullptr || Pointers->ExceptionRecord == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  const char* ClassName;
  const char* Message;
  switch (Pointers->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
      ClassName = "EAccessViolation";
      Message = "Access violation";
      break;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      ClassName = "EDivByZero";
      Message = "Division by zero";
      break;
    default: return EXCEPTION_CONTINUE_SEARCH;
  }
  unsigned long long Frames[16];
  unsigned Count = Pointers->ContextRecord != nullptr ? WalkReturnAddresses(*Pointers->ContextRecord, Frames, 16) : 0;
  ReportFaultAndEnd(ClassName, Message,
                    reinterpret_cast<unsigned long long>(Pointers->ExceptionRecord->ExceptionAddress), Frames, Count);
}

}  // namespace

void InstallFaultHandler() { SetUnhandledExceptionFilter(OnUnhandledException); }
