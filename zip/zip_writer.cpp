#include "zip/zip_writer.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/file_transfer.h"
#include "fs/memory_stream.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"
#include "runtime/scope_exit.h"
#include "zip/utf8_text.h"

namespace {

// Fixed values of every record this writer produces.
constexpr uint16_t WriterVersion = 10;
constexpr uint32_t FileAttributes = 0x20;    // the DOS archive attribute
constexpr uint32_t FolderAttributes = 0x10;  // the DOS directory attribute
// "Version made by" of an entry whose name is UTF-8 outside ASCII: host 11
// (NTFS), version 2.0. Readers take the name as UTF-8 from the flag only when
// the host is not MS-DOS (unzip converts names of host 0 from code page 437
// whatever the flag says, and also those of NTFS version 5.0), and with a
// DOS-like host the permissions of extracted files come from the reader's
// defaults and umask, not from Unix mode bits this writer would have to invent.
constexpr uint16_t VersionMadeByUtf8 = (11 << 8) | 20;
// The longest name a record can hold (a 16-bit length).
constexpr size_t NameFieldLimit = 65535;
constexpr int MaxEntries = 65535;

// The archive name with its extension replaced by Extension, or Extension
// appended when the name has none.
std::string ChangeExtension(const std::string& Path, const std::string& Extension) {
  for (size_t I = Path.size(); I > 0; --I) {
    char C = Path[I - 1];
    if (IsSeparator(C) || C == ':') break;
    if (C == '.') return Path.substr(0, I - 1) + Extension;
  }
  return Path + Extension;
}

// A name that is UTF-8 with characters outside ASCII: stored with the UTF-8
// flag. Names that are not valid UTF-8 keep the flag clear.
bool NeedsUtf8Flag(const std::string& Name) {
  for (unsigned char C : Name)
    if (C >= 0x80) return IsValidUtf8(Name);
  return false;
}

// The name as stored: at most its first Limit bytes, never cut inside a
// UTF-8 character.
std::string StoredName(const std::string& Name, size_t Limit) {
  if (Name.size() <= Limit) return Name;
  size_t Length = Limit;
  if (IsValidUtf8(Name))
    while (Length > 0 && (static_cast<unsigned char>(Name[Length]) & 0xC0) == 0x80) --Length;
  return Name.substr(0, Length);
}

// Entries read from disk files may be encoded ahead when they are at most
// this large; the bytes held ahead for all of them (input and encoded data)
// stay below the budget, except for the entry the writer waits for.
constexpr int32_t AheadEntryLimit = 1 << 20;
constexpr size_t AheadBudget = 4u << 20;

}  // namespace

// An entry's data as a worker encoded it ahead.
struct TZipper::TEncoded {
  enum TState : uint8_t { esOpen, esTaken, esReady, esInline, esFailed };
  TState State = esOpen;
  std::exception_ptr Failure;
  int32_t Size = 0;
  uint32_t Crc = 0;
  uint16_t Method = 0;
  size_t Reserved = 0;   // counted against the budget
  TMemoryStream Raw;     // the input, when it is stored as it is
  TMemoryStream Packed;  // the encoded data otherwise

  void WriteTo(TZipper& Zipper, TZipFileEntry& Entry) {
    Entry.Size = Size;
    if (Method == 0)
      Zipper.WriteEncoded(Entry, Crc, 0, Raw, Size);
    else
      Zipper.WriteEncoded(Entry, Crc, Method, Packed, Packed.Size());
  }
};

// The workers that read and encode disk-file entries ahead of the writer,
// and the writer, on the calling thread, which appends the entries in the
// list's order: what it finds encoded it copies, anything else (entries
// with a stream, large files, an entry no worker has taken yet) it encodes
// itself, so it never waits for work nobody does.
class TZipper::TEncodeAhead {
 public:
  explicit TEncodeAhead(TZipper& Zipper) : FZipper(Zipper), FCount(Zipper.FEntries.Count()), FSlots(FCount) {}

  void Run() {
    std::exception_ptr WriterFailure;
    RunWorkers(FZipper.Workers + 1, [&](int Worker) {
      if (Worker > 0) {
        EncodeEntries();
        return;
      }
      try {
        WriteEntries();
      } catch (...) {
        WriterFailure = std::current_exception();
      }
      TWorkGateHold Hold(FGate);
      FStop = true;
      FGate.WakeAll();
    });
    if (WriterFailure) std::rethrow_exception(WriterFailure);
  }

