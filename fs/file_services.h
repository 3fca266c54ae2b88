// Folders, existence tests, deletions, enumeration and the pause: the one
// layer of the system over the file system. Every path is UTF-8 text.
#pragma once

#include <cstdint>
#include <string>

// Attribute word bits (the same values on every platform).
enum TFileAttribute : uint32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeId = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
  faAnyFile = 0x1FF,
  faReparsePoint = 0x400,  // an entry that is a link (symbolic link, junction)
};

// The state of one folder enumeration and its current entry.
struct TSearchRecord {
  uint32_t ModTime = 0;  // DOS date-time in local time (date high, time low)
  int64_t Size = 0;
  uint32_t Attributes = 0;
  std::string Name;
  uint32_t ExcludedAttributes = 0;
  intptr_t Handle = -1;      // the platform search, -1 while none is open
  void* RawEntry = nullptr;  // the platform's description of the entry
};

std::string GetTempFolder(bool PerUser = false);
std::string GetCurrentFolder();
bool FileExists(const std::string& Path);
bool FolderExists(const std::string& Path);
bool RemoveFile(const std::string& Path);
bool CreateFolder(const std::string& Path);
bool RemoveFolder(const std::string& Path);
bool ForceFolders(const std::string& Path);
// As above; with BackslashShareOnly, a drive part counts as the start of a
// network share only when it begins with two "\" (archive extraction).
bool ForceFolders(const std::string& Path, bool BackslashShareOnly);
bool ForceFolderPath(const std::string& Path);
bool DeleteFolderTree(const std::string& Folder, bool OnlyChildren);
int FindFirstEntry(const std::string& Pattern, uint32_t Mask, TSearchRecord& Record);
int FindNextEntry(TSearchRecord& Record);
void FindEnd(TSearchRecord& Record);
std::string ExpandPath(const std::string& Path);
void Pause(uint32_t Milliseconds);

// Replaces Target by Source in one step (Target may exist; the two are in
// the same folder or at least on the same volume) and makes the change
// durable. True when Source now stands under the name Target.
bool RenameReplace(const std::string& Source, const std::string& Target);

// The code FindFirstEntry / FindNextEntry give when the search has run out
// of entries: 18 (ERROR_NO_MORE_FILES) on Windows, ENOENT on POSIX.
extern const int NoMoreEntriesError;
