#include "zip/zip_reader.h"

#include <algorithm>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/path_text.h"
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
    entry.CentralCompressedSize = h.CompressedSize;
    entry.CentralUncompressedSize = h.UncompressedSize;
    entry.SetArchiveFileName(DecodeEntryName(ReadName(zip, h.NameLength)));
    const int64_t skip = static_cast<int64_t>(h.ExtraLength) + h.CommentLength;
    if (skip) SeekExactly(zip, zip.Position() + skip);
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

void TUnZipper::CopyStored(uint32_t Count) {
  if (!FCopyBuffer) FCopyBuffer.reset(new unsigned char[kStoredChunk]);
  unsigned char* buf = FCopyBuffer.get();
  while (Count > 0) {
    const uint32_t n = std::min(Count, kStoredChunk);
    FZipReader->ReadBuffer(buf, static_cast<int32_t>(n));
    FOutStream->WriteBuffer(buf, static_cast<int32_t>(n));
    Count -= n;
  }
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
  if ((h.Flags & zfDataDescriptor) && compressedSize == 0) {
    // Written by a streaming tool: the sizes follow the data and are repeated
    // in the central directory.
    compressedSize = Entry.CentralCompressedSize;
    uncompressedSize = Entry.CentralUncompressedSize;
  }
  Entry.Size = static_cast<int32_t>(uncompressedSize);
  Entry.DateTime = FromDosDateTime(h.ModDate, h.ModTime);
  const uint16_t method = h.Method;

  std::string outName = Entry.DiskFileName;
  const bool isFolder = outName.back() == '/';
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
  const std::string outPath = JoinFolder(FOutputPath, outName);

  const std::string folder = ExtractFolderPart(outPath);
  if (folder != FLastFolder) {
    if (!folder.empty()) ForceFolders(folder, true);
    FLastFolder = folder;
  }
  TScopeExit closeOutput([this] { FOutStream.reset(); });
  FOutStream = std::make_unique<TFileStream>(outPath, fmCreate, EntryRights(Entry));

  if (method == 0) {
    CopyStored(compressedSize);
  } else {
    std::unique_ptr<TDeCompressor> decompressor =
        NewDecompressor(Entry, method, FZipReader.get(), FOutStream.get());
    decompressor->Decompress();
  }
}

void ExtractArchive(const std::string& ArchiveFile, const std::string& Folder) {
  const std::string folder = Folder.empty() ? Folder : IncludeTrailingSeparator(Folder);
  TUnZipper unzipper;
  unzipper.SetFileName(ArchiveFile);
  unzipper.SetOutputPath(ExtractFolderPart(folder));
  unzipper.ExtractAll();
}