 private:
  void WriteEntries() {
    for (int I = 0; I < FCount; ++I) {
      TEncoded& Slot = FSlots[I];
      {
        TWorkGateHold Hold(FGate);
        FWriting = I;
        FGate.WakeAll();  // the worker of entry I may now go over the budget
        if (FNext == I) {
          ++FNext;
          Slot.State = TEncoded::esInline;
        }
        while (Slot.State == TEncoded::esTaken) FGate.Wait();
      }
      if (Slot.State == TEncoded::esFailed) std::rethrow_exception(Slot.Failure);
      if (Slot.State != TEncoded::esReady) {
        FZipper.WriteOne(I);
        continue;
      }
      FZipper.FEncoded = &Slot;
      TScopeExit Written([&] {
        FZipper.FEncoded = nullptr;
        Slot.Raw = TMemoryStream();
        Slot.Packed = TMemoryStream();
        TWorkGateHold Hold(FGate);
        FInFlight -= Slot.Reserved;
        FGate.WakeAll();
      });
      FZipper.WriteEntry(FZipper.FEntries[I]);
    }
  }

  void EncodeEntries() {
    for (;;) {
      int I;
      {
        TWorkGateHold Hold(FGate);
        // Entries with a stream of their own are the writer's.
        while (FNext < FCount && FZipper.FEntries[FNext].Stream != nullptr) FSlots[FNext++].State = TEncoded::esInline;
        if (FStop || FNext >= FCount) return;
        I = FNext++;
        FSlots[I].State = TEncoded::esTaken;
      }
      TEncoded::TState State;
      try {
        State = Encode(I);
      } catch (...) {
        FSlots[I].Failure = std::current_exception();
        State = TEncoded::esFailed;
      }
      TWorkGateHold Hold(FGate);
      FSlots[I].State = State;
      FGate.WakeAll();
    }
  }

  // Reads and encodes entry I into its slot; esInline leaves it to the
  // writer.
  TEncoded::TState Encode(int I) {
    TEncoded& Slot = FSlots[I];
    TZipFileEntry& Entry = FZipper.FEntries[I];
    TFileStream Input(Entry.DiskFileName, fmOpenRead);
    const int32_t Size = FZipper.InputSize(Entry, Input);
    if (Size > AheadEntryLimit) return TEncoded::esInline;
    {
      const size_t Reserve = 2 * static_cast<size_t>(Size) + 1024;
      TWorkGateHold Hold(FGate);
      while (!FStop && I != FWriting && FInFlight + Reserve > AheadBudget) FGate.Wait();
      if (FStop) return TEncoded::esInline;
      FInFlight += Reserve;
      Slot.Reserved = Reserve;
    }
    if (Size > 0) Slot.Raw.CopyFrom(Input, Size);
    // An input that grew since it was measured would make the header lie
    // about the data.
    unsigned char More;
    if (Input.Read(&More, 1) != 0) throw EReadError("Stream read error");
    Slot.Raw.SetPosition(0);
    std::unique_ptr<TCompressor> Compressor = FZipper.NewCompressor(Entry, &Slot.Raw, &Slot.Packed);
    Compressor->Compress();
    if (Compressor->BytesRead() != Size) throw EReadError("Stream read error");
    Slot.Size = Size;
    Slot.Crc = Compressor->Crc32();
    if (Slot.Packed.Size() >= Size) {
      Slot.Method = 0;
      Slot.Packed = TMemoryStream();
    } else {
      Slot.Method = Compressor->MethodId();
      Slot.Raw = TMemoryStream();
    }
    return TEncoded::esReady;
  }

  TZipper& FZipper;
  const int FCount;
  std::vector<TEncoded> FSlots;
  TWorkGate FGate;    // guards everything below and the slots' State
  int FNext = 0;      // the first entry nobody has taken
  int FWriting = -1;  // the entry the writer waits for
  size_t FInFlight = 0;
  bool FStop = false;  // the writer has finished or failed
};

TZipper::TZipper() = default;

TZipper::~TZipper() { FEntries.Clear(); }

void TZipper::SetFileName(const std::string& Value) {
  if (FBusy) throw EZipError("Changing output file name is not allowed while (un)zipping");
  FFileName = Value;
}

TZipFileEntry& TZipper::AddStreamEntry(TStream* Stream, const std::string& ArchiveFileName) {
  return FEntries.AddStreamEntry(Stream, ArchiveFileName);
}

