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

#include "bundle_layout/bundle_files.h"
#include "fs/entry_status.h"
#include "fs/file_services.h"
#include "fs/file_transfer.h"
#include "fs/path_text.h"
#include "fs/system_error.h"
#include "launcher/bundle_identity.h"
#include "launcher/install_record.h"
#include "launcher/resource_list.h"
#include "launcher/signal_relay.h"
#include "launcher/work_folder.h"
#include "process/process.h"
#include "runtime/arguments.h"
#include "runtime/exceptions.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

namespace {

const std::string Sep(1, PathSeparator);

// Anything at Path, a folder or a link included, counts as the user's file.
bool Present(const std::string& Path) {
  const TEntryStatus Status = EntryStatus(Path);
  return Status.Exists || Status.Error != 0;
}

// Puts the runtime marker into the temporary folder, where the runtime reads
// it. Whatever stands there must be the user's own regular file: anything
// else stops the run, since the runtime would read it. With Replace false an
// existing marker is kept (another launcher of the same install placed it).
void PlaceMarker(const TRunFolders& F, bool Replace) {
  const std::string Marker = F.Temp + RuntimeMarkerName;
  const TEntryStatus Status = EntryStatus(Marker);
  int Problem = Status.Error;
  if (Status.Exists && !Status.RegularFile)
    Problem = Status.Link ? IsALinkError : NotARegularFileError;
  else if (Status.Exists && !Status.OwnedByUser)
    Problem = NotOwnedError;
  if (Problem != 0)
    throw EInOutError(FormatText("Unsafe runtime marker \"%s\": %s", Marker, SystemErrorReason(Problem)),
                      AccessDeniedError);
  if (Status.Exists && !Replace) return;
  const TTransferResult Result = ReplaceFileWithCopy(F.Work + RuntimeMarkerName, Marker, tdNotForced);
  if (!Result.Ok())
    throw EInOutError("The runtime marker could not be placed: " + Result.Describe(F.Work + RuntimeMarkerName, Marker),
                      Result.Error);
}

// Brings one of the user's files into the work folder. A file that cannot be
// read whole stops the run before the application starts.
void Import(const std::string& Source, const std::string& Target) {
  const TTransferResult Result = ReplaceFileWithCopy(Source, Target, tdNotForced);
  if (!Result.Ok())
    throw EInOutError("The user's data could not be brought in: " + Result.Describe(Source, Target), Result.Error);
}

// Writes the bundle into the new work folder and extracts it, places the
// runtime marker, brings the user's data in, and records the install as
// complete.
void Install(const TRunFolders& F, const std::string& Identity) {
  WriteResourceToFile(BundleResourceName, F.Work + BundleArchiveName);
  ExtractArchive(F.Work + BundleArchiveName, F.Work);
  PlaceMarker(F, true);
  if (Present(F.User + DictionaryArchiveName)) Import(F.User + DictionaryArchiveName, F.Work + DictionaryArchiveName);
  ExtractArchive(F.Work + DictionaryArchiveName, F.Work + DictionaryFolderName + Sep);
  // An empty dictionary extracts nothing: the folder is made all the same,
  // so the application finds it and later runs still carry it back.
  if (!ForceFolders(F.Work + DictionaryFolderName + Sep))
    throw EInOutError(FormatText("Unable to create folder \"%s\"", F.Work + DictionaryFolderName + Sep),
                      AccessDeniedError);
  if (Present(F.User + TranslationsInName)) Import(F.User + TranslationsInName, F.Work + TranslationsInName);
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
    throw EInOutError(FormatText("Stopped by signal %d before the application started", Signal), InterruptedError);
  TProcess AppProcess;
  AppProcess.Parameters.push_back(FirstArg);
  AppProcess.Executable = '"' + WorkDir + AppExecutableName + '"';
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
    if ((Error = CreatePrivateFolder(Folder)) == 0) return Folder;
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

  if (FileExists(F.Work + TranslationsOutName)) {
    const std::string Source = F.Work + TranslationsOutName;
    Deliver({TranslationsOutName, Source,
             [Source](const std::string& Target) { return ReplaceFileWithCopy(Source, Target); }});
  }
  const std::string Dictionary = F.Work + DictionaryFolderName + Sep;
  if (FileExists(F.User + DictionaryArchiveName)) {
    try {
      // A large file's holding place stays in the work folder, out of the
      // user's.
      const std::string Work = F.Work;
      Deliver({DictionaryArchiveName, Dictionary, [Dictionary, Work](const std::string& Target) {
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
  throw EInOutError(Message + "; " + Where, FirstError);
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
