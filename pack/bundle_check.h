// The check that a zip archive can be a launcher's bundle: it is extracted
// with the launcher's own reader into a scratch folder, so every rule the
// launcher applies at run time applies here too; then its entries are held
// to what the application needs of them.
#pragma once

#include <string>
#include <vector>

// The platform of the launcher that is to carry the bundle.
enum TBundleTarget { btWindows, btPosix };

// The platform this program is built for.
TBundleTarget NativeBundleTarget();

struct TBundleCheck {
  // Empty when a launcher for the target could install the archive and start
  // its application; otherwise the first problem, as the rest of a sentence
  // that begins with "it" (for example "lacks the root entry "swipl.home"
  // ...").
  std::string Problem;
  // What would still go wrong at run time, each as the rest of a sentence
  // that begins with "it".
  std::vector<std::string> Warnings;
};

// Checks Archive for a launcher of Target: the layout and the entries the
// launcher needs, no entry stored as a link, and on POSIX a "quintabel.exe"
// that is extracted executable (refusals); a runtime marker whose first line
// does not name the work folder (a warning).
TBundleCheck CheckBundle(const std::string& Archive, TBundleTarget Target);

// "Invalid quintabel bundle "<Archive>": it <Problem>."
std::string BundleProblemMessage(const std::string& Archive, const std::string& Problem);
// "Warning: quintabel bundle "<Archive>": it <Warning>."
std::string BundleWarningMessage(const std::string& Archive, const std::string& Warning);
