#include "zip/zip_reader.h"

#include <algorithm>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/path_text.h"
#include "fs/reserved_names.h"
#include "runtime/exceptions.h"
#include "runtime/scope_exit.h"
#include "zip/name_decoding.h"
#include "zip/read_buffer.h"

namespace {

constexpr uint32_t kStoredChunk = 131072;
constexpr uint32_t kDefaultRights = 0666;

// Folder + name, where an empty folder means the current folder.
std::string JoinFolder(const std::string& Folder, const std::string& Name) {
  return Folder.empty() ? Name : IncludeTrailingSeparator(Folder) + Name;
}

void SeekExactly(TStream& Stream, int64_t Position) {
  if (Stream.Seek(Position, soBeginning) != Position) throw EReadError("Stream read error");
}

std::string ReadName(TStream& Stream, uint16_t Length) {
  std::string name(Length, '\0');
  if (Length) Stream.ReadBuffer(&name[0], Length);
  return name;
}

// Raises the failure of an entry whose data does not match its records.
[[noreturn]] void RaiseDamaged(const std::string& Entry, const std::string& Archive,
                               const std::string& Reason) {
  throw EZipError(
      FormatText("Entry \"%s\" of ZIP file %s is damaged: %s", Entry, Archive, Reason));
}

// The output of one entry: it passes at most Limit bytes on to the file and
// raises as soon as the data would go beyond them, so an entry never writes
// more than its records declare, whatever its compressed data holds.
class TEntryOutput : public TStream {
 public:
  TEntryOutput(TStream& Target, uint32_t Limit, const std::string& Entry, const std::string& Archive)
      : FTarget(Target), FLeft(Limit), FEntry(Entry), FArchive(Archive) {}

  int32_t Read(void*, int32_t) override { return 0; }
  int32_t Write(const void* Buffer, int32_t Count) override {
    if (Count <= 0) return 0;
    if (static_cast<uint32_t>(Count) > FLeft) {
      if (FLeft > 0) FTarget.WriteBuffer(Buffer, static_cast<int32_t>(FLeft));
      FWritten += FLeft;
      FLeft = 0;
      RaiseDamaged(FEntry, FArchive,
                   FormatText("more data than its declared size of %d bytes", FWritten));
    }
    FTarget.WriteBuffer(Buffer, Count);
    FLeft -= static_cast<uint32_t>(Count);
    FWritten += static_cast<uint32_t>(Count);
    return Count;
  }
  // Only the position can be asked for: the data goes out front to back.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    return Offset == 0 && Origin != soBeginning ? static_cast<int64_t>(FWritten) : -1;
  }
  bool SetSize(int64_t) override { return false; }

  uint32_t Written() const { return FWritten; }

 private:
  TStream& FTarget;
  uint32_t FLeft;
  uint32_t FWritten = 0;
  const std::string& FEntry;
  const std::string& FArchive;
};

// The permission bits for an extracted file: the rwx bits a Unix tool
// recorded, else read-write for everyone (both under the umask).
uint32_t EntryRights(const TZipFileEntry& Entry) {
  if ((Entry.VersionMadeBy >> 8) != 3) return kDefaultRights;
  const uint32_t bits = (Entry.ExternalAttributes >> 16) & 0777;
  return bits ? bits : kDefaultRights;
}

}  // namespace

bool EntryNameLeadsOutside(const std::string& Name) {
  if (Name.empty() || IsSeparator(Name[0])) return true;
  if (Name.find('\0') != std::string::npos) return true;
  size_t start = 0;
  while (start <= Name.size()) {
    size_t end = start;
    while (end < Name.size() && !IsSeparator(Name[end]) && Name[end] != ':') ++end;
    int dots = 0;
    bool onlyDotsAndSpaces = true;
    for (size_t i = start; i < end; ++i) {
      if (Name[i] == '.') {
        ++dots;
      } else if (Name[i] != ' ') {
        onlyDotsAndSpaces = false;
        break;
      }
    }
    if (onlyDotsAndSpaces && dots >= 2) return true;
    // A device name ("nul.txt" on Windows) opens the device, not a file in
    // the output folder.
    if (end > start && IsReservedName(Name.substr(start, end - start))) return true;
    start = end + 1;
  }
  return false;
}

TUnZipper::TUnZipper() = default;

TUnZipper::~TUnZipper() { FEntries.Clear(); }

void TUnZipper::SetFileName(const std::string& Value) {
  if (FBusy) throw EZipError("Changing output file name is not allowed while (un)zipping");
  FFileName = Value;
}

