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
  for (size_t I = Path.size(); I > 0; --I) {
    char C = Path[I - 1];
    if (IsSeparator(C) || C == ':') return I - 1;
  }
  return std::string::npos;
}

std::string ExtractFolderPart(const std::string& Path) {
  size_t I = LastDelimiter(Path);
  return I == std::string::npos ? std::string() : Path.substr(0, I + 1);
}

std::string ExtractNamePart(const std::string& Path) {
  size_t I = LastDelimiter(Path);
  return I == std::string::npos ? Path : Path.substr(I + 1);
}

std::string ExtractDrivePart(const std::string& Path) {
  if (Path.size() >= 2 && Path[1] == ':') return Path.substr(0, 2);
  if (Path.size() >= 2 && IsSeparator(Path[0]) && IsSeparator(Path[1])) {
    // \\server\share: stop at the separator that ends the share name.
    size_t I = 2;
    while (I < Path.size() && !IsSeparator(Path[I])) ++I;  // server
    if (I < Path.size()) {
      ++I;
      while (I < Path.size() && !IsSeparator(Path[I])) ++I;  // share
    }
    return Path.substr(0, I);
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
  for (size_t I = 0; I + 1 < Segment.size(); ++I) {
    if (Segment[I] != '$') continue;
    char N = Segment[I + 1];
    if (N == '(' || (N >= 'A' && N <= 'Z') || (N >= 'a' && N <= 'z')) return true;
  }
  return false;
}

std::string CleanPath(const std::string& Path) {
  if (Path.empty() || HasLongPathPrefix(Path)) return Path;

  const size_t N = Path.size();
  std::string Out;
  size_t I = 0;

  // The root: "\\" (two or more leading separators), "\" (one), or "X:\".
  if (IsSeparator(Path[0])) {
    if (N >= 2 && IsSeparator(Path[1]))
      Out = Path.substr(0, 2);
    else
      Out = Path.substr(0, 1);
    while (I < N && IsSeparator(Path[I])) ++I;
  } else if (N >= 3 && Path[1] == ':' && IsSeparator(Path[2])) {
    Out = Path.substr(0, 3);
    I = 3;
    while (I < N && IsSeparator(Path[I])) ++I;
  }
  const bool HasRoot = !Out.empty();

  // The segments written so far: where each starts in Out, and whether a
  // following ".." must stay after it.
  struct TSegment {
    size_t Start;
    bool KeepsDotDot;  // a ".." that stayed, or a segment with a variable
  };
  std::vector<TSegment> Written;

  while (I < N) {
    size_t J = I;
    while (J < N && !IsSeparator(Path[J])) ++J;
    const std::string Segment = Path.substr(I, J - I);
    size_t K = J;
    while (K < N && IsSeparator(Path[K])) ++K;
    const bool HasSeparator = K > J;

    if (Segment == ".") {
      // Dropped with its separator; a final "." leaves the separator before it.
    } else if (Segment == "..") {
      if (Written.empty() && HasRoot) {
        // ".." right after the root: the root stays.
      } else if (Written.empty() || Written.back().KeepsDotDot) {
        Written.push_back({Out.size(), true});
        Out += Segment;
        if (HasSeparator) Out += Path[J];
      } else {
        // Drop the segment before, keeping the separator in front of it.
        Out.resize(Written.back().Start);
        Written.pop_back();
      }
    } else {
      Written.push_back({Out.size(), HoldsVariableReference(Segment)});
      Out += Segment;
      if (HasSeparator) Out += Path[J];
    }
    I = K;
  }

  // Everything cancelled out ("a\..", ".", ".\"): the current folder.
  if (Out.empty()) return ".";
  return Out;
}
