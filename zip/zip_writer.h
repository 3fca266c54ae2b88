// The archive writer: packs streams into a zip archive, and PackFolder, which
// packs every file lying directly in a folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fs/stream.h"
#include "zip/compressor.h"
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
  // entry is written: the archive name with the extension ".tmp2".
  std::string SpillFileName() const;

  // Writes every entry, then the central directory and the end record. The
  // archive is first written under a temporary name beside FileName, flushed
  // to disk and then moved over FileName in one step, so FileName is either
  // the previous file or the complete new archive. Nothing is written for an
  // empty entry list.
  virtual void WriteArchive();

 protected:
  virtual void WriteEntry(TZipFileEntry& Entry);
  virtual std::unique_ptr<TCompressor> NewCompressor(TZipFileEntry& Entry, TStream* Input,
                                                     TStream* Output);

  // The archive being written; only during WriteArchive.
  TStream* OutputStream() const { return FOutStream; }

  // The largest value any offset or size in the archive may take (the format
  // keeps them as signed 32-bit numbers).
  int64_t FMaxArchiveSize = 0x7FFFFFFF;

 private:
  void CheckArchiveSize(int64_t End) const;
  void WriteCentralDirectory(int EntriesWritten);

  TZipFileEntries FEntries;
  bool FBusy = false;
  uint32_t FBufferSize = 16384;
  std::string FFileName;
  int32_t FInMemSize = 10240000;
  TStream* FOutStream = nullptr;  // the archive, open only during WriteArchive
  TStream* FInStream = nullptr;
  TLocalFileHeader FLocalHeader{};
  TCentralFileHeader FCentralHeader{};
  TEndOfCentralDir FEndHeader{};
};

// Packs every file lying directly in Folder (which ends with a separator)
// into ArchiveFile. A folder without entries leaves no archive; any failure
// leaves a previous ArchiveFile as it was.
void PackFolder(const std::string& Folder, const std::string& ArchiveFile);
