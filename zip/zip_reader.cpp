#include "zip/zip_reader.h"

#include <algorithm>
#include <atomic>
#include <unordered_map>

#include "fs/checked_io.h"
#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/path_text.h"
#include "fs/reserved_names.h"
#include "runtime/exceptions.h"
#include "runtime/scope_exit.h"
#include "zip/name_decoding.h"
#include "zip/read_buffer.h"

namespace {

constexpr uint32_t StoredChunk = 131072;
constexpr uint32_t DefaultRights = 0666;

// Folder + name, where an empty folder means the current folder.
std::string JoinFolder(const std::string& Folder, const std::string& Name) {
  return Folder.empty() ? Name : IncludeTrailingSeparator(Folder) + Name;
}

void SeekExactly(TStream& Stream, int64_t Position) {
  if (Stream.Seek(Position, soBeginning) != Position) throw EReadError("Stream read error");
}

std::string ReadName(TStream& Stream, uint16_t Length) {
  std::string Name(Length, '\0');
  if (Length) Stream.ReadBuffer(&Name[0], Length);
  return Name;
}

// Reads the archive at its own position through the shared handle, so that
// workers never move one another's place in it.
class TArchiveView : public TStream {
 public:
  explicit TArchiveView(THandle Handle) : FHandle(Handle) {}
  int32_t Read(void* Buffer, int32_t Count) override {
    int32_t Got = 0;
    if (Count <= 0 || ReadSomeAt(FHandle, FPosition, Buffer, Count, Got) != 0) return 0;
    FPosition += Got;
    return Got;
  }
  int32_t Write(const void*, int32_t) override { return 0; }
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
    if (Origin == soEnd) return -1;  // the reader never asks for it
    const int64_t Position = (Origin == soBeginning ? 0 : FPosition) + Offset;
    if (Position < 0) return -1;
    return FPosition = Position;
  }
  bool SetSize(int64_t) override { return false; }

 private:
  THandle FHandle;
  int64_t FPosition = 0;
};

// What decides whether two output paths may name one file: empty and "."
// segments dropped, trailing dots and spaces cut (Windows drops them), ASCII
// letters in one case. Paths that differ only otherwise are taken for one
// file, which only costs them their overlap.
std::string FileKey(const std::string& Path) {
  std::string Key;
  size_t Start = 0;
  while (Start <= Path.size()) {
    size_t End = Start;
    while (End < Path.size() && !IsSeparator(Path[End])) ++End;
    size_t Last = End;
    while (Last > Start && (Path[Last - 1] == '.' || Path[Last - 1] == ' ')) --Last;
    if (Last > Start) {
      Key += '/';
      for (size_t I = Start; I < Last; ++I) Key += Path[I] >= 'A' && Path[I] <= 'Z' ? Path[I] - 'A' + 'a' : Path[I];
    }
    Start = End + 1;
  }
  return Key;
}

// Raises the failure of an entry whose data does not match its records.
[[noreturn]] void RaiseDamaged(const std::string& Entry, const std::string& Archive, const std::string& Reason) {
  throw EZipError(FormatText("Entry \"%s\" of ZIP file %s is damaged: %s", Entry, Archive, Reason));
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
      RaiseDamaged(FEntry, FArchive, FormatText("more data than its declared size of %d bytes", FWritten));
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
  if ((Entry.VersionMadeBy >> 8) != 3) return DefaultRights;
  const uint32_t Bits = (Entry.ExternalAttributes >> 16) & 0777;
  return Bits ? Bits : DefaultRights;
}

}  // namespace

