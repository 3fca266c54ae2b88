// The check that a zip archive can be a launcher's bundle: it is extracted
// with the launcher's own reader (ExtractArchive) into a scratch folder, so
// every rule the launcher applies at run time applies here too.
#pragma once

#include <string>

// Empty when a launcher could install Archive; otherwise the first problem,
// as the rest of a sentence that begins with "it" (for example "lacks the
// root entry "swipl.home" ...").
std::string BundleProblem(const std::string& Archive);

// "Invalid quintabel bundle "<Archive>": it <Problem>."
std::string BundleProblemMessage(const std::string& Archive, const std::string& Problem);
