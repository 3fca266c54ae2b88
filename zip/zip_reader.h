// The archive reader: extracts every entry of a zip archive into a folder.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "fs/stream.h"
#include "zip/decompressor.h"
#include "zip/worker_pool.h"
#include "zip/zip_format.h"

class TFileStream;
class TReadBuffer;

class TUnZipper {
 public:
  TUnZipper();
  // Clears the entry list.
  virtual ~TUnZipper();
  TUnZipper(const TUnZipper&) = delete;
  TUnZipper& operator=(const TUnZipper&) = delete;

  // The archive to read. Raises EZipError while Busy.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value);
  // The folder entry names are appended to. Raises EZipError while Busy.
  const std::string& OutputPath() const { return FOutputPath; }
  void SetOutputPath(const std::string& Value);

  TZipFileEntries& Entries() { return FEntries; }
  bool Busy() const { return FBusy; }
  uint32_t BufferSize() const { return FBufferSize; }

  // Reads the central directory, then every entry's local header in the
  // directory's order (ExtractEntry: names and records checked, folders
  // made), then extracts the entries' data on Workers workers, each reading
  // the archive at its own position and creating, writing and closing its
  // own files. The archive stays open until the last entry is done or a
  // failure unwinds. A directory that does not end where the end record
  // says, or is followed by more records than it counts, raises EZipError
  // "Corrupt ZIP file %s". Every entry's data is held to its records: it is
  // never written beyond its declared size, and a size or CRC-32 that
  // differs raises EZipError naming the entry and what is wrong. When
  // entries fail, the failure raised is that of the first one in the
  // directory's order, whatever the workers' timing; the other workers stop
  // taking entries after it. Entries that name the same file are extracted
  // one after the other in that order, so the last one is what remains.
  virtual void ExtractAll();

  // How many workers extract the data (1: all on the calling thread).
  // ExtractArchive sets WorkerCount().
  int Workers = 1;

 protected:
  // Reads one entry's local header, checks its name and records, makes its
  // folders and queues its data for the workers.
  virtual void ExtractEntry(TZipFileEntry& Entry);
  // Method 8 gives a TInflater over Input and Output; any other method
  // raises EZipError "Unsupported compression format %d". Output takes no
  // more than the entry's declared size, and the decompressor's Crc32 is
  // compared with the entry's. Called on the workers, several at once: it
  // must not change the unzipper.
  virtual std::unique_ptr<TDeCompressor> NewDecompressor(TZipFileEntry& Entry, uint16_t Method, TStream* Input,
                                                         TStream* Output);

 private:
  struct TEntryJob;
  class TWorker;
  void ReadCentralDirectory();
  // Extracts the queued entries' data on the workers; raises the failure of
  // the first failing entry in the directory's order.
  void ExtractQueued(int FailedAt, std::exception_ptr Failure);
  // After a failure at entry FailedAt: leaves the files as the entries
  // before it made them.
  void UndoAfter(int FailedAt, const std::vector<std::vector<size_t>>& Lanes, const std::vector<char>& Started);

  bool FBusy = false;
  uint32_t FBufferSize = 16384;
  std::string FFileName;
  std::string FOutputPath;
  TZipFileEntries FEntries;
  std::unique_ptr<TFileStream> FZipStream;  // open only during ExtractAll
  std::unique_ptr<TReadBuffer> FZipReader;  // the directory and local headers are read through it
  TLocalFileHeader FLocalHeader{};
  TCentralFileHeader FCentralHeader{};
  TEndOfCentralDir FEndHeader{};
  std::vector<TEntryJob> FJobs;  // the data to extract, in the directory's order
  // Makes the folder Path (MakeWhole makes it with its parents), looking
  // at its parents only when they were not made in this extraction.
  template <class F>
  void MakeFolder(const std::string& Path, F MakeWhole);
  std::unordered_set<std::string> FMadeFolders;  // folders made in this extraction
  int FQueuing = 0;                              // the index of the entry ExtractEntry is given
};

// Extracts every entry of ArchiveFile into Folder (a separator is appended
// when Folder does not end with one) on Workers workers. Nothing is ever
// written outside Folder.
void ExtractArchive(const std::string& ArchiveFile, const std::string& Folder, int Workers = WorkerCount());

// True when an entry name must not be extracted: it is empty, starts with a
// separator, or has a ".." segment ("\", "/" and ":" all separate segments;
// a segment of dots and spaces only, with two dots or more, counts as "..",
// since Windows drops trailing dots and spaces), contains a zero byte, or has
// a segment that names a device of this platform (IsReservedName: "nul.txt"
// on Windows; nothing on POSIX).
bool EntryNameLeadsOutside(const std::string& Name);
