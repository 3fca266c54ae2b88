// The launch sequence. Platform-free: every folder literal is built with
// PathSeparator, every system call sits behind fs/, process/, zip/ and the
// launcher's own platform files.
//
// A run either delivers everything and ends normally, or raises a failure
// that names what was not delivered and why; the user's files are then as
// they were (or completely updated), and nothing the application produced is
// thrown away before it has been delivered or kept.
#include "launcher/launch_sequence.h"

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "fs/entry_status.h"
#include "fs/file_services.h"
#include "fs/file_transfer.h"
#include "fs/path_text.h"
#include "fs/system_error.h"
#include "launcher/bundle_identity.h"
#include "launcher/folder_locks.h"
#include "launcher/install_record.h"
#include "launcher/resource_list.h"
#include "launcher/signal_relay.h"
#include "launcher/temp_folder.h"
#include "launcher/work_folder.h"
#include "process/process.h"
#include "runtime/arguments.h"
#include "runtime/exceptions.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

namespace {

const std::string Sep(1, PathSeparator);

// How long a launcher waits for another one that holds the gate (installing
// or deleting the work folder) before it gives up.
constexpr uint32_t GateTimeoutMilliseconds = 60000;

// Error codes carried by the launcher's own failures.
constexpr int AccessDeniedCode = 5;
constexpr int InUseCode = 32;
constexpr int InterruptedCode = 4;

// The folders of a run, each ending with the separator.
struct TRunFolders {
  std::string User;    // the current folder: the user's data files
  std::string Temp;    // the temporary folder
  std::string Work;    // Temp + "quintabel5"
  std::string Second;  // Temp + "quintabel"
  std::string Gate;    // the gate's lock file beside the work folder
};

[[noreturn]] void RaiseFailure(const std::string& Message, int Code) { throw EInOutError(Message, Code); }

// Forms the run's folders. A current folder that cannot be read, or that
// lies inside a folder the clean-up deletes, stops the run before anything
// is touched.
TRunFolders FormRunFolders() {
  TRunFolders F;
  const std::string Current = GetCurrentFolder();
  if (Current.empty()) {
    const int Error = LastSystemError();
    RaiseFailure(FormatText("The current folder cannot be read: %s", SystemErrorReason(Error)), Error);
  }
  F.User = IncludeTrailingSeparator(Current);
  F.Temp = RunTempFolder();
  F.Work = F.Temp + "quintabel5" + Sep;
  F.Second = F.Temp + "quintabel" + Sep;
  F.Gate = F.Temp + "quintabel5.lock";

  std::string Folder = ExcludeTrailingSeparator(F.User);
  for (;;) {
    for (const std::string* Tree : {&F.Work, &F.Second})
      if (SameEntry(Folder, *Tree))
        RaiseFailure(FormatText("Cannot run from \"%s\": it lies inside \"%s\", which the launcher deletes after "
                                "every run; start it from the folder that holds your data",
                                F.User, *Tree),
                     AccessDeniedCode);
    const std::string Parent = ExcludeTrailingSeparator(ExtractFolderPart(Folder));
    if (Parent.empty() || Parent == Folder) break;
    Folder = Parent;
  }
  return F;
}

// Anything at Path, a folder or a link included, counts as the user's file.
bool Present(const std::string& Path) {
  const TEntryStatus Status = EntryStatus(Path);
  return Status.Exists || Status.Error != 0;
}

// The work folder as this run sees and holds it.
class TWorkFolder {
 public:
  explicit TWorkFolder(const TRunFolders& Folders) : FFolders(Folders) {}

