// Segmentation faults, bus errors and integer divisions by zero are caught by
// a signal handler on an
// alternate stack (a stack overflow leaves no room on the faulting stack). The
// handler uses only async-signal-safe calls: it formats the report by hand,
// writes it with write(2) and ends with _exit.
#include <ucontext.h>

#include <csignal>
#include <cstring>

#include "runtime/fault_handler.h"

namespace {

alignas(16) char AlternateStack[64 * 1024];

// The address of the faulting instruction, from the interrupted context.
unsigned long long FaultingInstruction(const siginfo_t* Info, const void* Context) {
  const ucontext_t* Uc = static_cast<const ucontext_t*>(Context);
#if defined(__x86_64__)
  if (Uc != nullptr) return static_cast<unsigned long long>(Uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  if (uc != nullptr) return static_cast<unsigned long long>(uc->uc_mcontext.pc);
#else
  (void)uc;
#endif
  return reinterpret_cast<unsigned long long>(Info->si_addr);
}

void OnFault(int Signal, siginfo_t* Info, void* Context) {
  // Return addresses are not listed: walking the stack is not
  // async-signal-safe.
  unsigned long long Address = FaultingInstruction(Info, Context);
  if (Signal == SIGFPE) {
    if (Info->si_code == FPE_INTDIV) ReportFaultAndEnd("EDivByZero", "Division by zero", Address, nullptr, 0);
    // Any other arithmetic signal keeps the system's default behaviour.
    signal(SIGFPE, SIG_DFL);
    raise(SIGFPE);
    return;
  }
  ReportFaultAndEnd("EAccessViolation", "Access violation", Address, nullptr, 0);
}

}  // namespace

void InstallFaultHandler() {
  stack_t Stack;
  std::memset(&Stack, 0, sizeof(Stack));
  Stack.ss_sp = AlternateStack;
  Stack.ss_size = sizeof(AlternateStack);
  Stack.ss_flags = 0;
  sigaltstack(&Stack, nullptr);

  struct sigaction Action;
  std::memset(&Action, 0, sizeof(Action));
  Action.sa_sigaction = OnFault;
  Action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&Action.sa_mask);
  sigaction(SIGSEGV, &Action, nullptr);
  sigaction(SIGBUS, &Action, nullptr);
  sigaction(SIGFPE, &Action, nullptr);
}
