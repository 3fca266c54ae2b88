// Pipe streams over POSIX file descriptors: the handle stream's reads, and
// writes that a vanished reader cannot turn into SIGPIPE.
#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>

#include "process/pipe_stream.h"

int32_t TPipeStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  // A reader that is gone must give a failed write, not end this process by
  // SIGPIPE: the signal is held back for this thread during the write and a
  // SIGPIPE that the write raised is taken away again.
  sigset_t PipeSignal, Old, Pending;
  sigemptyset(&PipeSignal);
  sigaddset(&PipeSignal, SIGPIPE);
  sigpending(&Pending);
  const bool WasPending = sigismember(&Pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &PipeSignal, &Old);
  const int32_t Written = THandleStream::Write(Buffer, Count);
  if (Written == 0 && errno == EPIPE && !WasPending) {
    const struct timespec Zero = {0, 0};
    while (sigtimedwait(&PipeSignal, nullptr, &Zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &Old, nullptr);
  return Written;
}

uint32_t TPipeStream::NumBytesAvailable() const {
  int Available = 0;
  if (ioctl(static_cast<int>(Handle), FIONREAD, &Available) != 0 || Available < 0) return 0;
  return static_cast<uint32_t>(Available);
}