  // Takes the gate and decides what to do with the work folder. True when
  // it is to be installed (it has been made, empty); false when a ready
  // install of this bundle for this user folder is reused. Raises when
  // another launcher's application runs from it for other data.
  bool Claim(const std::string& Identity) {
    ForceFolders(FFolders.Temp);
    if (const int Error = FGate.Acquire(FFolders.Gate, GateTimeoutMilliseconds))
      RaiseFailure(FormatText("The work folder \"%s\" is busy: cannot take \"%s\": %s", FFolders.Work, FFolders.Gate,
                              SystemErrorReason(Error)),
                   Error);
    const TEntryStatus Status = EntryStatus(FFolders.Work);
    if (Status.Exists && Status.Link && Status.OwnedByUser) FOwnLink = true;
    CheckWorkFolder(FFolders.Work);
    FOurs = true;

    const TInstallRecord Record = ReadInstallRecord(FFolders.Work);
    OthersLive = TRunLock::HeldByOthers(FFolders.Work);
    if (Record.Present && Record.Bundle == Identity && Record.UserFolder == FFolders.User &&
        FileExists(FFolders.Work + "quintabel.exe"))
      return false;
    if (OthersLive) {
      if (Record.Present)
        RaiseFailure(FormatText("The application is already running from \"%s\"", Record.UserFolder), InUseCode);
      RaiseFailure(FormatText("The work folder \"%s\" is in use by another launcher", FFolders.Work), InUseCode);
    }
    // Left by a run that was stopped, or by another bundle or user folder:
    // taken apart (its record first) and installed afresh.
    if (Status.Exists) {
      RemoveInstallRecord(FFolders.Work);
      if (!DeleteFolderTree(FFolders.Work, false))
        RaiseFailure(FormatText("Cannot remove the work folder \"%s\" that an earlier run left; a program started "
                                "from it may still be running",
                                FFolders.Work),
                     InUseCode);
    }
    CreateWorkFolder(FFolders.Work);
    return true;
  }

  // The application is about to run: the run lock is taken, stale output
  // of an earlier run is removed when no other launcher uses the folder,
  // and the gate is let go.
  void Begin() {
    if (const int Error = FRun.Acquire(FFolders.Work))
      RaiseFailure(FormatText("Cannot lock the work folder \"%s\": %s", FFolders.Work, SystemErrorReason(Error)),
                   Error);
    if (!OthersLive && FileExists(FFolders.Work + "trad_dyn.pl")) RemoveFile(FFolders.Work + "trad_dyn.pl");
    FGate.Release();
  }

  // The application has exited: the gate is taken again (for at most the
  // usual time), so that launchers sharing the folder carry their output
  // back one after the other and the last one delivers the latest state.
  void BeginDelivery() { FGate.Acquire(FFolders.Gate, GateTimeoutMilliseconds); }

  bool OthersLive = false;  // when claimed: another launcher's application runs from it
  bool KeepFolder = false;  // undelivered output stays in the work folder

  // Ends every run, also while a failure unwinds: waits a second, then,
  // when no other launcher uses the work folder any more, removes it (its
  // record first), the runtime marker (after a completed run), the
  // temporary files that stopped runs left beside the user's files, and
  // the folder "quintabel" in the temporary folder when it is the user's
  // own. Raises nothing.
  void CleanUp(bool Completed) noexcept {
    try {
      // Nobody waits on this run during its pause.
      FGate.Release();
      Pause(1000);
      const bool Gated = FGate.Acquire(FFolders.Gate, GateTimeoutMilliseconds) == 0;
      FRun.Release();
      if (Gated && FOwnLink) DeleteFolderTree(FFolders.Work, false);  // only the link goes
      if (Gated && FOurs && !TRunLock::HeldByOthers(FFolders.Work)) {
        if (Completed) {
          const TEntryStatus Marker = EntryStatus(FFolders.Temp + "swipl.home");
          if (Marker.RegularFile && Marker.OwnedByUser) RemoveFile(FFolders.Temp + "swipl.home");
        }
        if (!KeepFolder) {
          RemoveInstallRecord(FFolders.Work);
          DeleteFolderTree(FFolders.Work, false);
        }
        for (const std::string& Path :
             {FFolders.User + "trad_dyn.pl", FFolders.User + "dereroz.zip", FFolders.Temp + "swipl.home"})
          RemoveAbandonedSiblings(Path);
        const TEntryStatus Second = EntryStatus(FFolders.Second);
        if (Second.Folder && Second.OwnedByUser) DeleteFolderTree(FFolders.Second, false);
      }
      FGate.Release();
    } catch (...) {
      // The clean-up is best effort: what it leaves, the next run removes.
    }
  }

