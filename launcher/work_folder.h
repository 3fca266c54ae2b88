// The work folder's safety, the lock that two launchers share while their
// applications run, and the export of a file into the user's folder. The
// platform halves live in work_folder_posix.cpp / work_folder_win32.cpp.
#pragma once

#include <cstdint>
#include <string>

// The platform's own temporary folder, ending with the path separator, for
// when neither TEMP nor TMP names one (GetTempPathW on Windows; TMPDIR, then
// "/tmp" on POSIX). Never the current folder.
std::string PlatformTempFolder();

// The temporary folder for this run: GetTempFolder(), or PlatformTempFolder()
// when that gives empty text.
std::string RunTempFolder();

// Checks the work folder when something already stands at its path: it must
// be a real folder (no link, no file) owned by the current user and writable
// by nobody else. Raises EInOutError "Unsafe work folder "%s"" otherwise. A
// path with nothing there passes. On Windows, where the temporary folder is
// the user's own, there is nothing to check.
void CheckWorkFolder(const std::string& WorkDir);

// Creates the work folder together with any missing parents; on POSIX the
// work folder itself gets mode 700. The result is not looked at by the caller
// (a folder that could not be made shows up as a failure of a later step),
// but a folder that appears unsafe raises as CheckWorkFolder does.
void CreateWorkFolder(const std::string& WorkDir);

// A lock in the work folder that every launcher holds, shared, while its
// application runs; a clean-up tests for other holders before it deletes
// the work folder.
class TRunLock {
 public:
  TRunLock() = default;
  ~TRunLock() { Release(); }
  TRunLock(const TRunLock&) = delete;
  TRunLock& operator=(const TRunLock&) = delete;

  // Opens the lock file in WorkDir (creating it when needed) and takes the
  // shared lock. A lock that cannot be taken is not an error: the run goes
  // on unprotected. Does nothing when the lock is already held.
  void Acquire(const std::string& WorkDir);
  void Release();
  bool Held() const { return Handle != -1; }

  // True when some launcher holds the lock of WorkDir (the caller's own lock
  // released first). No lock file means no holder.
  static bool HeldByOthers(const std::string& WorkDir);

  static std::string LockFileName(const std::string& WorkDir) { return WorkDir + "quintabel.lock"; }

 private:
  intptr_t Handle = -1;
};

// Brings Source to Target without ever leaving Target half-written: the data
// goes into a temporary file beside Target first, which then replaces Target
// in one atomic rename. On any failure Target stays as it was and the
// temporary file is removed. Returns whether Target was replaced.
bool ExportFile(const std::string& Source, const std::string& Target);

// A short text that differs between processes running at the same time
// (the process id), for temporary names.
std::string ProcessTag();
