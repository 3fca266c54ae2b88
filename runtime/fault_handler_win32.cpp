// Access violations and integer divisions by zero that no handler takes
// reach the unhandled-exception
// filter, which reports them with the faulting address and the return
// addresses unwound from the faulting context.
#include "runtime/fault_handler.h"

#include <windows.h>

#include "runtime/stack_capture.h"

namespace {

// Unwinds the faulting context, innermost caller first.
unsigned WalkReturnAddresses(const CONTEXT& Faulting, unsigned long long* Out, unsigned Max) {
  CONTEXT context = Faulting;
  unsigned count = 0;
  while (count < Max) {
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION entry = RtlLookupFunctionEntry(context.Rip, &imageBase, nullptr);
    if (entry == nullptr) {
      // A leaf function: the return address is on top of the stack.
      if (context.Rsp == 0) break;
      context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
      context.Rsp += 8;
    } else {
      PVOID handlerData = nullptr;
      DWORD64 establisherFrame = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, context.Rip, entry, &context, &handlerData,
                       &establisherFrame, nullptr);
    }
    if (context.Rip == 0) break;
    Out[count++] = context.Rip;
  }
  // Only the launcher's own frames: not the system's start-up code below
  // main, nor any other module's.
  return static_cast<unsigned>(KeepOwnFrames(Out, count));
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* Pointers) {
  if (Pointers == nullptr || Pointers->ExceptionRecord == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  const char* className;
  const char* message;
  switch (Pointers->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
      className = "EAccessViolation";
      message = "Access violation";
      break;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      className = "EDivByZero";
      message = "Division by zero";
      break;
    default:
      return EXCEPTION_CONTINUE_SEARCH;
  }
  unsigned long long frames[16];
  unsigned count = Pointers->ContextRecord != nullptr
                       ? WalkReturnAddresses(*Pointers->ContextRecord, frames, 16)
                       : 0;
  ReportFaultAndEnd(className, message,
                    reinterpret_cast<unsigned long long>(Pointers->ExceptionRecord->ExceptionAddress),
                    frames, count);
}

}  // namespace

void InstallFaultHandler() { SetUnhandledExceptionFilter(OnUnhandledException); }
