// What every test uses to set up and check its cases: a scratch folder of
// its own, whole-file reads and writes, the names in a folder, the message of
// an expected failure, and the platform pieces that tests share
// (environment changes, links, files held open, users and permissions, the
// current folder, file times). Everything here works through the standard
// library or the system directly, never through the code under test, and
// takes paths as UTF-8 text or as std::filesystem paths alike. The platform
// halves are test_support_posix.cpp and test_support_win32.cpp.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

namespace qbtest {

namespace fsys = std::filesystem;

inline fsys::path U8(const std::string& Utf8) { return fsys::u8path(Utf8); }
inline std::string Utf8Of(const fsys::path& Path) { return Path.u8string(); }

// A path handed to the kit: UTF-8 text or a std::filesystem path.
class TPathArg {
 public:
  TPathArg(const fsys::path& Path) : FPath(Path) {}
  TPathArg(const std::string& Utf8) : FPath(fsys::u8path(Utf8)) {}
  TPathArg(const char* Utf8) : FPath(fsys::u8path(Utf8)) {}
  const fsys::path& Path() const { return FPath; }

 private:
  fsys::path FPath;
};

// Bytes handed to WriteFile: text or a byte vector. Only valid during the
// call it is made for.
class TBytesArg {
 public:
  TBytesArg() = default;
  TBytesArg(const std::string& Text) : FData(Text.data()), FSize(Text.size()) {}
  TBytesArg(const char* Text) : FData(Text), FSize(std::strlen(Text)) {}
  TBytesArg(const std::vector<unsigned char>& Bytes)
      : FData(reinterpret_cast<const char*>(Bytes.data())), FSize(Bytes.size()) {}
  const char* Data() const { return FData; }
  size_t Size() const { return FSize; }

 private:
  const char* FData = "";
  size_t FSize = 0;
};

// The whole content of a file; "<missing>" when it cannot be opened.
std::string ReadFile(const TPathArg& Path);
// Makes Content the whole content of the file (created, or emptied first);
// a test failure when that cannot be done.
void WriteFile(const TPathArg& Path, const TBytesArg& Content = TBytesArg());

// A fresh folder of the test's own under the system's temporary folder,
// removed with everything in it (read-only folders included) when the object
// goes.
class TScratchFolder {
 public:
  TScratchFolder();
  ~TScratchFolder();
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  const fsys::path& Root() const { return FRoot; }
  // The UTF-8 path of Name (which may contain "/") inside the folder; an
  // empty name gives the folder itself with a trailing separator.
  std::string Path(const std::string& Name) const { return Utf8Of(FRoot / U8(Name)); }
  // The folder Name inside the scratch folder, created with its parents; its
  // UTF-8 path with a trailing separator.
  std::string Folder(const std::string& Name) const;

 private:
  fsys::path FRoot;
};

// The names of the entries directly in Folder; none when it cannot be read.
std::set<std::string> Names(const fsys::path& Folder);

// The message of the failure Action raises as class E; a test failure when
// it raises none.
template <class E, class F>
std::string FailureOf(F&& Action) {
  try {
    Action();
  } catch (const E& Failure) {
    return Failure.Message();
  }
  ADD_FAILURE() << "no failure raised";
  return "";
}

// Deterministic content of N bytes that does not repeat.
std::string PatternBytes(size_t N, unsigned Seed = 1);

// ---- environment ----

// Reads a variable of this process; false when it is not set.
bool GetEnv(const std::string& Name, std::string& Value);
void SetEnv(const std::string& Name, const std::string& Value);
void UnsetEnv(const std::string& Name);

// Puts the variables Names back as they were when the guard was made.
class TEnvironmentGuard {
 public:
  explicit TEnvironmentGuard(std::initializer_list<const char*> Names);
  ~TEnvironmentGuard();
  TEnvironmentGuard(const TEnvironmentGuard&) = delete;
  TEnvironmentGuard& operator=(const TEnvironmentGuard&) = delete;

