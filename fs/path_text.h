// Pure operations on path text (UTF-8). "\" and "/" both count as
// separators wherever a path is examined; ":" ends a drive part.
#pragma once

#include <string>

// The separator this system writes into the paths it builds.
#ifdef _WIN32
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

inline bool IsSeparator(char C) { return C == '\\' || C == '/'; }

std::string IncludeTrailingSeparator(const std::string& Path);
std::string ExcludeTrailingSeparator(const std::string& Path);
std::string ExtractFolderPart(const std::string& Path);
std::string ExtractNamePart(const std::string& Path);
std::string ExtractDrivePart(const std::string& Path);
std::string CleanPath(const std::string& Path);

// Path with every "\" and "/" replaced by PathSeparator.
std::string NormalizeSeparators(const std::string& Path);
// True for a path that begins with "\\?\" (used as it stands, never cleaned).
bool HasLongPathPrefix(const std::string& Path);