void TUnZipper::SetOutputPath(const std::string& Value) {
  if (FBusy) throw EZipError("Changing output file name is not allowed while (un)zipping");
  FOutputPath = Value;
}

std::unique_ptr<TDeCompressor> TUnZipper::NewDecompressor(TZipFileEntry& /*Entry*/, uint16_t Method,
                                                          TStream* Input, TStream* Output) {
  if (Method == TInflater::ClassMethodId())
    return std::make_unique<TInflater>(Input, Output, FBufferSize);
  throw EZipError(FormatText("Unsupported compression format %d", Method));
}

void TUnZipper::ReadCentralDirectory() {
  TStream& zip = *FZipReader;
  const std::string corrupt = FormatText("Corrupt ZIP file %s", FFileName);
  const int64_t size = zip.Size();
  if (size < EndOfCentralDirSize) throw EZipError(corrupt);
  SeekExactly(zip, size - EndOfCentralDirSize);
  ReadEndOfCentralDir(zip, FEndHeader);
  if (FEndHeader.Signature != EndOfCentralDirSignature) throw EZipError(corrupt);

  // A directory that cannot fit in the file is refused before any entry is
  // allocated for it.
  const uint32_t count = FEndHeader.EntriesThisDisk;
  const uint64_t dirEnd = static_cast<uint64_t>(FEndHeader.CentralDirOffset) +
                          static_cast<uint64_t>(count) * CentralFileHeaderSize;
  if (dirEnd > static_cast<uint64_t>(size)) throw EZipError(corrupt);

  SeekExactly(zip, FEndHeader.CentralDirOffset);
  for (uint32_t i = 0; i < count; ++i) {
    TCentralFileHeader& h = FCentralHeader;
    ReadCentralHeader(zip, h);
    if (h.Signature != CentralFileHeaderSignature) throw EZipError(corrupt);
    TZipFileEntry& entry = FEntries.Add();
    entry.HeaderPosition = static_cast<int32_t>(h.LocalHeaderOffset);
    entry.VersionMadeBy = h.VersionMadeBy;
    entry.ExternalAttributes = h.ExternalAttributes;
    entry.CentralCrc32 = h.Crc32;
    entry.CentralCompressedSize = h.CompressedSize;
    entry.CentralUncompressedSize = h.UncompressedSize;
    entry.SetArchiveFileName(DecodeEntryName(ReadName(zip, h.NameLength)));
    const int64_t skip = static_cast<int64_t>(h.ExtraLength) + h.CommentLength;
    if (skip) SeekExactly(zip, zip.Position() + skip);
  }
  // The records counted must fill the directory exactly, up to where the end
  // record says it ends, and no further record may follow: a count that
  // wrapped or was damaged would otherwise extract part of the archive and
  // report success.
  const uint64_t claimedEnd =
      static_cast<uint64_t>(FEndHeader.CentralDirOffset) + FEndHeader.CentralDirSize;
  const int64_t end = zip.Position();
  if (end < 0 || static_cast<uint64_t>(end) != claimedEnd) throw EZipError(corrupt);
  if (end + 4 <= size - EndOfCentralDirSize) {
    unsigned char next[4];
    zip.ReadBuffer(next, 4);
    if (next[0] == 'P' && next[1] == 'K' && next[2] == 1 && next[3] == 2) throw EZipError(corrupt);
  }
}

void TUnZipper::ExtractAll() {
  FBusy = true;
  TScopeExit done([this] {
    FOutStream.reset();
    FZipReader.reset();
    FZipStream.reset();
    FLastFolder.clear();
    FBusy = false;
  });
  FZipStream = std::make_unique<TFileStream>(FFileName, fmOpenRead);
  FZipReader = std::make_unique<TReadBuffer>(*FZipStream);
  FEntries.Clear();
  ReadCentralDirectory();
  for (int i = 0; i < FEntries.Count(); ++i) ExtractEntry(FEntries[i]);
}

uint32_t TUnZipper::CopyStored(uint32_t Count) {
  if (!FCopyBuffer) FCopyBuffer.reset(new unsigned char[kStoredChunk]);
  unsigned char* buf = FCopyBuffer.get();
  uint32_t crc = 0xFFFFFFFFu;
  while (Count > 0) {
    const uint32_t n = std::min(Count, kStoredChunk);
    FZipReader->ReadBuffer(buf, static_cast<int32_t>(n));
    crc = UpdateCrc32(crc, buf, n);
    FOutStream->WriteBuffer(buf, static_cast<int32_t>(n));
    Count -= n;
  }
  return ~crc;
}