 private:
  struct TSaved {
    std::string Name;
    bool Set;
    std::string Value;
  };
  std::vector<TSaved> FSaved;
};

// Runs Body with the environment replaced by exactly Entries (each
// "NAME=VALUE" as it stands, the list ending with nullptr); false when the
// platform cannot do that.
bool WithEnvironment(const char* const* Entries, void (*Body)(void*), void* Context);

// ---- links ----

// Symbolic link at Link to the folder / file Target; false (with Why filled)
// when the system refuses. Under Wine a folder link is made on the Unix side;
// a file link is refused there, since Wine shows it as a plain file.
bool MakeFolderLink(const std::string& Target, const std::string& Link, std::string& Why);
bool MakeFileLink(const std::string& Target, const std::string& Link, std::string& Why);
// Removes a link made by the two above (never its target) when it is still
// there. A scratch folder removes the links made in it this way before it
// goes: Wine cannot remove a Unix link to a folder through the Windows calls.
void RemoveTestLink(const std::string& Link);
// Notes a link that MakeFolderLink or MakeFileLink made.
void RememberTestLink(const std::string& Link);

// Removes the folder Root with everything in it, links (never followed)
// included, however long its paths; what cannot be removed stays.
void RemoveTree(const fsys::path& Root);

// ---- files held by another program ----

// Holds the file Path open the way another program that refuses sharing
// does (Windows: no sharing at all; POSIX: an exclusive flock); -1 when it
// cannot be opened.
intptr_t HoldFile(const std::string& Path);
void ReleaseFile(intptr_t Held);

// ---- attributes, times and the current folder ----

// Read-only attribute on Windows; no write permission for anyone on POSIX.
bool SetReadOnly(const std::string& Path, bool ReadOnly);
// Hidden / system attribute on Windows; false where there is none (POSIX,
// where hidden means a name beginning with ".").
bool SetHidden(const std::string& Path);
bool SetSystem(const std::string& Path);

// The last-write time of Path, set and read as local time, to the second.
struct TLocalTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
bool SetModTime(const std::string& Path, const TLocalTime& Time);
bool ModTimeOf(const std::string& Path, TLocalTime& Time);

bool SetCurrentFolder(const std::string& Path);
std::string CurrentFolder();

// Makes Levels nested folders named Name below the folder Root and a file
// "leaf.txt" in the deepest, however long the whole path gets (past the
// system's path limit); false when the system refuses.
bool MakeDeepTree(const std::string& Root, int Levels, const std::string& Name);
// True when an entry named Name exists right inside Root.
bool EntryExists(const std::string& Root, const std::string& Name);

// ---- shell tools ----

// Text quoted for a POSIX shell, whatever it holds.
inline std::string ShellQuote(const std::string& Text) {
  std::string Quoted = "'";
  for (char C : Text) Quoted += C == '\'' ? std::string("'\\''") : std::string(1, C);
  return Quoted + "'";
}

// True when the shell finds the program Tool.
inline bool HaveTool(const std::string& Tool) {
  return std::system(("command -v " + Tool + " > /dev/null 2>&1").c_str()) == 0;
}

// ---- the platform ----

bool IsWindowsBuild();
// True when the Windows build runs under Wine.
bool IsWine();
// Whether POSIX permission bits are what decides access here.
bool PermissionBitsApply();
// True when permission bits do not stop this process (root on POSIX).
bool PermissionsAreIgnored();

// ---- users ----

// The unprivileged user that permission tests run as when this process is
// root, and the user that stands for someone else.
constexpr const char* TestUserName = "qbuser";
constexpr const char* OtherUserName = "qbother";

// POSIX, when this process runs as root: makes sure the system user Name
// exists (creating it) and gives its ids; false with Why otherwise.
bool TestUser(const std::string& Name, uint32_t& Uid, uint32_t& Gid, std::string& Why);
// Gives Path and everything below it to the user Name (POSIX, as root).
bool GiveTree(const std::string& Path, const std::string& Name);
// Makes Path (created as a folder when missing) the property of the other
// user (POSIX, as root); false with Why otherwise.
bool GiveToAnotherUser(const std::string& Path, std::string& Why);

// Runs Body where permission bits stop it. On POSIX as root (where they stop
// nothing), Scratch is given to the test user and Body runs in a forked child
// that has become that user; the child's failures and skips are reported here
// with their places, and a child that does not end normally is a failure.
// Otherwise Body runs here directly.
void RunUnprivileged(const TScratchFolder& Scratch, const std::function<void()>& Body);

}  // namespace qbtest
