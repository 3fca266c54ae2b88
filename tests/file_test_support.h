// Scratch folders and plain file access for the file stream and file copy
// tests, through std::filesystem so that the checks do not rest on the code
// under test.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qbtest {

namespace fsys = std::filesystem;

inline fsys::path U8(const std::string& Utf8) { return fsys::u8path(Utf8); }
inline std::string Utf8Of(const fsys::path& P) { return P.u8string(); }

// A fresh folder under the system temporary folder, removed with its
// contents when the object goes.
class ScratchFolder {
 public:
  ScratchFolder() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("qb_fs_") + (info ? info->test_suite_name() : "x") + "_" +
                       (info ? info->name() : "x") + "_" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
                       "_" + std::to_string(counter++);
    // Parameterised tests carry "/" in their names; keep the folder flat.
    for (char& c : name)
      if (c == '/' || c == '\\') c = '_';
    Root_ = fsys::temp_directory_path() / name;
    fsys::create_directories(Root_);
  }
  ~ScratchFolder() {
    std::error_code ec;
    fsys::remove_all(Root_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const fsys::path& Root() const { return Root_; }
  // The UTF-8 path of Name (which may contain "/") inside the folder.
  std::string Path(const std::string& Name) const { return Utf8Of(Root_ / U8(Name)); }

 private:
  fsys::path Root_;
};

inline void WriteFileBytes(const std::string& Utf8Path, const std::string& Bytes) {
  std::ofstream out(U8(Utf8Path), std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(out.good()) << Utf8Path;
  out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
  ASSERT_TRUE(out.good()) << Utf8Path;
}

inline std::string ReadFileBytes(const std::string& Utf8Path) {
  std::ifstream in(U8(Utf8Path), std::ios::binary);
  if (!in.good()) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Whole-file access by std::filesystem path; a missing file reads as empty.
inline std::string ReadFile(const fsys::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const fsys::path& Path, const std::string& Content) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out.write(Content.data(), static_cast<std::streamsize>(Content.size()));
}

// Deterministic, non-repeating-looking content of N bytes.
inline std::string PatternBytes(size_t N, unsigned Seed = 1) {
  std::string s(N, '\0');
  uint32_t x = 2463534242u ^ Seed;
  for (size_t i = 0; i < N; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    s[i] = static_cast<char>(x & 0xFF);
  }
  return s;
}

}  // namespace qbtest
