// The bundle store: a process-wide registry of named, typed byte values that
// are compiled into the executable, and the operation that writes one of them
// to a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// One registered value. A value registered from a single piece is a view of
// that piece where it lies (the caller keeps it alive, as constant data of the
// executable is); a value joined from several pieces owns its one block.
struct TLResource {
  std::string Name;
  std::string TypeName;  // upper case: a-z became A-Z, other bytes unchanged
  const uint8_t* Value = nullptr;
  size_t Length = 0;

 private:
  friend class TLResourceList;
  std::unique_ptr<uint8_t[]> FStorage;
};

// One consecutive piece of a value being registered.
struct TLResourcePiece {
  const void* Data;
  size_t Length;
};

// The order of resource names: byte by byte over the shorter length, a-z
// folded to A-Z, the first difference of (folded, unsigned) bytes decides;
// otherwise the difference of the lengths. Negative: A sorts first.
int CompareResourceNames(const std::string& A, const std::string& B);

// Receives each diagnostic line (without line end) that Sort produces.
using TResourceDiagnosticSink = std::function<void(const std::string&)>;

class TLResourceList {
 public:
  TLResourceList();
  ~TLResourceList();
  TLResourceList(const TLResourceList&) = delete;
  TLResourceList& operator=(const TLResourceList&) = delete;

  // Registers a value made of the pieces, in order. No pieces: nothing is
  // registered. Existing entries of that name are not looked at.
  void Add(const std::string& Name, const std::string& TypeName, const std::vector<TLResourcePiece>& Pieces);
  // The entry of that name (sorting first when entries were added since the
  // last sort), or nullptr.
  const TLResource* Find(const std::string& Name);
  // Brings the entries into name order (a stable merge sort of the entries
  // added since the last sort, merged into the sorted front) and reports every
  // adjacent pair with the same name and type name on the diagnostic sink.
  void Sort();
  // Writes the value of the named entry into a file at Path, replacing any
  // earlier file there, in one write request. Raises EResNotFound
  // "Resource "%s" not found" (before touching Path) for an unknown name,
  // EFCreateError when the file cannot be created and EWriteError "Stream
  // write error" when the write stops short.
  void WriteResourceToFile(const std::string& Name, const std::string& Path);

  int32_t Count() const { return static_cast<int32_t>(FEntries.size()); }
  int32_t SortedCount() const { return FSortedCount; }
  const TLResource& operator[](int32_t Index) const { return *FEntries[Index]; }

  // Where Sort's diagnostic lines go; standard output unless replaced.
  void SetDiagnosticSink(TResourceDiagnosticSink Sink);

 private:
  void SortRange(int32_t First, int32_t Last);
  void Merge(int32_t First, int32_t Second, int32_t Last);

  std::vector<TLResource*> FEntries;  // owned
  std::vector<TLResource*> FScratch;  // owns nothing
  int32_t FSortedCount = 0;
  TResourceDiagnosticSink FDiagnostics;
};

// The registry of the process: made by CreateResourceRegistry at start-up,
// destroyed with all its entries by DestroyResourceRegistry at exit.
void CreateResourceRegistry();
void DestroyResourceRegistry();
TLResourceList& Resources();
void WriteResourceToFile(const std::string& Name, const std::string& Path);
