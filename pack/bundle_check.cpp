#include "pack/bundle_check.h"

#include <cstdint>
#include <vector>

#include "bundle_layout/bundle_files.h"
#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/file_transfer.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"
#include "runtime/scope_exit.h"
#include "zip/zip_reader.h"

namespace {

// The launcher writes its bundle to the work folder in one request of a
// 32-bit signed count.
constexpr int64_t MaxBundleSize = 2147483647;
const char* const RootEntries[] = {AppExecutableName, RuntimeMarkerName, DictionaryArchiveName};
// The host system "Unix" in the upper byte of "version made by", and the
// file type and permission bits in the upper half of the external attributes.
constexpr uint16_t UnixHost = 3;
constexpr uint32_t TypeMask = 0170000, LinkType = 0120000, OwnerExecute = 0100;
// A runtime marker's first line is read from at most this many bytes.
constexpr int32_t MarkerHead = 4096;

std::string Describe(const Exception& Failure) { return std::string(Failure.ClassName()) + ": " + Failure.Message(); }

// A folder of its own in the temporary folder.
std::string ScratchFolder() {
  std::string Temp = GetTempFolder();
  Temp = IncludeTrailingSeparator(Temp.empty() ? GetCurrentFolder() : Temp);
  // A name taken by another checker between the choice and the creation is
  // passed over.
  for (int Attempt = 0; Attempt < 100; ++Attempt) {
    const std::string Folder = UniqueSiblingName(Temp + "quintabel-pack");
    if (CreateFolder(Folder)) return IncludeTrailingSeparator(Folder);
  }
  throw EFCreateError(FormatText("Unable to create a scratch folder in \"%s\"", Temp));
}

bool HasUnixModes(const TZipFileEntry& Entry) { return (Entry.VersionMadeBy >> 8) == UnixHost; }
uint32_t UnixMode(const TZipFileEntry& Entry) { return Entry.ExternalAttributes >> 16; }

std::string Octal(uint32_t Value) {
  std::string Digits;
  do {
    Digits.insert(Digits.begin(), static_cast<char>('0' + (Value & 7)));
    Value >>= 3;
  } while (Value);
  return Digits;
}

// The first entry stored as a symbolic link, as a problem.
std::string LinkProblem(TZipFileEntries& Entries) {
  for (int I = 0; I < Entries.Count(); ++I)
    if (HasUnixModes(Entries[I]) && (UnixMode(Entries[I]) & TypeMask) == LinkType)
      return "stores \"" + Entries[I].ArchiveFileName() +
             "\" as a symbolic link, which the launcher would extract as a text file holding the link's "
             "target: store the file itself (for example zip without -y)";
  return std::string();
}

// A "quintabel.exe" that a POSIX launcher would extract without execute
// permission, as a problem.
std::string ModeProblem(TZipFileEntries& Entries) {
  const TZipFileEntry* Program = nullptr;
  for (int I = 0; I < Entries.Count(); ++I)
    if (Entries[I].ArchiveFileName() == AppExecutableName) Program = &Entries[I];
  if (!Program || (HasUnixModes(*Program) && (UnixMode(*Program) & OwnerExecute))) return std::string();
  const std::string Recorded =
      HasUnixModes(*Program) ? "the Unix mode " + Octal(UnixMode(*Program) & 07777) : std::string("no Unix mode");
  return "holds \"quintabel.exe\" with " + Recorded +
         ", so a POSIX launcher would extract it without execute permission: the bundle was made without Unix "
         "modes; make it where they are recorded (zip or Python's zipfile on POSIX) from an executable file";
}

// What the runtime takes as its home from the marker Marker, as a warning
// when that is not the work folder or a folder inside it. The runtime reads
// the first line (trailing spaces and CR removed) as a path relative to the
// marker's folder, the temporary folder.
std::string MarkerWarning(const std::string& Marker) {
  char Head[MarkerHead];
  int32_t Length = 0;
  try {
    TFileStream Stream(Marker, fmOpenRead | fmShareDenyWrite);
    Length = Stream.Read(Head, MarkerHead);
  } catch (const Exception& Failure) {
    return "has a runtime marker \"swipl.home\" that cannot be read (" + Describe(Failure) + ")";
  }
  std::string Home(Head, static_cast<size_t>(Length));
  Home = Home.substr(0, Home.find('\n'));
  while (!Home.empty() && (Home.back() == ' ' || Home.back() == '\r' || Home.back() == '\t')) Home.pop_back();
  const bool Absolute = !Home.empty() && (IsSeparator(Home[0]) || !ExtractDrivePart(Home).empty());
  // The home's segments below the temporary folder; "." and empty ones stay
  // in place, ".." goes up.
  std::vector<std::string> Segments;
  bool Above = false;
  for (size_t Start = 0; Start <= Home.size() && !Absolute;) {
    size_t End = Start;
    while (End < Home.size() && !IsSeparator(Home[End])) ++End;
    const std::string Segment = Home.substr(Start, End - Start);
    if (Segment == "..") {
      if (Segments.empty())
        Above = true;
      else
        Segments.pop_back();
    } else if (!Segment.empty() && Segment != ".") {
      Segments.push_back(Segment);
    }
    Start = End + 1;
  }
  if (!Absolute && !Above && !Segments.empty() && Segments[0] == WorkFolderName) return std::string();
  const std::string Taken = Absolute                     ? "\"" + Home + "\""
                            : Segments.empty() && !Above ? std::string("the temporary folder itself")
                                                         : "\"" + Home + "\" relative to the temporary folder";
  return "has a runtime marker \"swipl.home\" whose first line makes the runtime take " + Taken +
         " as its home, not the work folder: that line must be \"" + WorkFolderName +
         "\" (or a folder inside it), the home relative to the temporary folder where the launcher places the "
         "marker";
}

}  // namespace

