#include "launcher/work_folder.h"

#include "bundle_layout/bundle_files.h"
#include "fs/entry_status.h"
#include "fs/file_services.h"
#include "fs/file_transfer.h"
#include "fs/path_text.h"
#include "fs/system_error.h"
#include "launcher/install_record.h"
#include "launcher/temp_folder.h"
#include "runtime/exceptions.h"

namespace {

// How long a launcher waits for another one that holds the gate (installing
// or deleting the work folder) before it gives up.
constexpr uint32_t GateTimeoutMilliseconds = 60000;

}  // namespace

TRunFolders FormRunFolders() {
  TRunFolders F;
  const std::string Current = GetCurrentFolder();
  if (Current.empty()) {
    const int Error = LastSystemError();
    throw EInOutError(FormatText("The current folder cannot be read: %s", SystemErrorReason(Error)), Error);
  }
  F.User = IncludeTrailingSeparator(Current);
  F.Temp = RunTempFolder();
  F.Work = IncludeTrailingSeparator(F.Temp + WorkFolderName);
  F.Second = IncludeTrailingSeparator(F.Temp + "quintabel");
  F.Gate = F.Temp + "quintabel5.lock";

  std::string Folder = ExcludeTrailingSeparator(F.User);
  for (;;) {
    for (const std::string* Tree : {&F.Work, &F.Second})
      if (SameEntry(Folder, *Tree))
        throw EInOutError(FormatText("Cannot run from \"%s\": it lies inside \"%s\", which the launcher deletes after "
                                     "every run; start it from the folder that holds your data",
                                     F.User, *Tree),
                          AccessDeniedError);
    const std::string Parent = ExcludeTrailingSeparator(ExtractFolderPart(Folder));
    if (Parent.empty() || Parent == Folder) break;
    Folder = Parent;
  }
  return F;
}

bool TWorkFolder::Claim(const std::string& Identity) {
  ForceFolders(FFolders.Temp);
  if (const int Error = FGate.Acquire(FFolders.Gate, GateTimeoutMilliseconds))
    throw EInOutError(FormatText("The work folder \"%s\" is busy: cannot take \"%s\": %s", FFolders.Work, FFolders.Gate,
                                 SystemErrorReason(Error)),
                      Error);
  const TEntryStatus Status = EntryStatus(FFolders.Work);
  if (Status.Exists && Status.Link && Status.OwnedByUser) FOwnLink = true;
  CheckWorkFolder(FFolders.Work);
  FOurs = true;

  const TInstallRecord Record = ReadInstallRecord(FFolders.Work);
  OthersLive = TRunLock::HeldByOthers(FFolders.Work);
  if (Record.Present && Record.Bundle == Identity && Record.UserFolder == FFolders.User &&
      FileExists(FFolders.Work + AppExecutableName))
    return false;
  if (OthersLive) {
    if (Record.Present)
      throw EInOutError(FormatText("The application is already running from \"%s\"", Record.UserFolder), InUseError);
    throw EInOutError(FormatText("The work folder \"%s\" is in use by another launcher", FFolders.Work), InUseError);
  }
  // Left by a run that was stopped, or by another bundle or user folder:
  // taken apart (its record first) and installed afresh.
  if (Status.Exists) {
    RemoveInstallRecord(FFolders.Work);
    if (!DeleteFolderTree(FFolders.Work, false))
      throw EInOutError(FormatText("Cannot remove the work folder \"%s\" that an earlier run left; a program started "
                                   "from it may still be running",
                                   FFolders.Work),
                        InUseError);
  }
  CreateWorkFolder(FFolders.Work);
  return true;
}

void TWorkFolder::Begin() {
  if (const int Error = FRun.Acquire(FFolders.Work))
    throw EInOutError(FormatText("Cannot lock the work folder \"%s\": %s", FFolders.Work, SystemErrorReason(Error)),
                      Error);
  if (!OthersLive && FileExists(FFolders.Work + TranslationsOutName)) RemoveFile(FFolders.Work + TranslationsOutName);
  FGate.Release();
}

void TWorkFolder::BeginDelivery() { FGate.Acquire(FFolders.Gate, GateTimeoutMilliseconds); }

void TWorkFolder::CleanUp(bool Completed) noexcept {
  try {
    // Nobody waits on this run during its pause.
    FGate.Release();
    Pause(1000);
    const bool Gated = FGate.Acquire(FFolders.Gate, GateTimeoutMilliseconds) == 0;
    FRun.Release();
    if (Gated && FOwnLink) DeleteFolderTree(FFolders.Work, false);  // only the link goes
    if (Gated && FOurs && !TRunLock::HeldByOthers(FFolders.Work)) {
      if (Completed) {
        const TEntryStatus Marker = EntryStatus(FFolders.Temp + RuntimeMarkerName);
        if (Marker.RegularFile && Marker.OwnedByUser) RemoveFile(FFolders.Temp + RuntimeMarkerName);
      }
      if (!KeepFolder) {
        RemoveInstallRecord(FFolders.Work);
        DeleteFolderTree(FFolders.Work, false);
      }
      for (const std::string& Path : {FFolders.User + TranslationsOutName, FFolders.User + DictionaryArchiveName,
                                      FFolders.Temp + RuntimeMarkerName})
        RemoveAbandonedSiblings(Path);
      const TEntryStatus Second = EntryStatus(FFolders.Second);
      if (Second.Folder && Second.OwnedByUser) DeleteFolderTree(FFolders.Second, false);
    }
    FGate.Release();
  } catch (...) {
    // The clean-up is best effort: what it leaves, the next run removes.
  }
}

void CheckWorkFolder(const std::string& WorkDir) {
  const TEntryStatus Status = EntryStatus(WorkDir);
  if (!Status.Exists && Status.Error == 0) return;  // nothing there yet
  if (!IsOwnPrivateFolder(Status))
    throw EInOutError(FormatText("Unsafe work folder \"%s\"", WorkDir), AccessDeniedError);
}

void CreateWorkFolder(const std::string& WorkDir) {
  const std::string Parent = ExtractFolderPart(ExcludeTrailingSeparator(WorkDir));
  if (!Parent.empty()) ForceFolders(Parent);
  // The creation never follows a link standing at the path: it fails, and
  // the check below then refuses the link.
  const int Error = CreatePrivateFolder(WorkDir);
  if (Error != 0 && !EntryStatus(WorkDir).Exists)
    throw EFCreateError(FormatText("Unable to create file \"%s\": %s", WorkDir, SystemErrorReason(Error)));
  CheckWorkFolder(WorkDir);
}
