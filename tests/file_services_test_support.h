// Platform pieces the folder-service tests need to set up their cases:
// environment changes, attributes, links and the current folder. Each
// works on UTF-8 paths and uses the system directly, not the code under test.
#pragma once

#include <string>

namespace qbtest {

// Reads a variable; false when it is not set.
bool GetEnv(const std::string& Name, std::string& Value);
void SetEnv(const std::string& Name, const std::string& Value);
void UnsetEnv(const std::string& Name);
// Runs Body with the environment replaced by exactly Entries (each
// "NAME=VALUE" as it stands); false when the platform cannot do that.
bool WithEnvironment(const char* const* Entries, void (*Body)(void*), void* Context);

// Read-only attribute on Windows; no write permission for anyone on POSIX.
bool SetReadOnly(const std::string& Path, bool ReadOnly);
// Hidden / system attribute on Windows; false where there is none (POSIX,
// where hidden means a name beginning with ".").
bool SetHidden(const std::string& Path);
bool SetSystem(const std::string& Path);

// Symbolic link at Link pointing to the folder / file Target; false (with
// Why filled) when the system refuses.
bool MakeFolderLink(const std::string& Target, const std::string& Link, std::string& Why);
bool MakeFileLink(const std::string& Target, const std::string& Link, std::string& Why);

// Removes a link made by the two above (never its target), when it is still
// there.
void RemoveTestLink(const std::string& Link);

bool SetCurrentFolder(const std::string& Path);
std::string CurrentFolder();

// True when permission bits do not stop this process (root on POSIX).
bool PermissionsAreIgnored();
// True when the build targets Windows.
bool IsWindowsBuild();
// True when the Windows build runs under Wine.
bool IsWine();

}  // namespace qbtest

namespace qbtest {
// Sets the last-write time of Path to the given local time.
bool SetModTime(const std::string& Path, int Year, int Month, int Day, int Hour, int Minute, int Second);
}  // namespace qbtest

namespace qbtest {
// Makes Levels nested folders named Name below the folder Root and a file
// "leaf.txt" in the deepest, however long the whole path gets (past the
// system's path limit); false when the system refuses.
bool MakeDeepTree(const std::string& Root, int Levels, const std::string& Name);
// True when an entry named Name exists right inside Root.
bool EntryExists(const std::string& Root, const std::string& Name);
}  // namespace qbtest
