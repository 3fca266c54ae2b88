// Requests to stop that reach the launcher while its application runs are
// the application's to answer: the launcher passes them on and keeps waiting,
// so that it can still carry the application's output back. On POSIX these
// are SIGTERM, SIGINT and SIGHUP; Windows has no such requests for a program
// without a console.
#pragma once

#include <cstdint>

class TSignalRelay {
 public:
  // Installs the relay for the life of the object.
  TSignalRelay();
  ~TSignalRelay();
  TSignalRelay(const TSignalRelay&) = delete;
  TSignalRelay& operator=(const TSignalRelay&) = delete;

  // From now on requests go to the process ProcessId; one that came while no
  // application ran is passed on at once.
  void PassTo(uint32_t ProcessId);
  // The application has ended: requests are only noted again.
  void Stop();
  // The number of the first request that came while no application ran, or
  // 0; the launcher then does not start the application.
  int PendingRequest() const;
};
