// The small pool of threads the archive reader and writer share their work
// on: every entry's file is made, written and closed on one of a few
// workers, so the wait of one file's creation or close (a scanner's check,
// a slow disk) overlaps the decoding of the next. Platform halves in
// worker_pool_posix.cpp / worker_pool_win32.cpp.
#pragma once

#include <functional>
#include <memory>

// The most workers that pay: one per processor this process may run on,
// at least 1 and at most 8.
int WorkerCount();

// Runs Body(Worker) on Count workers at once (Worker 0 on the calling
// thread, the others on threads of their own) and returns when every one
// has returned. Bodies share their work through what they capture and take
// it from there until none is left, so a thread the system refuses to start
// only leaves its share to the others. Body must not raise.
void RunWorkers(int Count, const std::function<void(int Worker)>& Body);

// A lock with a signal, for workers that wait on each other's progress.
class TWorkGate {
 public:
  TWorkGate();
  ~TWorkGate();
  TWorkGate(const TWorkGate&) = delete;
  TWorkGate& operator=(const TWorkGate&) = delete;

  void Lock();
  void Unlock();
  // Called with the lock held: lets it go, waits for WakeAll (or a spurious
  // wake-up: callers test their condition again), and takes it back.
  void Wait();
  void WakeAll();

 private:
  struct TState;
  std::unique_ptr<TState> FState;
};

// Holds a TWorkGate's lock for the scope.
class TWorkGateHold {
 public:
  explicit TWorkGateHold(TWorkGate& Gate) : FGate(Gate) { FGate.Lock(); }
  ~TWorkGateHold() { FGate.Unlock(); }
  TWorkGateHold(const TWorkGateHold&) = delete;
  TWorkGateHold& operator=(const TWorkGateHold&) = delete;

 private:
  TWorkGate& FGate;
};
