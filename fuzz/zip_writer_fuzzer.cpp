// Packs a folder tree described by arbitrary bytes with several workers,
// extracts the archive again with several workers and compares both trees
// byte for byte: every file and every empty folder must come back whole,
// and packing must give the same bytes as one worker does.
//
// The input is read as records: a kind byte (even: a file, odd: a folder),
// a depth (0-3: the record goes into the last folder of that depth or
// above), a name of up to 24 bytes from a fixed alphabet (letters, digits,
// "-_ ." and two letters outside ASCII; never empty and never dots and
// spaces only), and for a file a size (up to 96 KiB) and a fill pattern.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "runtime/exceptions.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

namespace stdfs = std::filesystem;

namespace {

constexpr int Workers = 4;

class TReader {
 public:
  TReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  bool More() const { return FPos < FSize; }
  uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

std::string Name(TReader& In) {
  static const char* const Letters[] = {"a", "b", "c", "x", "Y", "Z",        "0",
                                        "7", "-", "_", " ", ".", "\xc3\xa9", "\xe6\x97\xa5"};
  constexpr size_t LetterCount = sizeof Letters / sizeof Letters[0];
  std::string Result;
  const int Length = 1 + In.Byte() % 24;
  for (int I = 0; I < Length; ++I) Result += Letters[In.Byte() % LetterCount];
  if (Result.find_first_not_of(". ") == std::string::npos) Result += "n";
  return Result;
}

std::string Content(TReader& In) {
  const size_t Size = (static_cast<size_t>(In.Byte()) << 9 | In.Byte()) % (96 * 1024 + 1);
  const uint8_t Kind = In.Byte();
  std::string Data(Size, '\0');
  uint32_t State = Kind * 2654435761u + 1;
  for (size_t I = 0; I < Size; ++I) {
    State = State * 1103515245u + 12345u;
    // Kinds: text-like (compresses), noise (is stored), one repeated byte.
    Data[I] = Kind % 3 == 0   ? static_cast<char>('a' + (I * 7 + I / 13) % 26)
              : Kind % 3 == 1 ? static_cast<char>(State >> 24)
                              : static_cast<char>(Kind);
  }
  return Data;
}

// Relative name ("/" between levels, "/" after a folder) -> content.
using TTree = std::map<std::string, std::string>;

TTree ReadTree(const stdfs::path& Root) {
  TTree Tree;
  for (const auto& E : stdfs::recursive_directory_iterator(Root)) {
    const std::string Name = E.path().lexically_relative(Root).generic_string();
    if (E.is_directory()) {
      Tree[Name + "/"] = "";
    } else {
      std::ifstream F(E.path(), std::ios::binary);
      Tree[Name] = std::string(std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>());
    }
  }
  return Tree;
}

std::string Bytes(const stdfs::path& File) {
  std::ifstream F(File, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>());
}

[[noreturn]] void Fail(const char* What) {
  std::fprintf(stderr, "%s\n", What);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static const stdfs::path Root = (stdfs::exists("/dev/shm") ? stdfs::path("/dev/shm") : stdfs::temp_directory_path()) /
                                  ("qb_zip_writer_fuzz_" + std::to_string(getpid()));
  const stdfs::path In = Root / "in", Out = Root / "out";
  std::error_code Ec;
  stdfs::remove_all(Root, Ec);
  stdfs::create_directories(In);
  stdfs::create_directories(Out);

  TReader Input(Data, Size);
  std::vector<stdfs::path> Folders{In};  // the last folder of each depth
  for (int Records = 0; Input.More() && Records < 40; ++Records) {
    const bool IsFolder = Input.Byte() & 1;
    const size_t Depth = Input.Byte() % 4;
    const stdfs::path Parent = Folders[std::min(Depth, Folders.size() - 1)];
    const stdfs::path Path = Parent / Name(Input);
    if (stdfs::exists(Path)) continue;
    if (IsFolder) {
      stdfs::create_directory(Path);
      Folders.resize(std::min(Depth, Folders.size() - 1) + 1);
      Folders.push_back(Path);
    } else {
      std::ofstream(Path, std::ios::binary) << Content(Input);
    }
  }

  const std::string Archive = (Root / "packed.zip").string(), Single = (Root / "single.zip").string();
  try {
    PackFolder(In.string() + "/", Archive, Workers);
    PackFolder(In.string() + "/", Single, 1);
    ExtractArchive(Archive, Out.string() + "/", Workers);
  } catch (const Exception& Failure) {
    std::fprintf(stderr, "%s: %s\n", Failure.ClassName(), Failure.Message().c_str());
    Fail("packing or extracting a plain tree failed");
  }
  if (Bytes(Archive) != Bytes(Single)) Fail("the archive differs from the one packed by one worker");
  if (ReadTree(In) != ReadTree(Out)) Fail("the extracted tree differs from the packed one");
  stdfs::remove_all(Root, Ec);
  return 0;
}
