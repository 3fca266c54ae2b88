#include "fs/file_transfer.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <random>

#include "fs/checked_io.h"
#include "fs/entry_status.h"
#include "fs/file_services.h"
#include "fs/file_stream.h"
#include "fs/path_text.h"
#include "fs/system_error.h"
#include "runtime/exceptions.h"

namespace {

constexpr int32_t CopyBlock = 64 * 1024;
constexpr uint32_t RetryPause = 100;
constexpr size_t SiblingDigits = 12;

// Runs Attempt until it gives something other than a sharing violation, or
// the retry time is over; gives its last result.
template <class F>
int WithSharingRetry(F Attempt) {
  int Error = Attempt();
  for (uint32_t Waited = 0; Error != 0 && IsSharingViolation(Error) && Waited < SharingRetryMilliseconds;
       Waited += RetryPause) {
    Pause(RetryPause);
    Error = Attempt();
  }
  return Error;
}

}  // namespace

std::string TTransferResult::Describe(const std::string& Source, const std::string& Target) const {
  const std::string Reason = SystemErrorReason(Error);
  if (Step == tsOpenSource || Step == tsReadSource) return FormatText("cannot read \"%s\": %s", Source, Reason);
  return FormatText("cannot write \"%s\": %s", Target, Reason);
}

std::string UniqueSiblingName(const std::string& Path) {
  static std::mt19937_64 Generator = [] {
    uint64_t Seed = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    try {
      std::random_device Device;
      Seed ^= (static_cast<uint64_t>(Device()) << 32) ^ Device();
    } catch (...) {
      // the clock alone seeds the generator
    }
    return std::mt19937_64(Seed);
  }();
  for (;;) {
    char Suffix[24];
    std::snprintf(Suffix, sizeof Suffix, ".~%012llx", static_cast<unsigned long long>(Generator() & 0xFFFFFFFFFFFFull));
    std::string Name = Path + Suffix;
    if (!EntryStatus(Name).Exists) return Name;
  }
}

bool IsSiblingNameOf(const std::string& Name, const std::string& Base) {
  if (Name.size() != Base.size() + 2 + SiblingDigits || Name.compare(0, Base.size(), Base) != 0) return false;
  if (Name.compare(Base.size(), 2, ".~") != 0) return false;
  for (size_t I = Base.size() + 2; I < Name.size(); ++I) {
    const char C = Name[I];
    if (!((C >= '0' && C <= '9') || (C >= 'a' && C <= 'f'))) return false;
  }
  return true;
}

namespace {

// A new file beside Target with Rights (POSIX), open for writing; its name in
// Temporary.
THandle CreateSibling(const std::string& Target, uint32_t Rights, std::string& Temporary, int& Error) {
  // A name that exists by now (made by another writer at the same moment)
  // is simply passed over.
  for (int Attempt = 0; Attempt < 16; ++Attempt) {
    Temporary = UniqueSiblingName(Target);
    const THandle Out = CreateNewFile(Temporary, Error, Rights);
    if (Out != InvalidHandle || !EntryStatus(Temporary).Exists) return Out;
  }
  return InvalidHandle;
}

// Writes a new file beside Target with what Fill writes into it (Fill gives
// a failed result or tsDone), forces it to storage and renames it into
// Target's place; the new file never outlives a failure. On POSIX the new
// file gets Rights under the umask.
template <class F>
TTransferResult WriteAndReplace(const std::string& Target, TDurability Durability, uint32_t Rights, F Fill) {
  TTransferResult Result;
  std::string Temporary;
  int Error = 0;
  const THandle Out = CreateSibling(Target, Rights, Temporary, Error);
  if (Out == InvalidHandle) {
    Result.Step = tsCreateTarget;
    Result.Error = Error;
    return Result;
  }
  THandleCloser Closer(Out);
  Result = Fill(Out);
  const bool Durable = Durability == tdForced;
  if (Result.Ok() && Durable && (Error = FlushToStorage(Out)) != 0) Result = {tsWriteTarget, Error};
  Closer.Close();
  if (Result.Ok()) {
    Error = WithSharingRetry([&] { return ReplaceEntry(Temporary, Target, Durable); });
    if (Error == 0) return Result;
    Result = {tsReplaceTarget, EntryStatus(Target).Folder ? static_cast<int>(FolderInTheWayError) : Error};
  }
  RemoveFile(Temporary);
  return Result;
}

}  // namespace