bool EntryNameLeadsOutside(const std::string& Name) {
  if (Name.empty() || IsSeparator(Name[0])) return true;
  if (Name.find('\0') != std::string::npos) return true;
  size_t Start = 0;
  while (Start <= Name.size()) {
    size_t End = Start;
    while (End < Name.size() && !IsSeparator(Name[End]) && Name[End] != ':') ++End;
    int Dots = 0;
    bool OnlyDotsAndSpaces = true;
    for (size_t I = Start; I < End; ++I) {
      if (Name[I] == '.') {
        ++Dots;
      } else if (Name[I] != ' ') {
        OnlyDotsAndSpaces = false;
        break;
      }
    }
    if (OnlyDotsAndSpaces && Dots >= 2) return true;
    // A device name ("nul.txt" on Windows) opens the device, not a file in
    // the output folder.
    if (End > Start && IsReservedName(Name.substr(Start, End - Start))) return true;
    Start = End + 1;
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

std::unique_ptr<TDeCompressor> TUnZipper::NewDecompressor(TZipFileEntry& /*Entry*/, uint16_t Method, TStream* Input,
                                                          TStream* Output) {
  if (Method == TInflater::ClassMethodId()) return std::make_unique<TInflater>(Input, Output, FBufferSize);
  throw EZipError(FormatText("Unsupported compression format %d", Method));
}

void TUnZipper::ReadCentralDirectory() {
  TStream& Zip = *FZipReader;
  const std::string Corrupt = FormatText("Corrupt ZIP file %s", FFileName);
  const int64_t Size = Zip.Size();
  if (Size < EndOfCentralDirSize) throw EZipError(Corrupt);
  SeekExactly(Zip, Size - EndOfCentralDirSize);
  ReadEndOfCentralDir(Zip, FEndHeader);
  if (FEndHeader.Signature != EndOfCentralDirSignature) throw EZipError(Corrupt);

  // A directory that cannot fit in the file is refused before any entry is
  // allocated for it.
  const uint32_t Count = FEndHeader.EntriesThisDisk;
  const uint64_t DirEnd =
      static_cast<uint64_t>(FEndHeader.CentralDirOffset) + static_cast<uint64_t>(Count) * CentralFileHeaderSize;
  if (DirEnd > static_cast<uint64_t>(Size)) throw EZipError(Corrupt);

  SeekExactly(Zip, FEndHeader.CentralDirOffset);
  for (uint32_t I = 0; I < Count; ++I) {
    TCentralFileHeader& H = FCentralHeader;
    ReadCentralHeader(Zip, H);
    if (H.Signature != CentralFileHeaderSignature) throw EZipError(Corrupt);
    TZipFileEntry& Entry = FEntries.Add();
    Entry.HeaderPosition = static_cast<int32_t>(H.LocalHeaderOffset);
    Entry.VersionMadeBy = H.VersionMadeBy;
    Entry.ExternalAttributes = H.ExternalAttributes;
    Entry.CentralCrc32 = H.Crc32;
    Entry.CentralCompressedSize = H.CompressedSize;
    Entry.CentralUncompressedSize = H.UncompressedSize;
    Entry.SetArchiveFileName(DecodeEntryName(ReadName(Zip, H.NameLength)));
    const int64_t Skip = static_cast<int64_t>(H.ExtraLength) + H.CommentLength;
    if (Skip) SeekExactly(Zip, Zip.Position() + Skip);
  }
  // The records counted must fill the directory exactly, up to where the end
  // record says it ends, and no further record may follow: a count that
  // wrapped or was damaged would otherwise extract part of the archive and
  // report success.
  const uint64_t ClaimedEnd = static_cast<uint64_t>(FEndHeader.CentralDirOffset) + FEndHeader.CentralDirSize;
  const int64_t End = Zip.Position();
  if (End < 0 || static_cast<uint64_t>(End) != ClaimedEnd) throw EZipError(Corrupt);
  if (End + 4 <= Size - EndOfCentralDirSize) {
    unsigned char Next[4];
    Zip.ReadBuffer(Next, 4);
    if (Next[0] == 'P' && Next[1] == 'K' && Next[2] == 1 && Next[3] == 2) throw EZipError(Corrupt);
  }
}

// One entry's data as its local header describes it, ready for a worker.
struct TUnZipper::TEntryJob {
  int Index;             // in the entry list
  TZipFileEntry* Entry;  // owned by the entry list
  std::string Name;      // as stored, for reports
  std::string OutPath;   // the file to make
  int64_t DataOffset;
  uint32_t CompressedSize, UncompressedSize, Crc, Rights;
  uint16_t Method;
};

// What one worker owns: its own view of the archive (positioned reads of
// the shared handle, no shared seek pointer) and its copy buffer.
class TUnZipper::TWorker {
 public:
  TWorker(TUnZipper& Owner, THandle Archive) : FOwner(Owner), FView(Archive), FReader(FView) {}

  void Extract(const TEntryJob& Job) {
    SeekExactly(FReader, Job.DataOffset);
    TFileStream Out(Job.OutPath, fmCreate, Job.Rights);
    uint32_t ActualCrc;
    if (Job.Method == 0) {
      ActualCrc = CopyStored(Out, Job.CompressedSize);
    } else {
      // The decompressor writes through a bound of the declared size: a
      // larger output stops there with a failure instead of filling the disk.
      TEntryOutput Output(Out, Job.UncompressedSize, Job.Name, FOwner.FFileName);
      std::unique_ptr<TDeCompressor> Decompressor = FOwner.NewDecompressor(*Job.Entry, Job.Method, &FReader, &Output);
      Decompressor->Decompress();
      if (Output.Written() != Job.UncompressedSize)
        RaiseDamaged(
            Job.Name, FOwner.FFileName,
            FormatText("%d bytes of data for a declared size of %d bytes", Output.Written(), Job.UncompressedSize));
      ActualCrc = Decompressor->Crc32();
    }
    if (ActualCrc != Job.Crc) RaiseDamaged(Job.Name, FOwner.FFileName, "CRC-32 mismatch");
  }

 private:
  // Copies Count stored bytes to Out; their CRC-32.
  uint32_t CopyStored(TStream& Out, uint32_t Count) {
    if (!FCopyBuffer) FCopyBuffer.reset(new unsigned char[StoredChunk]);
    unsigned char* Buf = FCopyBuffer.get();
    uint32_t Crc = 0xFFFFFFFFu;
    while (Count > 0) {
      const uint32_t N = std::min(Count, StoredChunk);
      FReader.ReadBuffer(Buf, static_cast<int32_t>(N));
      Crc = UpdateCrc32(Crc, Buf, N);
      Out.WriteBuffer(Buf, static_cast<int32_t>(N));
      Count -= N;
    }
    return ~Crc;
  }

  TUnZipper& FOwner;
  TArchiveView FView;
  TReadBuffer FReader;
  std::unique_ptr<unsigned char[]> FCopyBuffer;
};

void TUnZipper::ExtractAll() {
  FBusy = true;
  TScopeExit Done([this] {
    FJobs.clear();
    FZipReader.reset();
    FZipStream.reset();
    FMadeFolders.clear();
    FBusy = false;
  });
  FZipStream = std::make_unique<TFileStream>(FFileName, fmOpenRead);
  FZipReader = std::make_unique<TReadBuffer>(*FZipStream);
  FEntries.Clear();
  FJobs.clear();
  ReadCentralDirectory();
  // The headers first, in order: a header that fails stops the queue there,
  // and the entries before it are still extracted (one of them may fail
  // first).
  int FailedAt = FEntries.Count();
  std::exception_ptr Failure;
  for (int I = 0; I < FEntries.Count(); ++I) {
    try {
      FQueuing = I;
      ExtractEntry(FEntries[I]);
    } catch (...) {
      FailedAt = I;
      Failure = std::current_exception();
      break;
    }
  }
  ExtractQueued(FailedAt, Failure);
}

void TUnZipper::ExtractQueued(int FailedAt, std::exception_ptr Failure) {
  // Entries that name the same file share a lane and go one after the
  // other in their order; lanes are taken in the order of their first entry.
  std::vector<std::vector<size_t>> Lanes;
  {
    std::unordered_map<std::string, size_t> LaneOf;
    for (size_t J = 0; J < FJobs.size(); ++J) {
      auto Found = LaneOf.emplace(FileKey(FJobs[J].OutPath), Lanes.size());
      if (Found.second) Lanes.emplace_back();
      Lanes[Found.first->second].push_back(J);
    }
  }
  TWorkGate Gate;  // guards Failure and FailedAt
  std::atomic<size_t> NextLane{0};
  std::atomic<int> FirstFailed{FailedAt};  // no entry after it is started
  std::vector<char> Started(FJobs.size(), 0);
  auto Work = [&](int) {
    std::unique_ptr<TWorker> Worker;
    try {
      Worker = std::make_unique<TWorker>(*this, FZipStream->Handle);
    } catch (...) {
      return;  // no buffers for this worker: the others take its share
    }
    for (size_t L = NextLane++; L < Lanes.size(); L = NextLane++) {
      for (size_t J : Lanes[L]) {
        const TEntryJob& Job = FJobs[J];
        if (Job.Index > FirstFailed.load()) break;
        Started[J] = 1;
        try {
          Worker->Extract(Job);
        } catch (...) {
          TWorkGateHold Hold(Gate);
          if (Job.Index < FailedAt) {
            FailedAt = Job.Index;
            Failure = std::current_exception();
            FirstFailed = Job.Index;
          }
          break;
        }
      }
    }
  };
  RunWorkers(std::max(1, std::min<int>(Workers, static_cast<int>(Lanes.size()))), Work);
  if (Failure) {
    UndoAfter(FailedAt, Lanes, Started);
    std::rethrow_exception(Failure);
  }
  // Not one worker could start: the data was never written.
  if (NextLane.load() < Lanes.size()) throw EOutOfMemory("Out of memory");
}

void TUnZipper::UndoAfter(int FailedAt, const std::vector<std::vector<size_t>>& Lanes,
                          const std::vector<char>& Started) {
  // Workers may have gone past the failing entry before they knew of it:
  // what they wrote for later entries goes again, so that the files are
  // those of the entries before it, whatever the timing. Where a later
  // entry wrote over an earlier one's file, the earlier one is extracted
  // once more.
  std::unique_ptr<TWorker> Worker;
  for (const std::vector<size_t>& Lane : Lanes) {
    const TEntryJob* Keep = nullptr;
    bool Overwritten = false;
    for (size_t J : Lane) {
      if (FJobs[J].Index == FailedAt) break;  // its file stays as the failure left it, the last of the lane
      if (FJobs[J].Index < FailedAt)
        Keep = &FJobs[J];
      else if (Started[J])
        Overwritten = true;
    }
    if (!Overwritten) continue;
    try {
      if (Keep == nullptr) {
        RemoveFile(FJobs[Lane.front()].OutPath);
        continue;
      }
      if (!Worker) Worker = std::make_unique<TWorker>(*this, FZipStream->Handle);
      Worker->Extract(*Keep);
    } catch (...) {
      // The failure being raised is the one to report.
    }
  }
}

template <class F>
void TUnZipper::MakeFolder(const std::string& Path, F MakeWhole) {
  const std::string Folder = ExcludeTrailingSeparator(Path);
  if (FMadeFolders.count(Folder)) return;
  // Below a folder made already, one step makes it; anything else (the
  // first folder, a name in the way) goes the whole way from the top.
  const std::string Parent = ExcludeTrailingSeparator(ExtractFolderPart(Folder));
  const bool OneStep = Parent != Folder && FMadeFolders.count(Parent) && (CreateFolder(Folder) || FolderExists(Folder));
  if (!OneStep) {
    MakeWhole();
    if (!FolderExists(Folder)) return;
  }
  FMadeFolders.insert(Folder);
}

void TUnZipper::ExtractEntry(TZipFileEntry& Entry) {
  TStream& Zip = *FZipReader;
  TLocalFileHeader& H = FLocalHeader;

  // The local header, its name and extra field; the stream is then at the
  // entry's data.
  if (Entry.HeaderPosition < 0) throw EReadError("Stream read error");
  SeekExactly(Zip, Entry.HeaderPosition);
  ReadLocalHeader(Zip, H);
  const std::string Name = DecodeEntryName(ReadName(Zip, H.NameLength));
  if (H.ExtraLength) SeekExactly(Zip, Zip.Position() + H.ExtraLength);

  Entry.SetArchiveFileName(Name);
  Entry.DiskFileName = Name;
  if (EntryNameLeadsOutside(Name))
    throw EZipError(FormatText("Entry name \"%s\" leads outside the output folder", Name));
  if (H.Flags & zfEncrypted) throw EZipError(FormatText("Encrypted entry %s is not supported", Name));

  uint32_t CompressedSize = H.CompressedSize;
  uint32_t UncompressedSize = H.UncompressedSize;
  uint32_t Crc = H.Crc32;
  if (H.Flags & zfDataDescriptor) {
    // Written by a streaming tool: the sizes and the CRC follow the data and
    // are repeated in the central directory.
    if (CompressedSize == 0) {
      CompressedSize = Entry.CentralCompressedSize;
      UncompressedSize = Entry.CentralUncompressedSize;
    }
    if (Crc == 0) Crc = Entry.CentralCrc32;
  }
  Entry.Size = static_cast<int32_t>(UncompressedSize);
  // An invalid or zero DOS date-time is no reason to refuse the data; the
  // entry just has no meaningful time.
  double DateTime = 0;
  Entry.DateTime = TryFromDosDateTime(H.ModDate, H.ModTime, DateTime) ? DateTime : 0;
  const uint16_t Method = H.Method;

  std::string OutName = Entry.DiskFileName;
  const bool IsFolder = IsSeparator(OutName.back());
  if (!IsFolder && OutName.find(':') != std::string::npos) OutName = ExtractNamePart(OutName);
  // "\" and "/" both separate folders in a name; paths are built with the
  // platform's own separator so files land in the folders just made.
  std::replace_if(OutName.begin(), OutName.end(), IsSeparator, PathSeparator);
  if (IsFolder) {
    // A folder entry: only the folders are made. Its name keeps any ":"
    // (only file names lose their drive), so with no output folder it is
    // anchored to the current folder: "C:\x\" must not name a drive's root.
    const std::string Path = JoinFolder(FOutputPath.empty() ? std::string(".") : FOutputPath, OutName);
    MakeFolder(Path, [&Path] { ForceFolderPath(Path); });
    return;
  }
  if (Method == 0 && CompressedSize != UncompressedSize)
    RaiseDamaged(
        Name, FFileName,
        FormatText("stored data of %d bytes for a declared size of %d bytes", CompressedSize, UncompressedSize));
  const std::string OutPath = JoinFolder(FOutputPath, OutName);

  // Folders are made here, before any worker creates a file in them.
  const std::string Folder = ExtractFolderPart(OutPath);
  if (!Folder.empty()) MakeFolder(Folder, [&Folder] { ForceFolders(Folder, true); });
  FJobs.push_back({FQueuing, &Entry, Name, OutPath, Zip.Position(), CompressedSize, UncompressedSize, Crc,
                   EntryRights(Entry), Method});
}

void ExtractArchive(const std::string& ArchiveFile, const std::string& Folder, int Workers) {
  const std::string Output = Folder.empty() ? Folder : IncludeTrailingSeparator(Folder);
  TUnZipper Unzipper;
  Unzipper.Workers = Workers;
  Unzipper.SetFileName(ArchiveFile);
  Unzipper.SetOutputPath(ExtractFolderPart(Output));
  Unzipper.ExtractAll();
}
