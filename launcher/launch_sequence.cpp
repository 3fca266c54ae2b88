// The launch sequence. Platform-free: every folder literal is built with
// PathSeparator, every system call sits behind fs/, process/, zip/ and the
// work-folder services.
#include "launcher/launch_sequence.h"

#include <string>

#include "fs/file_copy.h"
#include "fs/file_services.h"
#include "fs/path_text.h"
#include "launcher/resource_list.h"
#include "launcher/work_folder.h"
#include "process/process.h"
#include "runtime/arguments.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

namespace {

const std::string Sep(1, PathSeparator);

bool Copy(const std::string& Source, const std::string& Destination) {
  return FileCopy(Source, Destination, cfOverwriteExisting, false);
}

// Starts the application with its one parameter and waits for it to exit.
void RunApplication(const std::string& WorkDir, const std::string& FirstArg) {
  TProcess AppProcess;
  AppProcess.Parameters.push_back(FirstArg);
  AppProcess.Executable = '"' + WorkDir + "quintabel.exe" + '"';
  AppProcess.SetOptions(AppProcess.Options() + poWaitOnExit);
  AppProcess.Execute();
}

// The clean-up that ends every run, also while a failure unwinds.
void CleanUp(const std::string& WorkDir, bool WorkDirSafe, TRunLock& Lock) {
  Pause(1000);
  // Another launcher whose application still runs from the work folder
  // keeps it: its dictionary is still to be packed.
  Lock.Release();
  if (WorkDirSafe) {
    if (!TRunLock::HeldByOthers(WorkDir)) DeleteFolderTree(WorkDir, false);
  } else if (IsLink(WorkDir)) {
    // A link refused as the work folder: the link goes, nothing behind it.
    DeleteFolderTree(WorkDir, false);
  }
  DeleteFolderTree(RunTempFolder() + "quintabel" + Sep, false);
}

}  // namespace

void RunLaunchSequence() {
  const std::string CurDir = IncludeTrailingSeparator(GetCurrentFolder());
  const std::string WorkDir = RunTempFolder() + "quintabel5" + Sep;
  std::string FirstArg;
  TRunLock Lock;
  // Cleared when something other than our own folder stands at the work
  // folder's path: the clean-up must not go into it (a link there is only
  // removed).
  bool WorkDirSafe = false;

  try {
    CheckWorkFolder(WorkDir);
    WorkDirSafe = true;

    if (FileExists(WorkDir + "trad_dyn.pl")) RemoveFile(WorkDir + "trad_dyn.pl");

    if (!FileExists(WorkDir + "quintabel.exe")) {
      WorkDirSafe = false;
      CreateWorkFolder(WorkDir);
      WorkDirSafe = true;
      Lock.Acquire(WorkDir);
      FirstArg = FirstArgument();
      WriteResourceToFile("quintabelprincipal", WorkDir + "quintabelprincipal.zip");
      ExtractArchive(WorkDir + "quintabelprincipal.zip", WorkDir);
      Copy(WorkDir + "swipl.home", RunTempFolder() + "swipl.home");
      if (FileExists(CurDir + "dereroz.zip")) Copy(CurDir + "dereroz.zip", WorkDir + "dereroz.zip");
      ExtractArchive(WorkDir + "dereroz.zip", WorkDir + "dereroz" + Sep);
      if (FileExists(CurDir + "trad_dyn.csv")) Copy(CurDir + "trad_dyn.csv", WorkDir + "trad_dyn.csv");
    } else {
      // A ready work folder is checked again before anything in it is
      // started: with nothing at its path at the first check, another user
      // may have made it since.
      WorkDirSafe = false;
      CheckWorkFolder(WorkDir);
      WorkDirSafe = true;
      Lock.Acquire(WorkDir);
    }

    RunApplication(WorkDir, FirstArg);

    if (FileExists(WorkDir + "trad_dyn.pl")) ExportFile(WorkDir + "trad_dyn.pl", CurDir + "trad_dyn.pl");
    if (FileExists(CurDir + "dereroz.zip")) PackFolder(WorkDir + "dereroz" + Sep, CurDir + "dereroz.zip");
    RemoveFile(RunTempFolder() + "swipl.home");
  } catch (...) {
    CleanUp(WorkDir, WorkDirSafe, Lock);
    throw;
  }
  CleanUp(WorkDir, WorkDirSafe, Lock);
}