TTransferResult ReplaceFileWithCopy(const std::string& Source, const std::string& Target, TDurability Durability) {
  THandle In = InvalidHandle;
  const int Error = WithSharingRetry([&] {
    int Code = 0;
    In = OpenRegularFile(Source, Code);
    return Code;
  });
  if (In == InvalidHandle) return {tsOpenSource, Error};
  THandleCloser InCloser(In);
  return WriteAndReplace(Target, Durability, PlainFileRights, [In](THandle Out) -> TTransferResult {
    std::unique_ptr<unsigned char[]> Block(new unsigned char[CopyBlock]);
    for (;;) {
      int32_t Got = 0;
      if (const int Code = ReadSome(In, Block.get(), CopyBlock, Got)) return {tsReadSource, Code};
      if (Got == 0) return {};
      if (const int Code = WriteAll(Out, Block.get(), Got)) return {tsWriteTarget, Code};
    }
  });
}

TTransferResult ReplaceFileWithText(const std::string& Target, const std::string& Text, TDurability Durability) {
  return WriteAndReplace(Target, Durability, PlainFileRights, [&Text](THandle Out) -> TTransferResult {
    if (const int Code = WriteAll(Out, Text.data(), static_cast<int32_t>(Text.size()))) return {tsWriteTarget, Code};
    return {};
  });
}

namespace {

// A stream over the new file that keeps the system's reason for a write
// that fell short, before the writer's failure unwinds past it.
class TWriteRecordingStream : public THandleStream {
 public:
  using THandleStream::THandleStream;
  int32_t Write(const void* Buffer, int32_t Count) override {
    const int32_t Done = THandleStream::Write(Buffer, Count);
    if (Done < Count && Error == 0) Error = LastSystemError();
    return Done;
  }
  int Error = 0;
};

}  // namespace

TTransferResult ReplaceFileByWriting(const std::string& Target, TDurability Durability,
                                     const std::function<void(TStream&)>& Write, uint32_t Rights) {
  std::exception_ptr Failure;
  const TTransferResult Result = WriteAndReplace(Target, Durability, Rights, [&](THandle Out) -> TTransferResult {
    TWriteRecordingStream Stream(Out);
    try {
      Write(Stream);
    } catch (...) {
      if (Stream.Error != 0) return {tsWriteTarget, Stream.Error};
      Failure = std::current_exception();
      return {tsReadSource, 0};
    }
    return {};
  });
  if (Failure) std::rethrow_exception(Failure);
  return Result;
}

TTransferResult ReadWholeFile(const std::string& Path, size_t MaxSize, std::string& Text) {
  int Error = 0;
  const THandle In = OpenRegularFile(Path, Error);
  if (In == InvalidHandle) return {tsOpenSource, Error};
  THandleCloser Closer(In);
  Text.clear();
  std::unique_ptr<char[]> Block(new char[CopyBlock]);
  for (;;) {
    int32_t Got = 0;
    if (const int Code = ReadSome(In, Block.get(), CopyBlock, Got)) return {tsReadSource, Code};
    if (Got == 0) return {};
    if (Text.size() + static_cast<size_t>(Got) > MaxSize) return {tsReadSource, FileTooLargeError};
    Text.append(Block.get(), static_cast<size_t>(Got));
  }
}

void RemoveAbandonedSiblings(const std::string& Path) {
  const std::string Folder = ExtractFolderPart(Path);
  const std::string Base = ExtractNamePart(Path);
  TSearchRecord Record;
  int Code = FindFirstEntry(Folder + Base + ".~*", faAnyFile, Record);
  while (Code == 0) {
    if (IsSiblingNameOf(Record.Name, Base)) {
      const std::string Name = Folder + Record.Name;
      const TEntryStatus Status = EntryStatus(Name);
      // A file still open by its writer refuses to go on Windows, and holds
      // its lock on POSIX; only the user's own plain files are touched.
      if (Status.RegularFile && Status.OwnedByUser && !FileInUse(Name)) RemoveFile(Name);
    }
    Code = FindNextEntry(Record);
  }
  FindEnd(Record);
}
