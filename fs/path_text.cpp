// Pure operations on path text. No system calls: the same results on every
// platform, whichever separator a path uses.
#include "fs/path_text.h"

#include <vector>

std::string IncludeTrailingSeparator(const std::string& Path) {
  if (!Path.empty() && IsSeparator(Path.back())) return Path;
  return Path + PathSeparator;
}

std::string ExcludeTrailingSeparator(const std::string& Path) {
  if (!Path.empty() && IsSeparator(Path.back())) return Path.substr(0, Path.size() - 1);
  return Path;
}

// Index of the last "\", "/" or ":" in Path, or npos.
static size_t LastDelimiter(const std::string& Path) {
  for (size_t i = Path.size(); i > 0; --i) {
    char C = Path[i - 1];
    if (IsSeparator(C) || C == ':') return i - 1;
  }
  return std::string::npos;
}

std::string ExtractFolderPart(const std::string& Path) {
  size_t i = LastDelimiter(Path);
  return i == std::string::npos ? std::string() : Path.substr(0, i + 1);
}

std::string ExtractNamePart(const std::string& Path) {
  size_t i = LastDelimiter(Path);
  return i == std::string::npos ? Path : Path.substr(i + 1);
}

std::string ExtractDrivePart(const std::string& Path) {
  if (Path.size() >= 2 && Path[1] == ':') return Path.substr(0, 2);
  if (Path.size() >= 2 && IsSeparator(Path[0]) && IsSeparator(Path[1])) {
    // \\server\share: stop at the separator that ends the share name.
    size_t i = 2;
    while (i < Path.size() && !IsSeparator(Path[i])) ++i;  // server
    if (i < Path.size()) {
      ++i;
      while (i < Path.size() && !IsSeparator(Path[i])) ++i;  // share
    }
    return Path.substr(0, i);
  }
  return std::string();
}

std::string NormalizeSeparators(const std::string& Path) {
  std::string Result = Path;
  for (char& C : Result)
    if (IsSeparator(C)) C = PathSeparator;
  return Result;
}

bool HasLongPathPrefix(const std::string& Path) { return Path.compare(0, 4, "\\\\?\\") == 0; }

// A segment such as "$(VAR)" or "$HOME" names something that is expanded
// later; a ".." after it cannot be resolved here.
static bool HoldsVariableReference(const std::string& Segment) {
  for (size_t i = 0; i + 1 < Segment.size(); ++i) {
    if (Segment[i] != '$') continue;
    char N = Segment[i + 1];
    if (N == '(' || (N >= 'A' && N <= 'Z') || (N >= 'a' && N <= 'z')) return true;
  }
  return false;
}

std::string CleanPath(const std::string& Path) {
  if (Path.empty() || HasLongPathPrefix(Path)) return Path;

  const size_t n = Path.size();
  std::string Out;
  size_t i = 0;

  // The root: "\\" (two or more leading separators), "\" (one), or "X:\".
  if (IsSeparator(Path[0])) {
    if (n >= 2 && IsSeparator(Path[1])) Out = Path.substr(0, 2);
    else Out = Path.substr(0, 1);
    while (i < n && IsSeparator(Path[i])) ++i;
  } else if (n >= 3 && Path[1] == ':' && IsSeparator(Path[2])) {
    Out = Path.substr(0, 3);
    i = 3;
    while (i < n && IsSeparator(Path[i])) ++i;
  }
  const bool HasRoot = !Out.empty();

  // The segments written so far: where each starts in Out, and whether a
  // following ".." must stay after it.
  struct TSegment {
    size_t Start;
    bool KeepsDotDot;  // a ".." that stayed, or a segment with a variable
  };
  std::vector<TSegment> Written;

  while (i < n) {
    size_t j = i;
    while (j < n && !IsSeparator(Path[j])) ++j;
    const std::string Segment = Path.substr(i, j - i);
    size_t k = j;
    while (k < n && IsSeparator(Path[k])) ++k;
    const bool HasSeparator = k > j;

    if (Segment == ".") {
      // Dropped with its separator; a final "." leaves the separator before it.
    } else if (Segment == "..") {
      if (Written.empty() && HasRoot) {
        // ".." right after the root: the root stays.
      } else if (Written.empty() || Written.back().KeepsDotDot) {
        Written.push_back({Out.size(), true});
        Out += Segment;
        if (HasSeparator) Out += Path[j];
      } else {
        // Drop the segment before, keeping the separator in front of it.
        Out.resize(Written.back().Start);
        Written.pop_back();
      }
    } else {
      Written.push_back({Out.size(), HoldsVariableReference(Segment)});
      Out += Segment;
      if (HasSeparator) Out += Path[j];
    }
    i = k;
  }

  // Everything cancelled out ("a\..", ".", ".\"): the current folder.
  if (Out.empty()) return ".";
  return Out;
}