void TUnZipper::ExtractEntry(TZipFileEntry& Entry) {
  TStream& zip = *FZipReader;
  TLocalFileHeader& h = FLocalHeader;

  // The local header, its name and extra field; the stream is then at the
  // entry's data.
  if (Entry.HeaderPosition < 0) throw EReadError("Stream read error");
  SeekExactly(zip, Entry.HeaderPosition);
  ReadLocalHeader(zip, h);
  const std::string name = DecodeEntryName(ReadName(zip, h.NameLength));
  if (h.ExtraLength) SeekExactly(zip, zip.Position() + h.ExtraLength);

  Entry.SetArchiveFileName(name);
  Entry.DiskFileName = name;
  if (EntryNameLeadsOutside(name))
    throw EZipError(FormatText("Entry name \"%s\" leads outside the output folder", name));
  if (h.Flags & zfEncrypted)
    throw EZipError(FormatText("Encrypted entry %s is not supported", name));

  uint32_t compressedSize = h.CompressedSize;
  uint32_t uncompressedSize = h.UncompressedSize;
  uint32_t crc = h.Crc32;
  if (h.Flags & zfDataDescriptor) {
    // Written by a streaming tool: the sizes and the CRC follow the data and
    // are repeated in the central directory.
    if (compressedSize == 0) {
      compressedSize = Entry.CentralCompressedSize;
      uncompressedSize = Entry.CentralUncompressedSize;
    }
    if (crc == 0) crc = Entry.CentralCrc32;
  }
  Entry.Size = static_cast<int32_t>(uncompressedSize);
  // An invalid or zero DOS date-time is no reason to refuse the data; the
  // entry just has no meaningful time.
  double dateTime = 0;
  Entry.DateTime = TryFromDosDateTime(h.ModDate, h.ModTime, dateTime) ? dateTime : 0;
  const uint16_t method = h.Method;

  std::string outName = Entry.DiskFileName;
  const bool isFolder = IsSeparator(outName.back());
  if (!isFolder && outName.find(':') != std::string::npos) outName = ExtractNamePart(outName);
  // "\" and "/" both separate folders in a name; paths are built with the
  // platform's own separator so files land in the folders just made.
  std::replace_if(outName.begin(), outName.end(), IsSeparator, PathSeparator);
  if (isFolder) {
    // A folder entry: only the folders are made. Its name keeps any ":"
    // (only file names lose their drive), so with no output folder it is
    // anchored to the current folder: "C:\x\" must not name a drive's root.
    ForceFolderPath(JoinFolder(FOutputPath.empty() ? std::string(".") : FOutputPath, outName));
    return;
  }
  if (method == 0 && compressedSize != uncompressedSize)
    RaiseDamaged(name, FFileName,
                 FormatText("stored data of %d bytes for a declared size of %d bytes", compressedSize,
                            uncompressedSize));
  const std::string outPath = JoinFolder(FOutputPath, outName);

  const std::string folder = ExtractFolderPart(outPath);
  if (folder != FLastFolder) {
    if (!folder.empty()) ForceFolders(folder, true);
    FLastFolder = folder;
  }
  TScopeExit closeOutput([this] { FOutStream.reset(); });
  FOutStream = std::make_unique<TFileStream>(outPath, fmCreate, EntryRights(Entry));

  uint32_t actualCrc;
  if (method == 0) {
    actualCrc = CopyStored(compressedSize);
  } else {
    // The decompressor writes through a bound of the declared size: a larger
    // output stops there with a failure instead of filling the disk.
    TEntryOutput output(*FOutStream, uncompressedSize, name, FFileName);
    std::unique_ptr<TDeCompressor> decompressor =
        NewDecompressor(Entry, method, FZipReader.get(), &output);
    decompressor->Decompress();
    if (output.Written() != uncompressedSize)
      RaiseDamaged(name, FFileName,
                   FormatText("%d bytes of data for a declared size of %d bytes", output.Written(),
                              uncompressedSize));
    actualCrc = decompressor->Crc32();
  }
  if (actualCrc != crc) RaiseDamaged(name, FFileName, "CRC-32 mismatch");
}

void ExtractArchive(const std::string& ArchiveFile, const std::string& Folder) {
  const std::string folder = Folder.empty() ? Folder : IncludeTrailingSeparator(Folder);
  TUnZipper unzipper;
  unzipper.SetFileName(ArchiveFile);
  unzipper.SetOutputPath(ExtractFolderPart(folder));
  unzipper.ExtractAll();
}