std::string TZipper::SpillFileName() const {
  const std::string Beside = ChangeExtension(FFileName, ".tmp2");
  return SpillFolder.empty() ? Beside : IncludeTrailingSeparator(SpillFolder) + ExtractNamePart(Beside);
}

std::unique_ptr<TCompressor> TZipper::NewCompressor(TZipFileEntry& /*Entry*/, TStream* Input, TStream* Output) {
  return std::make_unique<TDeflater>(Input, Output, FBufferSize);
}

void TZipper::CheckArchiveSize(int64_t End) const {
  if (End > FMaxArchiveSize) throw EZipError(FormatText("ZIP archive %s would exceed 2 GiB", FFileName));
}

int32_t TZipper::InputSize(const TZipFileEntry& Entry, TStream& Input) const {
  const int64_t Size = Input.Size();
  if (Size < 0 || Size > FMaxArchiveSize)
    throw EZipError(FormatText("File %s is too large for a ZIP archive", Entry.ArchiveFileName()));
  return static_cast<int32_t>(Size);
}

namespace {

// Raises the failure of an archive that could not be written or put in
// place, as the writer always reported it.
void RaiseUnwritten(const TTransferResult& Result, const std::string& Archive) {
  if (Result.Ok()) return;
  if (Result.Step == tsWriteTarget) throw EWriteError("Stream write error");
  throw EFCreateError(FormatText("Unable to create file \"%s\"", Archive));
}

}  // namespace

void TZipper::WriteArchive() { RaiseUnwritten(TryWriteArchive(), FFileName); }

TTransferResult TZipper::TryWriteArchive() {
  const int Count = FEntries.Count();
  if (Count == 0 && !WriteEmptyArchive) return {};
  FBusy = true;
  TScopeExit NotBusy([this] {
    FBusy = false;
    FOutStream = nullptr;
    FInStream = nullptr;
  });

  // Everything the format cannot hold in the entries' own streams is refused
  // before anything is written. Entries without a stream are read from their
  // disk file, which is opened only when the entry's turn comes, so that at
  // most one input file is open at a time.
  if (Count > MaxEntries) throw EZipError(FormatText("Too many entries for a ZIP archive: %d", Count));
  for (int I = 0; I < Count; ++I) {
    TZipFileEntry& Entry = FEntries[I];
    if (Entry.Stream == nullptr) continue;
    if (Entry.ArchiveFileName().empty())
      throw EZipError(FormatText("Missing archive filename in streamed entry %d", I));
    Entry.Size = InputSize(Entry, *Entry.Stream);
  }

  // The new archive is written beside the target and replaces it only once
  // it is complete and on disk.
  return ReplaceFileByWriting(FFileName, tdForced, [this, Count](TStream& Output) {
    FOutStream = &Output;
    if (Workers > 1 && Count > 1) {
      TEncodeAhead Ahead(*this);
      Ahead.Run();
    } else {
      for (int I = 0; I < Count; ++I) WriteOne(I);
    }
    WriteCentralDirectory(Count);
    FOutStream = nullptr;
  });
}

void TZipper::WriteOne(int Index) {
  TZipFileEntry& Entry = FEntries[Index];
  std::unique_ptr<TFileStream> Opened;
  TStream* Input = Entry.Stream;
  if (Input == nullptr) {
    Opened = std::make_unique<TFileStream>(Entry.DiskFileName, fmOpenRead);
    Input = Opened.get();
    Entry.Size = InputSize(Entry, *Input);
  }
  FInStream = Input;
  TScopeExit NoInput([this] { FInStream = nullptr; });
  WriteEntry(Entry);
}

void TZipper::WriteEntry(TZipFileEntry& Entry) {
  if (FEncoded != nullptr) {
    FEncoded->WriteTo(*this, Entry);
    return;
  }
  // Only WriteArchive calls this, with the archive open and the entry's
  // input chosen.
  TStream* Input = FInStream != nullptr ? FInStream : Entry.Stream;
  if (Input == nullptr || FOutStream == nullptr) throw EZipError("No archive is being written");

  // The encoded data is held in memory, or for a large input in a file
  // beside the archive that is removed again whatever happens.
  std::unique_ptr<TStream> Holding;
  std::string SpillName;
  TScopeExit FreeHolding([&] {
    Holding.reset();
    if (!SpillName.empty()) RemoveFile(SpillName);
  });
  if (Entry.Size > FInMemSize) {
    std::string Name = SpillFileName();
    Holding = std::make_unique<TFileStream>(Name, fmCreate);
    SpillName = Name;
  } else {
    Holding = std::make_unique<TMemoryStream>();
  }

  Input->SetPosition(0);
  std::unique_ptr<TCompressor> Compressor = NewCompressor(Entry, Input, Holding.get());
  Compressor->Compress();
  // An input that changed size since it was measured would make the
  // header lie about the data.
  if (Compressor->BytesRead() != Entry.Size) throw EReadError("Stream read error");
  const int64_t Compressed = Holding->Size();
  if (Compressed >= static_cast<int64_t>(Entry.Size))
    WriteEncoded(Entry, Compressor->Crc32(), 0, *Input, Entry.Size);
  else
    WriteEncoded(Entry, Compressor->Crc32(), Compressor->MethodId(), *Holding, Compressed);
}

