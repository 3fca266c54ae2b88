// The work folder: the folders of a run, how a run claims, holds and
// cleans up the work folder in the temporary folder, and the work folder's
// safety (what may stand at its path, and how it is made). Platform halves
// in work_folder_posix.cpp / work_folder_win32.cpp.
#pragma once

#include <string>

#include "launcher/folder_locks.h"

// The folders of a run, each ending with the separator.
struct TRunFolders {
  std::string User;    // the current folder: the user's data files
  std::string Temp;    // the temporary folder
  std::string Work;    // Temp + "quintabel5"
  std::string Second;  // Temp + "quintabel"
  std::string Gate;    // the gate's lock file beside the work folder
};

// Forms the run's folders. A current folder that cannot be read, or that
// lies inside a folder the clean-up deletes, stops the run before anything
// is touched (EInOutError).
TRunFolders FormRunFolders();

// The work folder as this run sees and holds it. Launchers share it through
// two locks: the gate beside it (held while one of them claims, delivers or
// cleans up) and the run lock inside it (held while its application runs).
class TWorkFolder {
 public:
  explicit TWorkFolder(const TRunFolders& Folders) : FFolders(Folders) {}

  // Takes the gate and decides what to do with the work folder. True when
  // it is to be installed (it has been made, empty); false when a ready
  // install of this bundle for this user folder is reused. Raises when
  // another launcher's application runs from it for other data.
  bool Claim(const std::string& Identity);

  // The application is about to run: the run lock is taken, stale output
  // of an earlier run is removed when no other launcher uses the folder,
  // and the gate is let go.
  void Begin();

  // The application has exited: the gate is taken again (for at most the
  // usual time), so that launchers sharing the folder carry their output
  // back one after the other and the last one delivers the latest state.
  void BeginDelivery();

  // Ends every run, also while a failure unwinds: waits a second, then,
  // when no other launcher uses the work folder any more, removes it (its
  // record first), the runtime marker (after a completed run), the
  // temporary files that stopped runs left beside the user's files, and
  // the folder "quintabel" in the temporary folder when it is the user's
  // own. Raises nothing.
  void CleanUp(bool Completed) noexcept;

  bool OthersLive = false;  // when claimed: another launcher's application runs from it
  bool KeepFolder = false;  // undelivered output stays in the work folder

 private:
  const TRunFolders& FFolders;
  TGateLock FGate;
  TRunLock FRun;
  bool FOurs = false;     // the work folder's path holds nothing or a private folder of this user
  bool FOwnLink = false;  // a link of this user stands at the work folder's path
};

// Checks what stands at the work folder's path: nothing, or a real folder
// (no link, no file) of the current user that nobody else may write into.
// Raises EInOutError "Unsafe work folder "%s"" otherwise.
void CheckWorkFolder(const std::string& WorkDir);

// Creates the folder Path (ending with a separator), private to the
// current user like the work folder, when nothing stands there yet. Gives
// 0, or the system's error code when it cannot (an existing entry is no
// success).
int CreatePrivateFolder(const std::string& Path);

// Creates the work folder, private to the current user (mode 700 on POSIX;
// on Windows an access list that admits the user and the system only),
// together with any missing parents, and checks it as CheckWorkFolder does.
// A folder that cannot be made raises EFCreateError "Unable to create file
// "%s"" with the reason.
void CreateWorkFolder(const std::string& WorkDir);
