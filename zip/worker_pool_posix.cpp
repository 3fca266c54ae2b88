#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <vector>

#include "zip/worker_pool.h"

namespace {

constexpr int MaxWorkers = 8;

struct TStart {
  const std::function<void(int)>* Body;
  int Worker;
};

void* RunOne(void* Argument) {
  const TStart* Start = static_cast<const TStart*>(Argument);
  (*Start->Body)(Start->Worker);
  return nullptr;
}

}  // namespace

int WorkerCount() {
  cpu_set_t Set;
  long Count = 0;
  if (sched_getaffinity(0, sizeof Set, &Set) == 0) Count = CPU_COUNT(&Set);
  if (Count <= 0) Count = sysconf(_SC_NPROCESSORS_ONLN);
  if (Count < 1) return 1;
  return Count > MaxWorkers ? MaxWorkers : static_cast<int>(Count);
}

void RunWorkers(int Count, const std::function<void(int Worker)>& Body) {
  std::vector<TStart> Starts;
  Starts.reserve(Count > 1 ? Count - 1 : 0);
  std::vector<pthread_t> Threads;
  for (int Worker = 1; Worker < Count; ++Worker) {
    Starts.push_back({&Body, Worker});
    pthread_t Thread;
    if (pthread_create(&Thread, nullptr, RunOne, &Starts.back()) != 0) break;
    Threads.push_back(Thread);
  }
  Body(0);
  for (pthread_t Thread : Threads) pthread_join(Thread, nullptr);
}

struct TWorkGate::TState {
  pthread_mutex_t Mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t Signal = PTHREAD_COND_INITIALIZER;
};

TWorkGate::TWorkGate() : FState(new TState) {}
TWorkGate::~TWorkGate() {
  pthread_cond_destroy(&FState->Signal);
  pthread_mutex_destroy(&FState->Mutex);
}
void TWorkGate::Lock() { pthread_mutex_lock(&FState->Mutex); }
void TWorkGate::Unlock() { pthread_mutex_unlock(&FState->Mutex); }
void TWorkGate::Wait() { pthread_cond_wait(&FState->Signal, &FState->Mutex); }
void TWorkGate::WakeAll() { pthread_cond_broadcast(&FState->Signal); }