TBundleCheck CheckBundle(const std::string& Archive, TBundleTarget Target) {
  TBundleCheck Check;
  int64_t Size = 0;
  unsigned char Head[4] = {};
  int32_t HeadLength = 0;
  try {
    TFileStream Stream(Archive, fmOpenRead | fmShareDenyWrite);
    Size = Stream.Size();
    HeadLength = Stream.Read(Head, 4);
  } catch (const Exception& Failure) {
    Check.Problem = "cannot be read (" + Describe(Failure) + ")";
    return Check;
  }
  if (HeadLength != 4 || Head[0] != 0x50 || Head[1] != 0x4B || Head[2] != 0x03 || Head[3] != 0x04) {
    Check.Problem =
        "is not a zip archive beginning with a local file header (the first four bytes must be 50 4B 03 04)";
    return Check;
  }
  if (Size > MaxBundleSize) {
    Check.Problem = FormatText("is larger than %d bytes, more than the launcher writes in one request", MaxBundleSize);
    return Check;
  }

  const std::string Scratch = ScratchFolder();
  TScopeExit CleanUp([&Scratch] { DeleteFolderTree(Scratch, false); });
  // The launcher's reader, as ExtractArchive runs it, with its entry list
  // kept for the look at each entry's type and mode.
  TUnZipper Reader;
  try {
    Reader.SetFileName(Archive);
    Reader.SetOutputPath(Scratch);
    Reader.ExtractAll();
  } catch (const Exception& Failure) {
    Check.Problem = "cannot be extracted by the launcher (" + Describe(Failure) + ")";
    return Check;
  }
  Check.Problem = LinkProblem(Reader.Entries());
  if (!Check.Problem.empty()) return Check;
  std::vector<std::string> Missing;
  for (const char* Name : RootEntries)
    if (!FileExists(Scratch + Name)) Missing.push_back(Name);
  if (!Missing.empty()) {
    std::string List;
    for (const std::string& Name : Missing) List += (List.empty() ? "\"" : ", \"") + Name + "\"";
    Check.Problem = std::string("lacks the root ") + (Missing.size() == 1 ? "entry " : "entries ") + List +
                    " (a bundle must hold quintabel.exe, swipl.home and dereroz.zip at its root)";
    return Check;
  }
  if (Target == btPosix) Check.Problem = ModeProblem(Reader.Entries());
  if (!Check.Problem.empty()) return Check;
  try {
    ExtractArchive(Scratch + DictionaryArchiveName, Scratch + DictionaryFolderName + PathSeparator);
  } catch (const Exception& Failure) {
    Check.Problem = "holds a \"dereroz.zip\" that the launcher cannot extract (" + Describe(Failure) + ")";
    return Check;
  }
  const std::string Marker = MarkerWarning(Scratch + RuntimeMarkerName);
  if (!Marker.empty()) Check.Warnings.push_back(Marker);
  return Check;
}

std::string BundleProblemMessage(const std::string& Archive, const std::string& Problem) {
  return "Invalid quintabel bundle \"" + Archive + "\": it " + Problem + ".";
}

std::string BundleWarningMessage(const std::string& Archive, const std::string& Warning) {
  return "Warning: quintabel bundle \"" + Archive + "\": it " + Warning + ".";
}
