// The archive writer: packs streams and files into a zip archive, and
// PackFolder, which packs a folder tree.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fs/file_transfer.h"
#include "fs/stream.h"
#include "zip/compressor.h"
#include "zip/worker_pool.h"
#include "zip/zip_format.h"

class TZipper {
 public:
  TZipper();
  // Clears the entry list; the entries' streams are not freed.
  virtual ~TZipper();
  TZipper(const TZipper&) = delete;
  TZipper& operator=(const TZipper&) = delete;

  // The archive to write. Raises EZipError while Busy.
  const std::string& FileName() const { return FFileName; }
  void SetFileName(const std::string& Value);

  TZipFileEntries& Entries() { return FEntries; }
  // Appends an entry whose data is read from Stream (not owned).
  TZipFileEntry& AddStreamEntry(TStream* Stream, const std::string& ArchiveFileName);

  bool Busy() const { return FBusy; }
  uint32_t BufferSize() const { return FBufferSize; }
  int32_t InMemSize() const { return FInMemSize; }
  // Where the compressed data of an input above InMemSize is kept while the
  // entry is written: the archive name with the extension ".tmp2", in
  // SpillFolder when that is set (an archive written into someone else's
  // folder keeps its holding file out of it).
  std::string SpillFileName() const;
  std::string SpillFolder;

  // Writes every entry, then the central directory and the end record. An
  // entry with a stream is read from it; any other from its DiskFileName,
  // opened when the entry is written and closed right after it. The archive
  // is first written under a temporary name beside FileName, flushed to disk
  // and then moved over FileName in one step, so FileName is either the
  // previous file or the complete new archive. For an empty entry list
  // nothing is written unless WriteEmptyArchive is set, which gives an
  // archive of the end record alone.
  virtual void WriteArchive();
  // Writes the archive as WriteArchive does, but a failure to write or
  // replace FileName comes back as the result (with the system's reason)
  // instead of being raised; failures to read the entries still raise.
  TTransferResult TryWriteArchive();

  bool WriteEmptyArchive = false;
  // How many workers encode entries read from disk files (1: all on the
  // calling thread). With more, up to Workers entries are read and encoded
  // ahead into memory (each worker holds at most one input file open, and
  // the bytes held ahead are bounded) while the calling thread writes them
  // in the list's order: the archive is the same byte for byte. PackFolder
  // sets WorkerCount().
  int Workers = 1;
  // Stored names are cut to this many bytes (never inside a UTF-8
  // character). 255 by default; PackFolder, whose names are paths below the
  // packed folder, keeps them whole up to the format's 65,535.
  size_t MaxNameLength = 255;

 protected:
  // Writes one entry: its data comes from the entry's input, or from what a
  // worker encoded ahead for it.
  virtual void WriteEntry(TZipFileEntry& Entry);
  virtual std::unique_ptr<TCompressor> NewCompressor(TZipFileEntry& Entry, TStream* Input, TStream* Output);

  // The archive being written; only during WriteArchive.
  TStream* OutputStream() const { return FOutStream; }

  // The largest value any offset or size in the archive may take (the format
  // keeps them as signed 32-bit numbers).
  int64_t FMaxArchiveSize = 0x7FFFFFFF;

 private:
  void CheckArchiveSize(int64_t End) const;
  // The size of an entry's input; raises EZipError when the format cannot
  // hold it.
  int32_t InputSize(const TZipFileEntry& Entry, TStream& Input) const;
  void WriteCentralDirectory(int EntriesWritten);
  // Writes the entry at the archive's end: the local header for data of
  // Compressed bytes with Crc and Method, then Compressed bytes of Data from
  // its start.
  void WriteEncoded(TZipFileEntry& Entry, uint32_t Crc, uint16_t Method, TStream& Data, int64_t Compressed);
  // Writes entry Index: opens its disk file when it has no stream.
  void WriteOne(int Index);

  TZipFileEntries FEntries;
  bool FBusy = false;
  uint32_t FBufferSize = 16384;
  std::string FFileName;
  int32_t FInMemSize = 10240000;
  TStream* FOutStream = nullptr;  // the archive, open only during WriteArchive
  TStream* FInStream = nullptr;
  struct TEncoded;
  class TEncodeAhead;
  TEncoded* FEncoded = nullptr;  // what was encoded ahead for the entry being written
  TLocalFileHeader FLocalHeader{};
  TCentralFileHeader FCentralHeader{};
  TEndOfCentralDir FEndHeader{};
};

// Packs the tree of Folder (which ends with a separator) into ArchiveFile:
// every file, named by its path below Folder with "/" between the levels,
// and every subfolder that holds no file as a folder entry ("sub/"); links
// are skipped. One input file is open at a time. A folder without entries
// gives an empty archive. A folder that is missing or cannot be listed, and
// any other failure, raise and leave a previous ArchiveFile as it was.
// Workers encode the files (see TZipper::Workers).
void PackFolder(const std::string& Folder, const std::string& ArchiveFile, int Workers = WorkerCount());
// Packs as PackFolder does; a failure to write or replace ArchiveFile comes
// back as the result instead of being raised.
TTransferResult TryPackFolder(const std::string& Folder, const std::string& ArchiveFile, int Workers = WorkerCount(),
                              const std::string& SpillFolder = std::string());
