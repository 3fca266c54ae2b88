#include "zip/zip_writer.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/memory_stream.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"
#include "runtime/scope_exit.h"

namespace {

// Fixed values of every record this writer produces.
constexpr uint16_t kVersion = 10;
constexpr uint32_t kExternalAttributes = 0x20;  // the DOS archive attribute
constexpr size_t kMaxNameLength = 255;
constexpr int kMaxEntries = 65535;
constexpr int64_t kLocalHeaderSize = 30;
constexpr int64_t kCentralHeaderSize = 46;
constexpr int64_t kEndRecordSize = 22;

// A name beside Path that no file or folder has yet: Path followed by
// ".~" and a random hexadecimal number.
std::string UniqueSiblingName(const std::string& Path) {
  static std::mt19937_64 generator = [] {
    uint64_t seed = static_cast<uint64_t>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      std::random_device device;
      seed ^= (static_cast<uint64_t>(device()) << 32) ^ device();
    } catch (...) {
      // the clock alone seeds the generator
    }
    return std::mt19937_64(seed);
  }();
  for (;;) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".~%012llx",
                  static_cast<unsigned long long>(generator() & 0xFFFFFFFFFFFFull));
    std::string name = Path + suffix;
    if (!FileExists(name) && !FolderExists(name)) return name;
  }
}

// The archive name with its extension replaced by Extension, or Extension
// appended when the name has none.
std::string ChangeExtension(const std::string& Path, const std::string& Extension) {
  for (size_t i = Path.size(); i > 0; --i) {
    char c = Path[i - 1];
    if (IsSeparator(c) || c == ':') break;
    if (c == '.') return Path.substr(0, i - 1) + Extension;
  }
  return Path + Extension;
}

}  // namespace

TZipper::TZipper() = default;

TZipper::~TZipper() { FEntries.Clear(); }

void TZipper::SetFileName(const std::string& Value) {
  if (FBusy) throw EZipError("Changing output file name is not allowed while (un)zipping");
  FFileName = Value;
}

TZipFileEntry& TZipper::AddStreamEntry(TStream* Stream, const std::string& ArchiveFileName) {
  return FEntries.AddStreamEntry(Stream, ArchiveFileName);
}

std::string TZipper::SpillFileName() const { return ChangeExtension(FFileName, ".tmp2"); }

std::unique_ptr<TCompressor> TZipper::NewCompressor(TZipFileEntry& /*Entry*/, TStream* Input,
                                                    TStream* Output) {
  return std::make_unique<TDeflater>(Input, Output, FBufferSize);
}

void TZipper::CheckArchiveSize(int64_t End) const {
  if (End > FMaxArchiveSize)
    throw EZipError(FormatText("ZIP archive %s would exceed 2 GiB", FFileName));
}

void TZipper::WriteArchive() {
  const int count = FEntries.Count();
  if (count == 0) return;
  FBusy = true;
  TScopeExit notBusy([this] {
    FBusy = false;
    FOutStream = nullptr;
    FInStream = nullptr;
  });

  // Everything the format cannot hold is refused before anything is written.
  if (count > kMaxEntries)
    throw EZipError(FormatText("Too many entries for a ZIP archive: %d", count));
  // Entries without a stream are read from their disk file.
  std::vector<std::unique_ptr<TFileStream>> opened;
  std::vector<TStream*> inputs(static_cast<size_t>(count), nullptr);
  for (int i = 0; i < count; ++i) {
    TZipFileEntry& entry = FEntries[i];
    TStream* input = entry.Stream;
    if (input != nullptr) {
      if (entry.ArchiveFileName().empty())
        throw EZipError(FormatText("Missing archive filename in streamed entry %d", i));
    } else {
      opened.push_back(std::make_unique<TFileStream>(entry.DiskFileName, fmOpenRead));
      input = opened.back().get();
    }
    int64_t size = input->Size();
    if (size < 0 || size > FMaxArchiveSize)
      throw EZipError(FormatText("File %s is too large for a ZIP archive", entry.ArchiveFileName()));
    entry.Size = static_cast<int32_t>(size);
    inputs[static_cast<size_t>(i)] = input;
  }

  // The new archive is written beside the target and replaces it only once
  // it is complete and on disk.
  const std::string tempName = UniqueSiblingName(FFileName);
  std::unique_ptr<TFileStream> out;
  try {
    out = std::make_unique<TFileStream>(tempName, fmCreate);
  } catch (const EFCreateError&) {
    throw EFCreateError(FormatText("Unable to create file \"%s\"", FFileName));
  }
  bool moved = false;
  TScopeExit dropTemp([&] {
    FOutStream = nullptr;
    out.reset();
    if (!moved) RemoveFile(tempName);
  });
  FOutStream = out.get();

  int written = 0;
  for (int i = 0; i < count; ++i) {
    FInStream = inputs[static_cast<size_t>(i)];
    WriteEntry(FEntries[i]);
    ++written;
  }
  if (written > 0) WriteCentralDirectory(written);

  if (!out->FlushToDisk()) throw EWriteError("Stream write error");
  FOutStream = nullptr;
  out.reset();
  if (!RenameReplace(tempName, FFileName))
    throw EFCreateError(FormatText("Unable to create file \"%s\"", FFileName));
  moved = true;
}

