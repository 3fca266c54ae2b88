#include "launcher/resource_list.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "fs/file_stream.h"
#include "runtime/exceptions.h"

namespace {

inline unsigned char FoldByte(unsigned char C) {
  return (C >= 'a' && C <= 'z') ? static_cast<unsigned char>(C - ('a' - 'A')) : C;
}

std::string UpperCaseAscii(std::string Text) {
  for (char& C : Text) C = static_cast<char>(FoldByte(static_cast<unsigned char>(C)));
  return Text;
}

void WriteLineToStandardOutput(const std::string& Line) {
  std::fwrite(Line.data(), 1, Line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

TLResourceList* Registry = nullptr;

}  // namespace

int CompareResourceNames(const std::string& A, const std::string& B) {
  const size_t Shorter = A.size() < B.size() ? A.size() : B.size();
  for (size_t I = 0; I < Shorter; ++I) {
    const unsigned char FoldedA = FoldByte(static_cast<unsigned char>(A[I]));
    const unsigned char FoldedB = FoldByte(static_cast<unsigned char>(B[I]));
    if (FoldedA != FoldedB) return static_cast<int>(FoldedA) - static_cast<int>(FoldedB);
  }
  const ptrdiff_t Difference = static_cast<ptrdiff_t>(A.size()) - static_cast<ptrdiff_t>(B.size());
  if (Difference > INT32_MAX) return INT32_MAX;
  if (Difference < -INT32_MAX) return -INT32_MAX;
  return static_cast<int>(Difference);
}

TLResourceList::TLResourceList() : FDiagnostics(WriteLineToStandardOutput) {}

TLResourceList::~TLResourceList() {
  for (TLResource* Entry : FEntries) delete Entry;
}

void TLResourceList::SetDiagnosticSink(TResourceDiagnosticSink Sink) {
  FDiagnostics = Sink ? std::move(Sink) : TResourceDiagnosticSink(WriteLineToStandardOutput);
}

void TLResourceList::Add(const std::string& Name, const std::string& TypeName,
                         const std::vector<TLResourcePiece>& Pieces) {
  if (Pieces.empty()) return;
  auto Entry = std::make_unique<TLResource>();
  Entry->Name = Name;
  Entry->TypeName = UpperCaseAscii(TypeName);
  if (Pieces.size() == 1) {
    // Held where it lies: constant data of the executable is not copied.
    Entry->Value = static_cast<const uint8_t*>(Pieces[0].Data);
    Entry->Length = Pieces[0].Length;
  } else {
    size_t Total = 0;
    for (const TLResourcePiece& Piece : Pieces) Total += Piece.Length;
    Entry->FStorage.reset(new uint8_t[Total > 0 ? Total : 1]);
    size_t At = 0;
    for (const TLResourcePiece& Piece : Pieces) {
      if (Piece.Length == 0) continue;
      std::memcpy(Entry->FStorage.get() + At, Piece.Data, Piece.Length);
      At += Piece.Length;
    }
    Entry->Value = Entry->FStorage.get();
    Entry->Length = Total;
  }
  FEntries.push_back(nullptr);  // grows the list before it takes ownership
  FEntries.back() = Entry.release();
}

const TLResource* TLResourceList::Find(const std::string& Name) {
  if (Count() > FSortedCount) Sort();
  int32_t Low = 0;
  int32_t High = Count() - 1;
  while (Low <= High) {
    const int32_t Middle = Low + (High - Low) / 2;
    const int Order = CompareResourceNames(Name, FEntries[Middle]->Name);
    if (Order < 0) {
      High = Middle - 1;
    } else if (Order > 0) {
      Low = Middle + 1;
    } else {
      return FEntries[Middle];
    }
  }
  return nullptr;
}

void TLResourceList::Sort() {
  const int32_t Total = Count();
  if (Total == FSortedCount) return;
  FScratch.assign(FEntries.size(), nullptr);
  SortRange(FSortedCount, Total - 1);
  Merge(0, FSortedCount, Total - 1);
  FSortedCount = Total;
  for (int32_t I = 0; I + 1 < Total; ++I) {
    const TLResource& A = *FEntries[I];
    const TLResource& B = *FEntries[I + 1];
    if (CompareResourceNames(A.Name, B.Name) == 0 && A.TypeName == B.TypeName) {
      FDiagnostics("TLResourceList.Sort " + std::to_string(I) + " DUPLICATE RESOURCE FOUND: " + A.Name + ":" +
                   A.TypeName);
    }
  }
}

// Sorts positions First to Last (inclusive) in place.
void TLResourceList::SortRange(int32_t First, int32_t Last) {
  if (Last - First < 1) return;
  if (Last - First == 1) {
    if (CompareResourceNames(FEntries[First]->Name, FEntries[Last]->Name) > 0) {
      std::swap(FEntries[First], FEntries[Last]);
    }
    return;
  }
  const int32_t Middle = First + (Last - First) / 2;
  SortRange(First, Middle);
  SortRange(Middle + 1, Last);
  Merge(First, Middle + 1, Last);
}

// Merges the ordered runs First..Second-1 and Second..Last from their ends,
// filling the scratch list from Last downwards. On equal names the second
// run's entry goes later, so the merge is stable.
void TLResourceList::Merge(int32_t First, int32_t Second, int32_t Last) {
  if (First >= Second || Second > Last) return;
  int32_t I = Second - 1;
  int32_t J = Last;
  int32_t K = Last;
  while (I >= First && J >= Second) {
    if (CompareResourceNames(FEntries[I]->Name, FEntries[J]->Name) > 0) {
      FScratch[K--] = FEntries[I--];
    } else {
      FScratch[K--] = FEntries[J--];
    }
  }
  // A used-up second run leaves the rest of the first run in its place; a
  // used-up first run leaves the rest of the second run to move.
  while (J >= Second) FScratch[K--] = FEntries[J--];
  for (int32_t P = K + 1; P <= Last; ++P) FEntries[P] = FScratch[P];
}

void TLResourceList::WriteResourceToFile(const std::string& Name, const std::string& Path) {
  const TLResource* Entry = Find(Name);
  if (Entry == nullptr) throw EResNotFound(FormatText("Resource \"%s\" not found", Name));
  // One write request carries a 32-bit signed count.
  if (Entry->Length > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    throw EWriteError("Stream write error");
  }
  TFileStream Stream(Path, fmCreate);
  Stream.WriteBuffer(Entry->Value, static_cast<int32_t>(Entry->Length));
}

void CreateResourceRegistry() {
  if (Registry == nullptr) Registry = new TLResourceList();
}

void DestroyResourceRegistry() {
  delete Registry;
  Registry = nullptr;
}

TLResourceList& Resources() {
  if (Registry == nullptr) throw Exception("The resource registry has not been created");
  return *Registry;
}

void WriteResourceToFile(const std::string& Name, const std::string& Path) {
  Resources().WriteResourceToFile(Name, Path);
}
