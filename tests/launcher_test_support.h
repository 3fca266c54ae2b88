// Test support for the launcher: starting a launcher as a child process with
// its own current folder and a changed environment, and what the platform
// does differently around it. One file per platform; the pieces every test
// shares are in tests/test_support.h.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TChildEnvironment {
  std::vector<std::pair<std::string, std::string>> Set;  // name, value
  std::vector<std::string> Unset;
  // POSIX: the user the child runs as (through setpriv), empty for this
  // process's own user.
  std::string RunAs;
};

// Starts Program with Arguments in CurrentFolder; the child's standard error
// goes to StdErrFile where the platform gives the launcher one (POSIX).
intptr_t StartChild(const std::string& Program, const std::vector<std::string>& Arguments,
                    const std::string& CurrentFolder, const TChildEnvironment& Environment,
                    const std::string& StdErrFile);
// Waits for the child and gives its exit code (128 + signal after a signal).
int WaitChild(intptr_t Child);
// Sends the child a request to stop (POSIX: the signal); false where the
// platform has none.
bool SignalChild(intptr_t Child, int Signal);

// A path of the build tree (given in POSIX form) as this platform opens it.
std::string BuildTreePath(const std::string& Path);
// Whether the launcher's failure report reaches its standard error (POSIX);
// on Windows it goes to a message box.
bool ReportOnStdErr();
// Makes the platform's own temporary folder, which a launcher falls back on
// when TEMP and TMP are unset or unusable, one below Folder (TMPDIR on
// POSIX, LOCALAPPDATA on Windows), so that a test never shares it with
// other tests; gives that temporary folder, ending with a separator.
std::string UsePlatformTempFolder(TChildEnvironment& Environment, const std::string& Folder);
