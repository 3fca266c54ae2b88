#include <windows.h>

#include <vector>

#include "zip/worker_pool.h"

namespace {

constexpr int MaxWorkers = 8;

struct TStart {
  const std::function<void(int)>* Body;
  int Worker;
};

DWORD WINAPI RunOne(LPVOID Argument) {
  const TStart* Start = static_cast<const TStart*>(Argument);
  (*Start->Body)(Start->Worker);
  return 0;
}

}  // namespace

int WorkerCount() {
  DWORD_PTR Process = 0, System = 0;
  int Count = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &Process, &System))
    for (; Process != 0; Process &= Process - 1) ++Count;
  if (Count < 1) return 1;
  return Count > MaxWorkers ? MaxWorkers : Count;
}

void RunWorkers(int Count, const std::function<void(int Worker)>& Body) {
  std::vector<TStart> Starts;
  Starts.reserve(Count > 1 ? Count - 1 : 0);
  std::vector<HANDLE> Threads;
  for (int Worker = 1; Worker < Count; ++Worker) {
    Starts.push_back({&Body, Worker});
    // A small stack: a worker's buffers are on the heap.
    const HANDLE Thread =
        CreateThread(nullptr, 256 * 1024, RunOne, &Starts.back(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (Thread == nullptr) break;
    Threads.push_back(Thread);
  }
  Body(0);
  for (HANDLE Thread : Threads) {
    WaitForSingleObject(Thread, INFINITE);
    CloseHandle(Thread);
  }
}

struct TWorkGate::TState {
  SRWLOCK Mutex = SRWLOCK_INIT;
  CONDITION_VARIABLE Signal = CONDITION_VARIABLE_INIT;
};

TWorkGate::TWorkGate() : FState(new TState) {}
TWorkGate::~TWorkGate() = default;
void TWorkGate::Lock() { AcquireSRWLockExclusive(&FState->Mutex); }
void TWorkGate::Unlock() { ReleaseSRWLockExclusive(&FState->Mutex); }
void TWorkGate::Wait() { SleepConditionVariableSRW(&FState->Signal, &FState->Mutex, INFINITE, 0); }
void TWorkGate::WakeAll() { WakeAllConditionVariable(&FState->Signal); }