void TZipper::WriteEncoded(TZipFileEntry& Entry, uint32_t Crc, uint16_t Method, TStream& Data, int64_t Compressed) {
  TStream& Out = *FOutStream;
  const std::string FullName = Entry.ArchiveFileName();
  const std::string Name = StoredName(FullName, std::min(MaxNameLength, NameFieldLimit));
  TLocalFileHeader& H = FLocalHeader;
  H = TLocalFileHeader{};
  H.Signature = LocalFileHeaderSignature;
  H.VersionNeeded = WriterVersion;
  H.Flags = NeedsUtf8Flag(FullName) ? zfUtf8Name : 0;
  H.Method = Method;
  ToDosDateTime(Entry.DateTime, H.ModDate, H.ModTime);
  H.Crc32 = Crc;
  H.CompressedSize = static_cast<uint32_t>(Compressed);
  H.UncompressedSize = static_cast<uint32_t>(Entry.Size);
  H.NameLength = static_cast<uint16_t>(Name.size());
  H.ExtraLength = 0;

  const int64_t Start = Out.Position();
  CheckArchiveSize(Start + LocalFileHeaderSize + static_cast<int64_t>(Name.size()) + Compressed);
  WriteLocalHeader(Out, H);
  if (!Name.empty()) Out.WriteBuffer(Name.data(), static_cast<int32_t>(Name.size()));
  if (Compressed > 0) {
    Data.SetPosition(0);
    Out.CopyFrom(Data, Compressed);
  }
}

