// The zip records this system reads and writes, the entry list shared by the
// archive reader and writer, DOS date-time conversion and the CRC-32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/stream.h"

inline constexpr uint32_t LocalFileHeaderSignature = 0x04034B50;
inline constexpr uint32_t CentralFileHeaderSignature = 0x02014B50;
inline constexpr uint32_t EndOfCentralDirSignature = 0x06054B50;

// Sizes of the records on disk (the name and extra fields follow them).
inline constexpr int32_t LocalFileHeaderSize = 30;
inline constexpr int32_t CentralFileHeaderSize = 46;
inline constexpr int32_t EndOfCentralDirSize = 22;

// General-purpose flag bits: the reader looks at the first two, the writer
// sets the third for names outside ASCII.
enum TGeneralFlag : uint16_t { zfEncrypted = 0x0001, zfDataDescriptor = 0x0008, zfUtf8Name = 0x0800 };

struct TLocalFileHeader {
  uint32_t Signature;
  uint16_t VersionNeeded, Flags, Method, ModTime, ModDate;
  uint32_t Crc32, CompressedSize, UncompressedSize;
  uint16_t NameLength, ExtraLength;
};  // 30 bytes on disk

struct TCentralFileHeader {
  uint32_t Signature;
  uint16_t VersionMadeBy, VersionNeeded, Flags, Method, ModTime, ModDate;
  uint32_t Crc32, CompressedSize, UncompressedSize;
  uint16_t NameLength, ExtraLength, CommentLength, DiskStart, InternalAttributes;
  uint32_t ExternalAttributes, LocalHeaderOffset;
};  // 46 bytes on disk

struct TEndOfCentralDir {
  uint32_t Signature;
  uint16_t ThisDisk, CentralDirDisk, EntriesThisDisk, TotalEntries;
  uint32_t CentralDirSize, CentralDirOffset;
  uint16_t CommentLength;
};  // 22 bytes on disk

// Little-endian (de)serialisation, one block per record whatever the host's
// byte order; a short read raises EReadError, a short write EWriteError.
void ReadLocalHeader(TStream& Stream, TLocalFileHeader& Header);
void WriteLocalHeader(TStream& Stream, const TLocalFileHeader& Header);
void ReadCentralHeader(TStream& Stream, TCentralFileHeader& Header);
void WriteCentralHeader(TStream& Stream, const TCentralFileHeader& Header);
void ReadEndOfCentralDir(TStream& Stream, TEndOfCentralDir& Record);
void WriteEndOfCentralDir(TStream& Stream, const TEndOfCentralDir& Record);

class TZipFileEntry {
 public:
  // The stored name; DiskFileName when none was set.
  std::string ArchiveFileName() const;
  void SetArchiveFileName(std::string Name);

  double DateTime = 0;
  std::string DiskFileName;
  int32_t HeaderPosition = 0;
  int32_t Size = 0;
  TStream* Stream = nullptr;  // not owned

  // Filled by the reader from the central directory record.
  uint16_t VersionMadeBy = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t CentralCrc32 = 0;
  uint32_t CentralCompressedSize = 0;
  uint32_t CentralUncompressedSize = 0;

 private:
  std::string FArchiveFileName;
};

class TZipFileEntries {
 public:
  TZipFileEntry& Add();
  TZipFileEntry& AddStreamEntry(TStream* Stream, const std::string& ArchiveFileName);
  int Count() const { return static_cast<int>(FItems.size()); }
  TZipFileEntry& operator[](int Index);
  const TZipFileEntry& operator[](int Index) const;
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TZipFileEntry>> FItems;
};

// Date-time: days since 1899-12-30 00:00, the fraction being the time of day.
void ToDosDateTime(double DateTime, uint16_t& DosDate, uint16_t& DosTime);
// Raises EConvertError for an invalid time of day or calendar date.
double FromDosDateTime(uint16_t DosDate, uint16_t DosTime);
// As FromDosDateTime, without raising: false (DateTime untouched) for an
// invalid time of day or calendar date.
bool TryFromDosDateTime(uint16_t DosDate, uint16_t DosTime, double& DateTime);

// CRC-32 of the zip format (reflected polynomial 0xEDB88320). A run starts
// with the register at 0xFFFFFFFF and ends with its one's complement.
uint32_t UpdateCrc32(uint32_t Crc, uint8_t Byte);
uint32_t UpdateCrc32(uint32_t Crc, const void* Data, size_t Length);