 private:
  const TRunFolders& FFolders;
  TGateLock FGate;
  TRunLock FRun;
  bool FOurs = false;     // the work folder's path holds nothing or a private folder of this user
  bool FOwnLink = false;  // a link of this user stands at the work folder's path
};

// Puts the runtime marker into the temporary folder, where the runtime reads
// it. Whatever stands there must be the user's own regular file: anything
// else stops the run, since the runtime would read it. With Replace false an
// existing marker is kept (another launcher of the same install placed it).
void PlaceMarker(const TRunFolders& F, bool Replace) {
  const std::string Marker = F.Temp + "swipl.home";
  const TEntryStatus Status = EntryStatus(Marker);
  int Problem = Status.Error;
  if (Status.Exists && !Status.RegularFile)
    Problem = Status.Link ? IsALinkError : NotARegularFileError;
  else if (Status.Exists && !Status.OwnedByUser)
    Problem = NotOwnedError;
  if (Problem != 0)
    RaiseFailure(FormatText("Unsafe runtime marker \"%s\": %s", Marker, SystemErrorReason(Problem)), AccessDeniedCode);
  if (Status.Exists && !Replace) return;
  const TTransferResult Result = ReplaceFileWithCopy(F.Work + "swipl.home", Marker, tdNotForced);
  if (!Result.Ok())
    RaiseFailure("The runtime marker could not be placed: " + Result.Describe(F.Work + "swipl.home", Marker),
                 Result.Error);
}

// Brings one of the user's files into the work folder. A file that cannot be
// read whole stops the run before the application starts.
void Import(const std::string& Source, const std::string& Target) {
  const TTransferResult Result = ReplaceFileWithCopy(Source, Target, tdNotForced);
  if (!Result.Ok())
    RaiseFailure("The user's data could not be brought in: " + Result.Describe(Source, Target), Result.Error);
}

// Writes the bundle into the new work folder and extracts it, places the
// runtime marker, brings the user's data in, and records the install as
// complete.
void Install(const TRunFolders& F, const std::string& Identity) {
  WriteResourceToFile("quintabelprincipal", F.Work + "quintabelprincipal.zip");
  ExtractArchive(F.Work + "quintabelprincipal.zip", F.Work);
  PlaceMarker(F, true);
  if (Present(F.User + "dereroz.zip")) Import(F.User + "dereroz.zip", F.Work + "dereroz.zip");
  ExtractArchive(F.Work + "dereroz.zip", F.Work + "dereroz" + Sep);
  // An empty dictionary extracts nothing: the folder is made all the same,
  // so the application finds it and later runs still carry it back.
  if (!ForceFolders(F.Work + "dereroz" + Sep))
    RaiseFailure(FormatText("Unable to create folder \"%s\"", F.Work + "dereroz" + Sep), AccessDeniedCode);
  if (Present(F.User + "trad_dyn.csv")) Import(F.User + "trad_dyn.csv", F.Work + "trad_dyn.csv");
  TInstallRecord Record;
  Record.Present = true;
  Record.Bundle = Identity;
  Record.UserFolder = F.User;
  WriteInstallRecord(F.Work, Record);
}

// Starts the application with its one parameter and waits, without a time
// limit, until it has exited. It is started without waiting so that the
// relay knows where to pass requests to stop.
void RunApplication(const std::string& WorkDir, const std::string& FirstArg, TSignalRelay& Relay) {
  if (const int Signal = Relay.PendingRequest())
    RaiseFailure(FormatText("Stopped by signal %d before the application started", Signal), InterruptedCode);
  TProcess AppProcess;
  AppProcess.Parameters.push_back(FirstArg);
  AppProcess.Executable = '"' + WorkDir + "quintabel.exe" + '"';
  AppProcess.Execute();
  Relay.PassTo(AppProcess.ProcessID());
  AppProcess.WaitForExit();
  Relay.Stop();
}

// A new private folder in the temporary folder for output that could not be
// delivered: "quintabel-kept-<date>-<time>", with a number added when that
// name is taken. Empty, with Error, when none can be made.
std::string MakeKeepFolder(const std::string& Temp, int& Error) {
  char Stamp[32] = "undated";
  const std::time_t Now = std::time(nullptr);
  if (const std::tm* Local = std::localtime(&Now)) std::strftime(Stamp, sizeof Stamp, "%Y%m%d-%H%M%S", Local);
  for (int Number = 1; Number < 100; ++Number) {
    std::string Folder = Temp + "quintabel-kept-" + Stamp;
    if (Number > 1) Folder += "-" + std::to_string(Number);
    Folder += Sep;
    if (CreatePrivateFolder(Folder, Error)) return Folder;
    if (!EntryStatus(Folder).Exists) return std::string();
  }
  return std::string();
}

// Carries the application's output back to the user's folder: "trad_dyn.pl"
// when it wrote one, and the dictionary folder packed into "dereroz.zip"
// when the user has one, each written as a new file beside the user's and
// renamed over it (the temporary folder needs no room for it). What cannot
// be delivered is kept (written into a keep folder in the temporary folder,
// or else left in the work folder), and the run fails with a report that
// names each file, the reason and the place where the output is.
void Deliver(const TRunFolders& F, TWorkFolder& Work) {
  using TWriter = std::function<TTransferResult(const std::string& Target)>;
  struct TKept {
    std::string Name;    // its name in the keep folder
    std::string Source;  // what it is made from, in the work folder
    TWriter Write;       // writes it to a target
  };
  std::vector<std::string> Failures;
  std::vector<TKept> ToKeep;
  int FirstError = 0;
  auto Note = [&](const std::string& What, int Error) {
    Failures.push_back(What);
    if (FirstError == 0) FirstError = Error;
  };
  // Delivers one output to the user's folder; on failure it is to be kept.
  auto Deliver = [&](const TKept& Output) {
    const TTransferResult Result = Output.Write(F.User + Output.Name);
    if (Result.Ok()) return;
    Note(Result.Describe(Output.Source, F.User + Output.Name), Result.Error);
    ToKeep.push_back(Output);
  };

  if (FileExists(F.Work + "trad_dyn.pl")) {
    const std::string Source = F.Work + "trad_dyn.pl";
    Deliver(
        {"trad_dyn.pl", Source, [Source](const std::string& Target) { return ReplaceFileWithCopy(Source, Target); }});
  }
  const std::string Dictionary = F.Work + "dereroz" + Sep;
  if (FileExists(F.User + "dereroz.zip")) {
    try {
      // A large file's holding place stays in the work folder, out of the
      // user's.
      const std::string Work = F.Work;
      Deliver({"dereroz.zip", Dictionary, [Dictionary, Work](const std::string& Target) {
                 return TryPackFolder(Dictionary, Target, WorkerCount(), Work);
               }});
    } catch (const Exception& Failure) {
      Note(FormatText("cannot pack \"%s\": %s: %s", Dictionary, Failure.ClassName(), Failure.Message()), 0);
      // What cannot be packed stays where it is, in the work folder.
      Work.KeepFolder = true;
    }
  }

  std::string Where;
  if (!ToKeep.empty()) {
    int Error = 0;
    const std::string Keep = MakeKeepFolder(F.Temp, Error);
    std::string Problem = Keep.empty() ? SystemErrorReason(Error) : std::string();
    for (const TKept& Item : ToKeep) {
      if (!Problem.empty()) break;
      try {
        const TTransferResult Result = Item.Write(Keep + Item.Name);
        if (!Result.Ok()) Problem = Result.Describe(Item.Source, Keep + Item.Name);
      } catch (const Exception& Failure) {
        Problem = FormatText("cannot pack \"%s\": %s", Item.Source, Failure.Message());
      }
    }
    if (Problem.empty()) {
      Where = FormatText("it is kept in \"%s\"", Keep);
    } else {
      Work.KeepFolder = true;
      Where = FormatText("it could not be kept elsewhere (%s) and stays in \"%s\"", Problem, F.Work);
    }
  } else if (Work.KeepFolder) {
    Where = FormatText("it stays in \"%s\"", F.Work);
  }
  if (Failures.empty()) return;

  std::string Message = "The application's output was not delivered: ";
  for (size_t I = 0; I < Failures.size(); ++I) Message += (I == 0 ? "" : "; ") + Failures[I];
  RaiseFailure(Message + "; " + Where, FirstError);
}

}  // namespace

void RunLaunchSequence() {
  const TRunFolders F = FormRunFolders();
  TSignalRelay Relay;
  TWorkFolder Work(F);
  try {
    const std::string Identity = EmbeddedBundleIdentity();
    if (Work.Claim(Identity))
      Install(F, Identity);
    else
      PlaceMarker(F, !Work.OthersLive);
    Work.Begin();
    RunApplication(F.Work, FirstArgument(), Relay);
    Work.BeginDelivery();
    Deliver(F, Work);
  } catch (...) {
    Work.CleanUp(false);
    throw;
  }
  Work.CleanUp(true);
}
