// The archive reader: extracts every entry of a zip archive into a folder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "fs/stream.h"
#include "zip/decompressor.h"
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

  // Reads the central directory and extracts every entry in its order. The
  // archive stays open until the last entry is done or a failure unwinds.
  // A directory that does not end where the end record says, or is followed
  // by more records than it counts, raises EZipError "Corrupt ZIP file %s".
  // Every entry's data is held to its records: it is never written beyond
  // its declared size, and a size or CRC-32 that differs raises EZipError
  // naming the entry and what is wrong.
  virtual void ExtractAll();

 protected:
  // Extracts one entry from its local header onwards.
  virtual void ExtractEntry(TZipFileEntry& Entry);
  // Method 8 gives a TInflater over Input and Output; any other method
  // raises EZipError "Unsupported compression format %d". Output takes no
  // more than the entry's declared size, and the decompressor's Crc32 is
  // compared with the entry's.
  virtual std::unique_ptr<TDeCompressor> NewDecompressor(TZipFileEntry& Entry, uint16_t Method, TStream* Input,
                                                         TStream* Output);

 private:
  void ReadCentralDirectory();
  // Copies Count stored bytes to the output file; their CRC-32.
  uint32_t CopyStored(uint32_t Count);

  bool FBusy = false;
  uint32_t FBufferSize = 16384;
  std::string FFileName;
  std::string FOutputPath;
  TZipFileEntries FEntries;
  std::unique_ptr<TFileStream> FOutStream;  // the entry being written
  std::unique_ptr<TFileStream> FZipStream;  // open only during ExtractAll
  std::unique_ptr<TReadBuffer> FZipReader;  // every read of the archive goes through it
  TLocalFileHeader FLocalHeader{};
  TCentralFileHeader FCentralHeader{};
  TEndOfCentralDir FEndHeader{};
  // Reused across entries: the copy buffer for stored data and the folder
  // most recently made sure of.
  std::unique_ptr<unsigned char[]> FCopyBuffer;
  std::string FLastFolder;
};

// Extracts every entry of ArchiveFile into Folder (a separator is appended
// when Folder does not end with one). Nothing is ever written outside Folder.
void ExtractArchive(const std::string& ArchiveFile, const std::string& Folder);

// True when an entry name must not be extracted: it is empty, starts with a
// separator, or has a ".." segment ("\", "/" and ":" all separate segments;
// a segment of dots and spaces only, with two dots or more, counts as "..",
// since Windows drops trailing dots and spaces), contains a zero byte, or has
// a segment that names a device of this platform (IsReservedName: "nul.txt"
// on Windows; nothing on POSIX).
bool EntryNameLeadsOutside(const std::string& Name);
