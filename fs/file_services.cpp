// The platform-free part of the folder services: the temporary folder
// lookup, folder creation along a path, tree deletion and path expansion.
// Every system call goes through file_services_<platform>.cpp.
#include "fs/file_services.h"

#include "fs/file_services_platform.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"

static char AsciiUpper(char C) { return (C >= 'a' && C <= 'z') ? static_cast<char>(C - 'a' + 'A') : C; }

bool MatchEnvironmentEntry(const char* Entry, const std::string& Name, std::string& Value) {
  const char* Equals = Entry;
  while (*Equals != '\0' && *Equals != '=') ++Equals;
  if (*Equals != '=' || Equals == Entry) return false;  // no "=", or empty name part
  const size_t NameLength = static_cast<size_t>(Equals - Entry);
  if (NameLength != Name.size()) return false;
  for (size_t I = 0; I < NameLength; ++I)
    if (AsciiUpper(Entry[I]) != AsciiUpper(Name[I])) return false;
  Value = Equals + 1;
  return true;
}

std::string GetTempFolder(bool /*PerUser*/) {
  // A relative value counts as unset: it would put the work folder, and the
  // tree deletions of a clean-up, into whatever folder is current.
  std::string Folder = EnvironmentValue("TEMP");
  if (!IsAbsolutePath(Folder)) Folder = EnvironmentValue("TMP");
  if (!IsAbsolutePath(Folder)) return std::string();
  if (!IsSeparator(Folder.back())) Folder += PathSeparator;
  return Folder;
}

// Creates D's missing levels from the outermost inwards.
static bool ForceFoldersStep(const std::string& Path) {
  const std::string D = ExcludeTrailingSeparator(Path);
  if (D.empty() || FolderExists(D)) return true;
  const std::string P = ExtractFolderPart(D);
  if (P == D) return false;  // the folder part does not shrink
  return ForceFoldersStep(P) && CreateFolder(D);
}

void StartSearchRecord(TSearchRecord& Record, uint32_t Mask) {
  FindEnd(Record);
  Record.ExcludedAttributes = ~Mask & 0x1E;
  Record.Name.clear();
  Record.Attributes = 0;
  Record.Size = 0;
  Record.ModTime = 0;
}

bool ForceFolders(const std::string& Path, bool BackslashShareOnly) {
  const std::string Drive = ExtractDrivePart(Path);
  if (!Drive.empty() && !FolderExists(Drive)) {
    const bool ShareStart = Drive.size() > 2 && (BackslashShareOnly ? (Drive[0] == '\\' && Drive[1] == '\\')
                                                                    : (IsSeparator(Drive[0]) && IsSeparator(Drive[1])));
    if (!ShareStart) return false;
  }
  if (Path.empty()) throw EInOutError("Cannot create empty directory", 3);
  return ForceFoldersStep(NormalizeSeparators(Path));
}

bool ForceFolders(const std::string& Path) { return ForceFolders(Path, false); }

// Path without its trailing separators, except those of a root: a leading
// "\", a leading "\\" and a leading "X:\" keep theirs.
static std::string WithoutTrailingSeparators(const std::string& Path) {
  size_t Root = 0;
  if (Path.size() >= 2 && IsSeparator(Path[0]) && IsSeparator(Path[1]))
    Root = 2;
  else if (!Path.empty() && IsSeparator(Path[0]))
    Root = 1;
  else if (Path.size() >= 3 && Path[1] == ':' && IsSeparator(Path[2]))
    Root = 3;
  size_t End = Path.size();
  while (End > Root && IsSeparator(Path[End - 1])) --End;
  return Path.substr(0, End);
}

bool ForceFolderPath(const std::string& Path) {
  // Both separators count; the folders are created with the system's one.
  std::string P = NormalizeSeparators(Path);
  if (!P.empty() && !IsSeparator(P.back())) P += PathSeparator;
  for (size_t I = 0; I < P.size(); ++I) {
    if (!IsSeparator(P[I])) continue;
    const std::string D = P.substr(0, I);
    if (I == 0 && LeadingSeparatorIsRoot()) continue;
    if (!FolderExists(WithoutTrailingSeparators(D)) && !CreateFolder(D)) return false;
  }
  return true;
}

static std::string TrimSpaces(const std::string& Text) {
  size_t First = 0, Last = Text.size();
  while (First < Last && Text[First] == ' ') ++First;
  while (Last > First && Text[Last - 1] == ' ') --Last;
  return Text.substr(First, Last - First);
}

bool DeleteFolderTree(const std::string& Folder, bool OnlyChildren) {
  std::string Dir = TrimSpaces(Folder);
  if (Dir.empty()) return false;  // never the current folder by accident
  // A relative folder needs the current folder as its base. When that cannot
  // be read (it was deleted, for instance) the expansion would put the path
  // at the root ("x" would become "/x"): refuse instead.
  if (!HasLongPathPrefix(Dir) && !IsAbsolutePath(NormalizeSeparators(Dir)) && GetCurrentFolder().empty()) return false;
  Dir = ExpandPath(Dir);
  if (Dir.empty()) return false;
  if (!IsSeparator(Dir.back())) Dir += PathSeparator;

  return DeleteTreeAt(WithoutTrailingSeparators(Dir), OnlyChildren);
}

// One expansion of a path whose separators are already the system's.
static std::string ExpandNormalizedPath(const std::string& Path, bool MayRepeat) {
  if (IsAbsolutePath(Path)) return CleanPath(Path);
  std::string Drive;
  if (RootedPathDrive(Path, Drive)) return CleanPath(Drive + Path);
  std::string Base, Rest;
  if (!DriveRelativeBase(Path, Base, Rest)) {
    Base = GetCurrentFolder();
    Rest = Path;
  }
  const std::string Joined = CleanPath(IncludeTrailingSeparator(Base) + Rest);
  if (MayRepeat && !IsAbsolutePath(Joined)) return ExpandNormalizedPath(Joined, false);
  return Joined;
}

std::string ExpandPath(const std::string& Path) {
  if (Path.empty() || HasLongPathPrefix(Path)) return Path;
  return ExpandNormalizedPath(NormalizeSeparators(Path), true);
}
