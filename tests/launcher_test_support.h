// Test support for the launcher: starting a launcher as a child process with
// its own current folder and a changed environment, and changing this
// process's environment. One file per platform.
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

// The system's temporary folder for scratch folders, UTF-8, trailing separator.
std::string ScratchRoot();
// A path of the build tree (given in POSIX form) as this platform opens it.
std::string BuildTreePath(const std::string& Path);
// Whether the launcher's failure report reaches its standard error (POSIX);
// on Windows it goes to a message box.
bool ReportOnStdErr();
// The temporary folder a launcher falls back on when TEMP and TMP are unset
// and the environment is otherwise Environment; empty when the platform's
// rule cannot be worked out from the outside.
std::string FallbackTempFolder(const TChildEnvironment& Environment);

// Sets or removes a variable of this process's environment.
void SetEnvironmentValue(const std::string& Name, const std::string& Value);
void ClearEnvironmentValue(const std::string& Name);

// Makes Link a link to the folder Target; false when the platform (or Wine)
// cannot make one.
bool MakeFolderLink(const std::string& Target, const std::string& Link);

// POSIX, when this process runs as root: makes sure a system user Name
// exists (creating it) and gives its ids; false with Why otherwise.
bool TestUser(const std::string& Name, uint32_t& Uid, uint32_t& Gid, std::string& Why);
// Gives Path and everything below it to the user Name (POSIX, as root).
bool GiveTree(const std::string& Path, const std::string& Name);
// Runs Command (a shell command line) as the user Name and gives its exit
// code (POSIX, as root).
int RunAsUser(const std::string& Name, const std::string& Command);

// Holds the file Path open the way another program that refuses sharing
// does (Windows: no sharing at all; POSIX: an exclusive flock). -1 when it
// cannot be opened.
intptr_t HoldFile(const std::string& Path);
void ReleaseFile(intptr_t Held);

// Sends the child a request to stop (POSIX: the signal); false where the
// platform has none.
bool SignalChild(intptr_t Child, int Signal);

// Makes Link a link to the file Target; false where it cannot be made.
bool MakeFileLink(const std::string& Target, const std::string& Link);
// Whether POSIX permission bits are what decides access here.
bool PermissionBitsApply();
// Makes Path (created as a folder when missing) the property of another
// user, "qbother" (POSIX, as root); false with Why otherwise.
bool GiveToAnotherUser(const std::string& Path, std::string& Why);
