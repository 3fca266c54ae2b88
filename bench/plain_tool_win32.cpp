// The plain tool of the Windows benchmark (wine_bench_win32.cpp): the same
// work as the launcher's, done the straightforward way by one thread with
// Win32 and zlib, as the measure the launcher is compared with. Its own
// minimal zip reading (end record, central directory, local headers; stored
// and deflated entries, CRC-32 checked), one CreateFileW / WriteFile /
// CloseHandle per extracted file, CopyFileW for copies; deletion with
// FindFirstFileW / DeleteFileW / RemoveDirectoryW.
//
//   plain_tool install BUNDLE WORK USER
//       makes the folder WORK, extracts BUNDLE into it, copies
//       USER\dereroz.zip and USER\trad_dyn.csv into it and extracts
//       WORK\dereroz.zip into WORK\dereroz
//   plain_tool delete FOLDER
//       deletes FOLDER and everything in it
//
// Exit code 0 when done, 1 on a failure, which it names on standard error.
// The time of the work itself goes to the harness's stamps.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_win32.h"

namespace {

struct TFailure {
  std::wstring What;
};

[[noreturn]] void Fail(const std::wstring& What) {
  throw TFailure{What + L" (error " + std::to_wstring(GetLastError()) + L")"};
}

uint32_t Read16(const unsigned char* At) { return At[0] | (At[1] << 8); }
uint32_t Read32(const unsigned char* At) { return Read16(At) | (Read16(At + 2) << 16); }

std::vector<unsigned char> ReadWholeFile(const std::wstring& Path) {
  HANDLE File = CreateFileW(Path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (File == INVALID_HANDLE_VALUE) Fail(L"cannot open " + Path);
  LARGE_INTEGER Size;
  std::vector<unsigned char> Bytes;
  DWORD Got = 0;
  const bool Ok = GetFileSizeEx(File, &Size) && (Bytes.resize(static_cast<size_t>(Size.QuadPart)), true) &&
                  ReadFile(File, Bytes.data(), static_cast<DWORD>(Bytes.size()), &Got, nullptr) && Got == Bytes.size();
  CloseHandle(File);
  if (!Ok) Fail(L"cannot read " + Path);
  return Bytes;
}

void WriteWholeFile(const std::wstring& Path, const unsigned char* Data, size_t Size) {
  HANDLE File = CreateFileW(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (File == INVALID_HANDLE_VALUE) Fail(L"cannot create " + Path);
  DWORD Written = 0;
  const bool Ok = WriteFile(File, Data, static_cast<DWORD>(Size), &Written, nullptr) && Written == Size;
  if (!CloseHandle(File) || !Ok) Fail(L"cannot write " + Path);
}

// Extracts the archive Zip into the folder Target, which exists.
class TExtractor {
 public:
  TExtractor() {
    std::memset(&FStream, 0, sizeof FStream);
    if (inflateInit2(&FStream, -MAX_WBITS) != Z_OK) throw TFailure{L"no inflater"};
  }
  ~TExtractor() { inflateEnd(&FStream); }

  void Extract(const std::wstring& Zip, const std::wstring& Target) {
    const std::vector<unsigned char> Archive = ReadWholeFile(Zip);
    const unsigned char* const Begin = Archive.data();
    const size_t Size = Archive.size();
    // The end record: the last one, behind a comment of at most 64 KiB.
    size_t End = Size >= 22 ? Size - 22 : Size;
    while (End < Size && Read32(Begin + End) != 0x06054b50) {
      if (End == 0 || Size - End > 22 + 65535) Fail(L"no end record in " + Zip);
      --End;
    }
    if (End >= Size) Fail(L"no end record in " + Zip);
    const uint32_t Count = Read16(Begin + End + 10);
    size_t At = Read32(Begin + End + 16);
    FMade.clear();
    for (uint32_t I = 0; I < Count; ++I) {
      if (At + 46 > Size || Read32(Begin + At) != 0x02014b50) Fail(L"damaged central directory in " + Zip);
      const uint32_t Method = Read16(Begin + At + 10), Crc = Read32(Begin + At + 16);
      const uint32_t Packed = Read32(Begin + At + 20), Unpacked = Read32(Begin + At + 24);
      const uint32_t NameLength = Read16(Begin + At + 28);
      const uint32_t Local = Read32(Begin + At + 42);
      const std::string Name(reinterpret_cast<const char*>(Begin + At + 46), NameLength);
      At += 46 + NameLength + Read16(Begin + At + 30) + Read16(Begin + At + 32);
      if (Local + 30 > Size || Read32(Begin + Local) != 0x04034b50) Fail(L"damaged local header in " + Zip);
      const size_t Data = Local + 30 + Read16(Begin + Local + 26) + Read16(Begin + Local + 28);
      if (Data + Packed > Size) Fail(L"entry beyond the end of " + Zip);
      WriteEntry(Target, Name, Method, Crc, Begin + Data, Packed, Unpacked);
    }
  }

 private:
  void WriteEntry(const std::wstring& Target, const std::string& Name, uint32_t Method, uint32_t Crc,
                  const unsigned char* Data, uint32_t Packed, uint32_t Unpacked) {
    if (Name.empty() || Name[0] == '/' || Name.find("..") != std::string::npos) throw TFailure{L"unsafe entry name"};
    std::wstring Path = Target;
    const int Length = MultiByteToWideChar(CP_UTF8, 0, Name.data(), static_cast<int>(Name.size()), nullptr, 0);
    std::wstring Relative(static_cast<size_t>(Length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, Name.data(), static_cast<int>(Name.size()), &Relative[0], Length);
    for (wchar_t& C : Relative)
      if (C == L'/') C = L'\\';
    Path += L'\\';
    Path += Relative;
    // The folders on the way, each made once.
    for (size_t Slash = Path.find(L'\\', Target.size() + 1); Slash != std::wstring::npos;
         Slash = Path.find(L'\\', Slash + 1)) {
      const std::wstring Folder = Path.substr(0, Slash);
      if (FMade.insert(Folder).second && !CreateDirectoryW(Folder.c_str(), nullptr) &&
          GetLastError() != ERROR_ALREADY_EXISTS)
        Fail(L"cannot make " + Folder);
    }
    if (Path.back() == L'\\') return;  // a folder entry
    const unsigned char* Bytes = Data;
    if (Method == 8) {
      FOut.resize(Unpacked);
      inflateReset(&FStream);
      FStream.next_in = const_cast<unsigned char*>(Data);
      FStream.avail_in = Packed;
      FStream.next_out = FOut.data();
      FStream.avail_out = Unpacked;
      if (inflate(&FStream, Z_FINISH) != Z_STREAM_END || FStream.total_out != Unpacked)
        throw TFailure{L"damaged entry " + Relative};
      Bytes = FOut.data();
    } else if (Method != 0 || Packed != Unpacked) {
      throw TFailure{L"unsupported entry " + Relative};
    }
    if (crc32(0, Bytes, Unpacked) != Crc) throw TFailure{L"CRC-32 mismatch in " + Relative};
    WriteWholeFile(Path, Bytes, Unpacked);
  }

  z_stream FStream;
  std::vector<unsigned char> FOut;
  std::set<std::wstring> FMade;  // folders made for this archive
};

void CopyOne(const std::wstring& From, const std::wstring& To) {
  if (!CopyFileW(From.c_str(), To.c_str(), FALSE)) Fail(L"cannot copy " + From);
}

void Install(const std::wstring& Bundle, const std::wstring& Work, const std::wstring& User) {
  if (!CreateDirectoryW(Work.c_str(), nullptr)) Fail(L"cannot make " + Work);
  TExtractor Extractor;
  Extractor.Extract(Bundle, Work);
  CopyOne(User + L"\\dereroz.zip", Work + L"\\dereroz.zip");
  CopyOne(User + L"\\trad_dyn.csv", Work + L"\\trad_dyn.csv");
  if (!CreateDirectoryW((Work + L"\\dereroz").c_str(), nullptr)) Fail(L"cannot make " + Work + L"\\dereroz");
  Extractor.Extract(Work + L"\\dereroz.zip", Work + L"\\dereroz");
}

void DeleteTree(const std::wstring& Folder) {
  WIN32_FIND_DATAW Found;
  HANDLE Search = FindFirstFileW((Folder + L"\\*").c_str(), &Found);
  if (Search == INVALID_HANDLE_VALUE) Fail(L"cannot list " + Folder);
  do {
    const std::wstring Name = Found.cFileName;
    if (Name == L"." || Name == L"..") continue;
    const std::wstring Path = Folder + L"\\" + Name;
    if ((Found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      if (!DeleteFileW(Path.c_str())) Fail(L"cannot delete " + Path);
    } else if (Found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      if (!RemoveDirectoryW(Path.c_str())) Fail(L"cannot remove " + Path);
    } else {
      DeleteTree(Path);
    }
  } while (FindNextFileW(Search, &Found));
  FindClose(Search);
  if (!RemoveDirectoryW(Folder.c_str())) Fail(L"cannot remove " + Folder);
}

}  // namespace

int main() {
  const std::vector<std::wstring> Words = CommandWords();
  const bool IsInstall = Words.size() == 4 && Words[0] == L"install";
  const bool IsDelete = Words.size() == 2 && Words[0] == L"delete";
  if (!IsInstall && !IsDelete) {
    std::fprintf(stderr, "usage: plain_tool install BUNDLE WORK USER | delete FOLDER\n");
    return 2;
  }
  TBenchStamps* Stamps = OpenBenchStamps();
  try {
    const LONGLONG Start = BenchNow();
    if (IsInstall)
      Install(Words[1], Words[2], Words[3]);
    else
      DeleteTree(Words[1]);
    const LONGLONG Ticks = BenchNow() - Start;
    if (Stamps != nullptr) Stamps->ToolTicks = Ticks;
  } catch (const TFailure& Failure) {
    std::fprintf(stderr, "plain_tool: %ls\n", Failure.What.c_str());
    return 1;
  }
  return 0;
}
