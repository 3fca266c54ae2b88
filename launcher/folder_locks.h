// The two locks that let several launchers of one user share the work
// folder safely.
//
// The gate is held by one launcher at a time while it looks at the work
// folder and decides about it, installs it, or deletes it: so no launcher
// ever sees a half-made install as ready, and none deletes a folder another
// has just decided to use. It is a file beside the work folder that its
// holder removes when it lets go.
//
// The run lock is held, shared, by every launcher whose application runs
// from the work folder, from the moment it decides to use the folder until
// its clean-up; a launcher that holds the gate and finds the run lock held
// by others knows the folder is in use.
#pragma once

#include <cstdint>
#include <string>

class TGateLock {
 public:
  TGateLock() = default;
  ~TGateLock() { Release(); }
  TGateLock(const TGateLock&) = delete;
  TGateLock& operator=(const TGateLock&) = delete;

  // Takes the gate at LockPath, waiting for another holder at most
  // TimeoutMilliseconds. 0 when taken; otherwise the system's error code, or
  // NotOwnedError / IsALinkError when something of another user stands
  // there. A timeout gives the code of the refusal (a sharing violation).
  int Acquire(const std::string& LockPath, uint32_t TimeoutMilliseconds);
  // Lets go and removes the lock file; nothing when not held.
  void Release();
  bool Held() const { return FHandle != -1; }

 private:
  intptr_t FHandle = -1;
  std::string FPath;
};

class TRunLock {
 public:
  TRunLock() = default;
  ~TRunLock() { Release(); }
  TRunLock(const TRunLock&) = delete;
  TRunLock& operator=(const TRunLock&) = delete;

  // Opens the lock file in WorkDir (creating it when needed) and holds it
  // shared. 0, or the system's error code.
  int Acquire(const std::string& WorkDir);
  void Release();
  bool Held() const { return FHandle != -1; }

  // True when some launcher other than this one's own lock (released
  // first) holds the lock of WorkDir. No lock file means no holder.
  static bool HeldByOthers(const std::string& WorkDir);

  static std::string LockFileName(const std::string& WorkDir) { return WorkDir + "quintabel.lock"; }

 private:
  intptr_t FHandle = -1;
};
