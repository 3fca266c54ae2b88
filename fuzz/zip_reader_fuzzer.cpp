// Extracts arbitrary bytes as an archive into a scratch folder, on four
// workers. Every input
// must end in success or in one of the reader's failure classes, write
// nothing outside the output folder, and neither hang nor grow memory
// without bound (libFuzzer's -timeout and -rss_limit_mb watch the last two).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "runtime/exceptions.h"
#include "zip/zip_reader.h"

namespace stdfs = std::filesystem;

namespace {

// scratch/in.zip is the archive; the output folder sits four levels below
// scratch, so an entry climbing out of it shows up in one of the levels
// above it before it could reach anything outside scratch.
struct TScratch {
  TScratch() {
    const char* Base = std::getenv("QB_FUZZ_SCRATCH");
    stdfs::path Root =
        Base ? stdfs::path(Base) : (stdfs::exists("/dev/shm") ? stdfs::path("/dev/shm") : stdfs::temp_directory_path());
    Root = Root / ("qb_zip_fuzz_" + std::to_string(getpid()));
    stdfs::remove_all(Root);
    Levels = {Root, Root / "l1", Root / "l1" / "l2", Root / "l1" / "l2" / "l3"};
    Out = Levels.back() / "out";
    stdfs::create_directories(Levels.back());
    Archive = Root / "in.zip";
  }
  ~TScratch() {
    std::error_code Ec;
    stdfs::remove_all(Root, Ec);
  }
  stdfs::path Root, Out, Archive;
  std::vector<stdfs::path> Levels;
};

TScratch& Scratch() {
  static TScratch Scratch;
  return Scratch;
}

// The only names allowed in each level above the output folder.
void CheckNothingOutside(const TScratch& S) {
  for (size_t I = 0; I < S.Levels.size(); ++I) {
    std::set<std::string> Allowed;
    if (I == 0) Allowed.insert("in.zip");
    Allowed.insert(I + 1 < S.Levels.size() ? S.Levels[I + 1].filename().string() : "out");
    for (const auto& Entry : stdfs::directory_iterator(S.Levels[I])) {
      const std::string Name = Entry.path().filename().string();
      if (!Allowed.count(Name)) {
        std::fprintf(stderr, "written outside the output folder: %s\n", Entry.path().c_str());
        std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TScratch& S = Scratch();
  {
    std::ofstream F(S.Archive, std::ios::binary | std::ios::trunc);
    F.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  }
  try {
    ExtractArchive(S.Archive.string(), S.Out.string(), 4);
  } catch (const Exception&) {
    // Every failure of the reader is an Exception; anything else escapes
    // and libFuzzer reports it.
  }
  CheckNothingOutside(S);
  std::error_code Ec;
  stdfs::remove_all(S.Out, Ec);
  return 0;
}
