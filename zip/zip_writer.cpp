#include "zip/zip_writer.h"

#include <algorithm>
#include <vector>

#include "fs/file_services.h"
#include "fs/file_transfer.h"
#include "fs/file_stream.h"
#include "fs/memory_stream.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"
#include "runtime/scope_exit.h"
#include "zip/name_decoding.h"

namespace {

// Fixed values of every record this writer produces.
constexpr uint16_t kVersion = 10;
constexpr uint32_t kExternalAttributes = 0x20;  // the DOS archive attribute
constexpr uint32_t kFolderAttributes = 0x10;    // the DOS directory attribute
// "Version made by" of an entry whose name is UTF-8 outside ASCII: host 11
// (NTFS), version 2.0. Readers take the name as UTF-8 from the flag only when
// the host is not MS-DOS (unzip converts names of host 0 from code page 437
// whatever the flag says, and also those of NTFS version 5.0), and with a
// DOS-like host the permissions of extracted files come from the reader's
// defaults and umask, not from Unix mode bits this writer would have to invent.
constexpr uint16_t kVersionMadeByUtf8 = (11 << 8) | 20;
// The longest name a record can hold (a 16-bit length).
constexpr size_t kNameFieldLimit = 65535;
constexpr int kMaxEntries = 65535;
constexpr int64_t kLocalHeaderSize = 30;
constexpr int64_t kCentralHeaderSize = 46;
constexpr int64_t kEndRecordSize = 22;

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

// A name that is UTF-8 with characters outside ASCII: stored with the UTF-8
// flag. Names that are not valid UTF-8 keep the flag clear.
bool NeedsUtf8Flag(const std::string& Name) {
  for (unsigned char c : Name)
    if (c >= 0x80) return IsValidUtf8(Name);
  return false;
}

// The name as stored: at most its first Limit bytes, never cut inside a
// UTF-8 character.
std::string StoredName(const std::string& Name, size_t Limit) {
  if (Name.size() <= Limit) return Name;
  size_t length = Limit;
  if (IsValidUtf8(Name))
    while (length > 0 && (static_cast<unsigned char>(Name[length]) & 0xC0) == 0x80) --length;
  return Name.substr(0, length);
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

int32_t TZipper::InputSize(const TZipFileEntry& Entry, TStream& Input) const {
  const int64_t size = Input.Size();
  if (size < 0 || size > FMaxArchiveSize)
    throw EZipError(FormatText("File %s is too large for a ZIP archive", Entry.ArchiveFileName()));
  return static_cast<int32_t>(size);
}

void TZipper::WriteArchive() {
  const int count = FEntries.Count();
  if (count == 0 && !WriteEmptyArchive) return;
  FBusy = true;
  TScopeExit notBusy([this] {
    FBusy = false;
    FOutStream = nullptr;
    FInStream = nullptr;
  });

  // Everything the format cannot hold in the entries' own streams is refused
  // before anything is written. Entries without a stream are read from their
  // disk file, which is opened only when the entry's turn comes, so that at
  // most one input file is open at a time.
  if (count > kMaxEntries)
    throw EZipError(FormatText("Too many entries for a ZIP archive: %d", count));
  for (int i = 0; i < count; ++i) {
    TZipFileEntry& entry = FEntries[i];
    if (entry.Stream == nullptr) continue;
    if (entry.ArchiveFileName().empty())
      throw EZipError(FormatText("Missing archive filename in streamed entry %d", i));
    entry.Size = InputSize(entry, *entry.Stream);
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
    TZipFileEntry& entry = FEntries[i];
    std::unique_ptr<TFileStream> opened;
    TStream* input = entry.Stream;
    if (input == nullptr) {
      opened = std::make_unique<TFileStream>(entry.DiskFileName, fmOpenRead);
      input = opened.get();
      entry.Size = InputSize(entry, *input);
    }
    FInStream = input;
    WriteEntry(entry);
    FInStream = nullptr;
    ++written;
  }
  WriteCentralDirectory(written);

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
  const std::string fullName = Entry.ArchiveFileName();
  h.Flags = NeedsUtf8Flag(fullName) ? zfUtf8Name : 0;
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

  const std::string name = StoredName(fullName, std::min(MaxNameLength, kNameFieldLimit));
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
    ch.VersionMadeBy = (lh.Flags & zfUtf8Name) ? kVersionMadeByUtf8 : kVersion;
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
    ch.ExternalAttributes =
        !name.empty() && name.back() == '/' ? kFolderAttributes : kExternalAttributes;
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

namespace {

// The walk of PackFolder over a folder tree.
class TFolderPacker {
 public:
  TFolderPacker(TZipper& Zipper, const std::string& ArchiveFile)
      : FZipper(Zipper), FArchivePath(ExpandPath(ArchiveFile)) {}

  // Appends an entry for every file in Folder (which ends with a separator)
  // and, depth first, in its subfolders, named Prefix followed by the path
  // below Folder with "/" between the levels. A subfolder that gives no entry
  // of its own is kept as a folder entry ("sub/"). Links are neither followed
  // nor stored. The number of entries appended.
  int AddFolder(const std::string& Folder, const std::string& Prefix) {
    struct TChild {
      std::string Name;
      bool IsFolder;
    };
    // The whole listing is taken first, so that no search stays open while
    // the subfolders are walked.
    std::vector<TChild> children;
    {
      TSearchRecord record;
      TScopeExit endSearch([&] { FindEnd(record); });
      int rc = FindFirstEntry(Folder + "*", faAnyFile, record);
      // An empty listing is only believed of a folder that is there.
      if (rc != 0 && !(rc == NoMoreEntriesError && FolderExists(Folder))) RaiseUnlisted(Folder, rc);
      while (rc == 0) {
        const std::string& name = record.Name;
        if (name != "." && name != ".." && (record.Attributes & faReparsePoint) == 0)
          children.push_back({name, (record.Attributes & faDirectory) != 0});
        rc = FindNextEntry(record);
      }
      // A listing cut short would drop files from the archive unnoticed.
      if (rc != NoMoreEntriesError) RaiseUnlisted(Folder, rc);
    }
    int added = 0;
    for (const TChild& child : children) {
      const std::string path = Folder + child.Name;
      const std::string name = Prefix + ExtractNamePart(child.Name);
      if (child.IsFolder) {
        const int inner = AddFolder(path + PathSeparator, name + "/");
        if (inner == 0) {
          AddEntry(name + "/").Stream = &FNoData;
          ++added;
        }
        added += inner;
      } else if (ExpandPath(path) != FArchivePath) {
        // An archive written into the folder it packs is not packed into
        // itself: the previous archive stays in place until the new one
        // replaces it.
        AddEntry(name).DiskFileName = path;
        ++added;
      }
    }
    return added;
  }

 private:
  [[noreturn]] static void RaiseUnlisted(const std::string& Folder, int Code) {
    throw EInOutError(FormatText("Unable to list folder \"%s\"", Folder), Code);
  }

  // A longer name would be cut when stored, and a cut name can collide with
  // another or end in "/" and turn the file into a folder entry.
  TZipFileEntry& AddEntry(const std::string& Name) {
    if (Name.size() > kNameFieldLimit)
      throw EZipError(FormatText("Name \"%s\" is too long for a ZIP archive", Name));
    TZipFileEntry& entry = FZipper.Entries().Add();
    entry.SetArchiveFileName(Name);
    return entry;
  }

  TZipper& FZipper;
  const std::string FArchivePath;
  TMemoryStream FNoData;  // the data of every folder entry: none
};

}  // namespace

void PackFolder(const std::string& Folder, const std::string& ArchiveFile) {
  TZipper zipper;
  zipper.SetFileName(ArchiveFile);
  // A folder without any entry gives an archive without any entry.
  zipper.WriteEmptyArchive = true;
  zipper.MaxNameLength = kNameFieldLimit;
  TFolderPacker packer(zipper, ArchiveFile);
  packer.AddFolder(Folder, "");
  zipper.WriteArchive();
}
