// The relay on POSIX: handlers for SIGTERM, SIGINT and SIGHUP that pass the
// signal on to the application. A signal that the terminal sent to its
// whole foreground group (Ctrl-C) has reached the application already and is
// not sent a second time.
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include "launcher/signal_relay.h"

namespace {

const int RelayedSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int RelayedCount = sizeof(RelayedSignals) / sizeof(RelayedSignals[0]);

volatile sig_atomic_t Target = 0;   // the application's process id, 0 while none runs
volatile sig_atomic_t Pending = 0;  // a request that came while none ran
struct sigaction Previous[RelayedCount];

void Relay(int Signal, siginfo_t* Info, void*) {
  // kill may set errno, which the interrupted code may be about to read.
  const int SavedErrno = errno;
  const pid_t Pid = static_cast<pid_t>(Target);
  if (Pid > 0) {
    if (Info == nullptr || Info->si_code != SI_KERNEL) kill(Pid, Signal);
  } else if (Pending == 0) {
    Pending = Signal;
  }
  errno = SavedErrno;
}

}  // namespace

TSignalRelay::TSignalRelay() {
  Target = 0;
  Pending = 0;
  struct sigaction Action = {};
  Action.sa_sigaction = Relay;
  Action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&Action.sa_mask);
  for (int I = 0; I < RelayedCount; ++I) sigaddset(&Action.sa_mask, RelayedSignals[I]);
  for (int I = 0; I < RelayedCount; ++I) sigaction(RelayedSignals[I], &Action, &Previous[I]);
}

TSignalRelay::~TSignalRelay() {
  Target = 0;
  for (int I = 0; I < RelayedCount; ++I) sigaction(RelayedSignals[I], &Previous[I], nullptr);
}

void TSignalRelay::PassTo(uint32_t ProcessId) {
  Target = static_cast<sig_atomic_t>(ProcessId);
  const int Signal = Pending;
  if (Signal != 0 && ProcessId != 0) kill(static_cast<pid_t>(ProcessId), Signal);
}

void TSignalRelay::Stop() { Target = 0; }

int TSignalRelay::PendingRequest() const { return Pending; }