void TZipper::WriteEntry(TZipFileEntry& Entry) {
  // Only WriteArchive calls this, with the archive open and the entry's
  // input chosen.
  TStream* input = FInStream != nullptr ? FInStream : Entry.Stream;
  if (input == nullptr || FOutStream == nullptr)
    throw EZipError("No archive is being written");
  TStream& out = *FOutStream;

  TLocalFileHeader& h = FLocalHeader;
  h = TLocalFileHeader{};
  h.Signature = LocalFileHeaderSignature;
  h.VersionNeeded = kVersion;
  h.Flags = 0;
  h.Method = 1;  // replaced below, once the data is encoded
  ToDosDateTime(Entry.DateTime, h.ModDate, h.ModTime);
  h.Crc32 = 0;
  h.CompressedSize = 0;
  h.UncompressedSize = static_cast<uint32_t>(Entry.Size);
  h.NameLength = 0;
  h.ExtraLength = 0;

  // The encoded data is held in memory, or for a large input in a file
  // beside the archive that is removed again whatever happens.
  std::unique_ptr<TStream> holding;
  std::string spillName;
  TScopeExit freeHolding([&] {
    holding.reset();
    if (!spillName.empty()) RemoveFile(spillName);
  });
  if (Entry.Size > FInMemSize) {
    std::string name = SpillFileName();
    holding = std::make_unique<TFileStream>(name, fmCreate);
    spillName = name;
  } else {
    holding = std::make_unique<TMemoryStream>();
  }

  input->SetPosition(0);
  uint32_t crc;
  uint16_t method;
  {
    std::unique_ptr<TCompressor> compressor = NewCompressor(Entry, input, holding.get());
    compressor->Compress();
    // An input that changed size since it was measured would make the
    // header lie about the data.
    if (compressor->BytesRead() != Entry.Size) throw EReadError("Stream read error");
    crc = compressor->Crc32();
    method = compressor->MethodId();
  }

  const std::string fullName = Entry.ArchiveFileName();
  const std::string name = fullName.substr(0, kMaxNameLength);
  int64_t compressed = holding->Size();
  h.NameLength = static_cast<uint16_t>(name.size());
  h.Crc32 = crc;
  h.Method = method;
  if (compressed >= static_cast<int64_t>(Entry.Size)) {
    h.Method = 0;
    compressed = Entry.Size;
  }
  h.CompressedSize = static_cast<uint32_t>(compressed);

  const int64_t start = out.Position();
  CheckArchiveSize(start + kLocalHeaderSize + static_cast<int64_t>(name.size()) + compressed);
  WriteLocalHeader(out, h);
  if (!name.empty()) out.WriteBuffer(name.data(), static_cast<int32_t>(name.size()));
  if (compressed > 0) {
    TStream& source = h.Method == 0 ? *input : *holding;
    source.SetPosition(0);
    out.CopyFrom(source, compressed);
  }
}