void TZipper::WriteCentralDirectory(int EntriesWritten) {
  TStream& Out = *FOutStream;
  const int64_t CentralStart = Out.Position();
  const std::string Corrupt = FormatText("Corrupt ZIP file %s", FFileName);

  // The records are built from the local headers read back from the archive
  // (one per entry written, so a damaged header cannot make this run on) and
  // appended together after the last entry.
  TMemoryStream Directory;
  TLocalFileHeader& Lh = FLocalHeader;
  TCentralFileHeader& Ch = FCentralHeader;
  std::string Name;
  int64_t HeaderOffset = 0;
  for (int I = 0; I < EntriesWritten; ++I) {
    if (HeaderOffset + LocalFileHeaderSize > CentralStart) throw EZipError(Corrupt);
    Out.SetPosition(HeaderOffset);
    ReadLocalHeader(Out, Lh);
    if (Lh.Signature != LocalFileHeaderSignature) throw EZipError(Corrupt);
    Name.assign(Lh.NameLength, '\0');
    if (Lh.NameLength > 0) Out.ReadBuffer(&Name[0], Lh.NameLength);
    const int64_t DataStart = HeaderOffset + LocalFileHeaderSize + Lh.NameLength + Lh.ExtraLength;

    Ch = TCentralFileHeader{};
    Ch.Signature = CentralFileHeaderSignature;
    Ch.VersionMadeBy = (Lh.Flags & zfUtf8Name) ? VersionMadeByUtf8 : WriterVersion;
    Ch.VersionNeeded = Lh.VersionNeeded;
    Ch.Flags = Lh.Flags;
    Ch.Method = Lh.Method;
    Ch.ModTime = Lh.ModTime;
    Ch.ModDate = Lh.ModDate;
    Ch.Crc32 = Lh.Crc32;
    Ch.CompressedSize = Lh.CompressedSize;
    Ch.UncompressedSize = Lh.UncompressedSize;
    Ch.NameLength = Lh.NameLength;
    Ch.ExtraLength = Lh.ExtraLength;
    Ch.CommentLength = 0;
    Ch.DiskStart = 0;
    Ch.InternalAttributes = 0;
    Ch.ExternalAttributes = !Name.empty() && Name.back() == '/' ? FolderAttributes : FileAttributes;
    Ch.LocalHeaderOffset = static_cast<uint32_t>(HeaderOffset);
    WriteCentralHeader(Directory, Ch);
    if (!Name.empty()) Directory.WriteBuffer(Name.data(), static_cast<int32_t>(Name.size()));

    HeaderOffset = DataStart + static_cast<int64_t>(Lh.CompressedSize);
  }
  if (HeaderOffset != CentralStart) throw EZipError(Corrupt);

  const int64_t DirectorySize = Directory.Size();
  CheckArchiveSize(CentralStart + DirectorySize + EndOfCentralDirSize);
  Out.SetPosition(CentralStart);
  Out.CopyFrom(Directory, 0);

  TEndOfCentralDir& E = FEndHeader;
  E = TEndOfCentralDir{};
  E.Signature = EndOfCentralDirSignature;
  E.ThisDisk = 0;
  E.CentralDirDisk = 0;
  E.EntriesThisDisk = static_cast<uint16_t>(EntriesWritten);
  E.TotalEntries = static_cast<uint16_t>(EntriesWritten);
  E.CentralDirSize = static_cast<uint32_t>(DirectorySize);
  E.CentralDirOffset = static_cast<uint32_t>(CentralStart);
  E.CommentLength = 0;
  WriteEndOfCentralDir(Out, E);
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
    std::vector<TChild> Children;
    {
      TSearchRecord Record;
      TScopeExit EndSearch([&] { FindEnd(Record); });
      int Rc = FindFirstEntry(Folder + "*", faAnyFile, Record);
      // An empty listing is only believed of a folder that is there.
      if (Rc != 0 && !(Rc == NoMoreEntriesError && FolderExists(Folder))) RaiseUnlisted(Folder, Rc);
      while (Rc == 0) {
        const std::string& Name = Record.Name;
        if (Name != "." && Name != ".." && (Record.Attributes & faReparsePoint) == 0)
          Children.push_back({Name, (Record.Attributes & faDirectory) != 0});
        Rc = FindNextEntry(Record);
      }
      // A listing cut short would drop files from the archive unnoticed.
      if (Rc != NoMoreEntriesError) RaiseUnlisted(Folder, Rc);
    }
    int Added = 0;
    for (const TChild& Child : Children) {
      const std::string Path = Folder + Child.Name;
      const std::string Name = Prefix + ExtractNamePart(Child.Name);
      if (Child.IsFolder) {
        const int Inner = AddFolder(Path + PathSeparator, Name + "/");
        if (Inner == 0) {
          AddEntry(Name + "/").Stream = &FNoData;
          ++Added;
        }
        Added += Inner;
      } else if (ExpandPath(Path) != FArchivePath) {
        // An archive written into the folder it packs is not packed into
        // itself: the previous archive stays in place until the new one
        // replaces it.
        AddEntry(Name).DiskFileName = Path;
        ++Added;
      }
    }
    return Added;
  }

 private:
  [[noreturn]] static void RaiseUnlisted(const std::string& Folder, int Code) {
    throw EInOutError(FormatText("Unable to list folder \"%s\"", Folder), Code);
  }

  // A longer name would be cut when stored, and a cut name can collide with
  // another or end in "/" and turn the file into a folder entry.
  TZipFileEntry& AddEntry(const std::string& Name) {
    if (Name.size() > NameFieldLimit) throw EZipError(FormatText("Name \"%s\" is too long for a ZIP archive", Name));
    TZipFileEntry& Entry = FZipper.Entries().Add();
    Entry.SetArchiveFileName(Name);
    return Entry;
  }

  TZipper& FZipper;
  const std::string FArchivePath;
  TMemoryStream FNoData;  // the data of every folder entry: none
};

}  // namespace

TTransferResult TryPackFolder(const std::string& Folder, const std::string& ArchiveFile, int Workers,
                              const std::string& SpillFolder) {
  TZipper Zipper;
  Zipper.SpillFolder = SpillFolder;
  Zipper.Workers = Workers;
  Zipper.SetFileName(ArchiveFile);
  // A folder without any entry gives an archive without any entry.
  Zipper.WriteEmptyArchive = true;
  Zipper.MaxNameLength = NameFieldLimit;
  TFolderPacker Packer(Zipper, ArchiveFile);
  Packer.AddFolder(Folder, "");
  return Zipper.TryWriteArchive();
}

void PackFolder(const std::string& Folder, const std::string& ArchiveFile, int Workers) {
  RaiseUnwritten(TryPackFolder(Folder, ArchiveFile, Workers), ArchiveFile);
}
