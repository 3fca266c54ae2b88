// Pipe streams over POSIX file descriptors.
#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include "process/pipe_stream.h"

TPipeStream::~TPipeStream() {
  if (Handle_ >= 0) close(static_cast<int>(Handle_));
}

int32_t TPipeStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  ssize_t n;
  do {
    n = read(static_cast<int>(Handle_), Buffer, static_cast<size_t>(Count));
  } while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int32_t TPipeStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  // A reader that is gone must give a failed write, not end this process by
  // SIGPIPE: the signal is held back for this thread during the write and a
  // SIGPIPE that the write raised is taken away again.
  sigset_t pipeSignal, old, pending;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeSignal, &old);
  ssize_t n;
  do {
    n = write(static_cast<int>(Handle_), Buffer, static_cast<size_t>(Count));
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EPIPE && !wasPending) {
    const struct timespec zero = {0, 0};
    while (sigtimedwait(&pipeSignal, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return n < 0 ? 0 : static_cast<int32_t>(n);
}

int64_t TPipeStream::Seek(int64_t, TSeekOrigin) { return -1; }

bool TPipeStream::SetSize(int64_t) { return false; }

uint32_t TPipeStream::NumBytesAvailable() const {
  int n = 0;
  if (ioctl(static_cast<int>(Handle_), FIONREAD, &n) != 0 || n < 0) return 0;
  return static_cast<uint32_t>(n);
}
