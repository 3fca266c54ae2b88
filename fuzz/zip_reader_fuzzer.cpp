// Extracts arbitrary bytes as an archive into a scratch folder. Every input
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
    const char* base = std::getenv("QB_FUZZ_SCRATCH");
    stdfs::path root = base ? stdfs::path(base)
                            : (stdfs::exists("/dev/shm") ? stdfs::path("/dev/shm")
                                                         : stdfs::temp_directory_path());
    Root = root / ("qb_zip_fuzz_" + std::to_string(getpid()));
    stdfs::remove_all(Root);
    Levels = {Root, Root / "l1", Root / "l1" / "l2", Root / "l1" / "l2" / "l3"};
    Out = Levels.back() / "out";
    stdfs::create_directories(Levels.back());
    Archive = Root / "in.zip";
  }
  ~TScratch() {
    std::error_code ec;
    stdfs::remove_all(Root, ec);
  }
  stdfs::path Root, Out, Archive;
  std::vector<stdfs::path> Levels;
};

TScratch& Scratch() {
  static TScratch scratch;
  return scratch;
}

// The only names allowed in each level above the output folder.
void CheckNothingOutside(const TScratch& S) {
  for (size_t i = 0; i < S.Levels.size(); ++i) {
    std::set<std::string> allowed;
    if (i == 0) allowed.insert("in.zip");
    allowed.insert(i + 1 < S.Levels.size() ? S.Levels[i + 1].filename().string() : "out");
    for (const auto& entry : stdfs::directory_iterator(S.Levels[i])) {
      const std::string name = entry.path().filename().string();
      if (!allowed.count(name)) {
        std::fprintf(stderr, "written outside the output folder: %s\n", entry.path().c_str());
        std::abort();
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TScratch& s = Scratch();
  {
    std::ofstream f(s.Archive, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  }
  try {
    ExtractArchive(s.Archive.string(), s.Out.string());
  } catch (const Exception&) {
    // Every failure of the reader is an Exception; anything else escapes
    // and libFuzzer reports it.
  }
  CheckNothingOutside(s);
  std::error_code ec;
  stdfs::remove_all(s.Out, ec);
  return 0;
}