void TZipper::WriteCentralDirectory(int EntriesWritten) {
  TStream& out = *FOutStream;
  const int64_t centralStart = out.Position();
  const std::string corrupt = FormatText("Corrupt ZIP file %s", FFileName);

  // The records are built from the local headers read back from the archive
  // (one per entry written, so a damaged header cannot make this run on) and
  // appended together after the last entry.
  TMemoryStream directory;
  TLocalFileHeader& lh = FLocalHeader;
  TCentralFileHeader& ch = FCentralHeader;
  std::string name;
  int64_t headerOffset = 0;
  for (int i = 0; i < EntriesWritten; ++i) {
    if (headerOffset + kLocalHeaderSize > centralStart) throw EZipError(corrupt);
    out.SetPosition(headerOffset);
    ReadLocalHeader(out, lh);
    if (lh.Signature != LocalFileHeaderSignature) throw EZipError(corrupt);
    name.assign(lh.NameLength, '\0');
    if (lh.NameLength > 0) out.ReadBuffer(&name[0], lh.NameLength);
    const int64_t dataStart = headerOffset + kLocalHeaderSize + lh.NameLength + lh.ExtraLength;

    ch = TCentralFileHeader{};
    ch.Signature = CentralFileHeaderSignature;
    ch.VersionMadeBy = kVersion;
    ch.VersionNeeded = lh.VersionNeeded;
    ch.Flags = lh.Flags;
    ch.Method = lh.Method;
    ch.ModTime = lh.ModTime;
    ch.ModDate = lh.ModDate;
    ch.Crc32 = lh.Crc32;
    ch.CompressedSize = lh.CompressedSize;
    ch.UncompressedSize = lh.UncompressedSize;
    ch.NameLength = lh.NameLength;
    ch.ExtraLength = lh.ExtraLength;
    ch.CommentLength = 0;
    ch.DiskStart = 0;
    ch.InternalAttributes = 0;
    ch.ExternalAttributes = kExternalAttributes;
    ch.LocalHeaderOffset = static_cast<uint32_t>(headerOffset);
    WriteCentralHeader(directory, ch);
    if (!name.empty()) directory.WriteBuffer(name.data(), static_cast<int32_t>(name.size()));

    headerOffset = dataStart + static_cast<int64_t>(lh.CompressedSize);
  }
  if (headerOffset != centralStart) throw EZipError(corrupt);

  const int64_t directorySize = directory.Size();
  CheckArchiveSize(centralStart + directorySize + kEndRecordSize);
  out.SetPosition(centralStart);
  out.CopyFrom(directory, 0);

  TEndOfCentralDir& e = FEndHeader;
  e = TEndOfCentralDir{};
  e.Signature = EndOfCentralDirSignature;
  e.ThisDisk = 0;
  e.CentralDirDisk = 0;
  e.EntriesThisDisk = static_cast<uint16_t>(EntriesWritten);
  e.TotalEntries = static_cast<uint16_t>(EntriesWritten);
  e.CentralDirSize = static_cast<uint32_t>(directorySize);
  e.CentralDirOffset = static_cast<uint32_t>(centralStart);
  e.CommentLength = 0;
  WriteEndOfCentralDir(out, e);
}

void PackFolder(const std::string& Folder, const std::string& ArchiveFile) {
  TZipper zipper;
  zipper.SetFileName(ArchiveFile);
  // An archive written into the folder it packs is not packed into itself:
  // the previous archive stays in place until the new one replaces it.
  const std::string archivePath = ExpandPath(ArchiveFile);
  // Declared after the zipper, so the streams are freed before it.
  std::vector<std::unique_ptr<TFileStream>> streams;
  {
    TSearchRecord record;
    TScopeExit endSearch([&] { FindEnd(record); });
    int rc = FindFirstEntry(Folder + "*", faAnyFile, record);
    while (rc == 0) {
      if (record.Name != "." && record.Name != ".." &&
          ExpandPath(Folder + record.Name) != archivePath) {
        streams.push_back(std::make_unique<TFileStream>(Folder + record.Name, fmOpenRead));
        zipper.AddStreamEntry(streams.back().get(), ExtractNamePart(record.Name));
      }
      rc = FindNextEntry(record);
    }
  }
  if (zipper.Entries().Count() == 0) {
    // Nothing to pack: no archive is left, not even the previous one.
    if (FileExists(ArchiveFile)) RemoveFile(ArchiveFile);
    return;
  }
  zipper.WriteArchive();
}
