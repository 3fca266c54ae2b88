// The platform-free part of the test-support kit.
#include "tests/test_support.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <random>

namespace qbtest {

std::string ReadFile(const TPathArg& Path) {
  std::ifstream In(Path.Path(), std::ios::binary);
  if (!In.is_open()) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

void WriteFile(const TPathArg& Path, const TBytesArg& Content) {
  std::ofstream Out(Path.Path(), std::ios::binary | std::ios::trunc);
  Out.write(Content.Data(), static_cast<std::streamsize>(Content.Size()));
  Out.close();
  if (!Out) ADD_FAILURE() << "cannot write " << Utf8Of(Path.Path());
}

namespace {

// The system's temporary folder as it was when the first scratch folder was
// made: tests that change TMP or TMPDIR do not move later ones.
const fsys::path& TemporaryFolder() {
  static const fsys::path Folder = fsys::temp_directory_path();
  return Folder;
}

// Gives every entry below Root (not following links) its owner's rights
// back, so that a test that took them away (or left a read-only file on
// Windows) does not keep its scratch folder from going.
void RestoreOwnerRights(const fsys::path& Root) {
  std::error_code Error;
  fsys::permissions(Root, fsys::perms::owner_all, fsys::perm_options::add, Error);
  for (auto It = fsys::recursive_directory_iterator(Root, Error); !Error && It != fsys::recursive_directory_iterator();
       It.increment(Error)) {
    std::error_code Ignored;
    if (!It->is_symlink(Ignored))
      fsys::permissions(It->path(), fsys::perms::owner_all, fsys::perm_options::add, Ignored);
  }
}

// The links MakeFolderLink and MakeFileLink made that are still there.
std::vector<std::string>& MadeLinks() {
  static std::vector<std::string> Links;
  return Links;
}

}  // namespace

void RememberTestLink(const std::string& Link) { MadeLinks().push_back(Link); }

TScratchFolder::TScratchFolder() {
  static std::atomic<int> Counter{0};
  const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::mt19937_64 Random(std::random_device{}() ^
                         static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::string Name = std::string("qb_") + (Info ? Info->test_suite_name() : "x") + "_" + (Info ? Info->name() : "x") +
                     "_" + std::to_string(Counter++) + "_" + std::to_string(Random() % 1000000000);
  // Parameterised tests carry "/" in their names; keep the folder flat.
  for (char& C : Name)
    if (C == '/' || C == '\\') C = '_';
  FRoot = TemporaryFolder() / Name;
  fsys::create_directories(FRoot);
}

TScratchFolder::~TScratchFolder() {
  const std::string Inside = Utf8Of(FRoot / "");
  std::vector<std::string>& Links = MadeLinks();
  for (auto It = Links.begin(); It != Links.end();) {
    if (It->compare(0, Inside.size(), Inside) == 0) {
      RemoveTestLink(*It);
      It = Links.erase(It);
    } else {
      ++It;
    }
  }
  RestoreOwnerRights(FRoot);
  RemoveTree(FRoot);
}

std::string TScratchFolder::Folder(const std::string& Name) const {
  const fsys::path Made = FRoot / U8(Name);
  fsys::create_directories(Made);
  return Utf8Of(Made) + std::string(1, fsys::path::preferred_separator);
}

std::set<std::string> Names(const fsys::path& Folder) {
  std::set<std::string> Result;
  std::error_code Error;
  for (fsys::directory_iterator It(Folder, Error), End; !Error && It != End; It.increment(Error))
    Result.insert(It->path().filename().u8string());
  return Result;
}

std::string PatternBytes(size_t N, unsigned Seed) {
  std::string Bytes(N, '\0');
  uint32_t X = 2463534242u ^ Seed;
  for (size_t I = 0; I < N; ++I) {
    X ^= X << 13;
    X ^= X >> 17;
    X ^= X << 5;
    Bytes[I] = static_cast<char>(X & 0xFF);
  }
  return Bytes;
}

TEnvironmentGuard::TEnvironmentGuard(std::initializer_list<const char*> Names) {
  for (const char* Name : Names) {
    TSaved Saved{Name, false, std::string()};
    Saved.Set = GetEnv(Name, Saved.Value);
    FSaved.push_back(Saved);
  }
}

TEnvironmentGuard::~TEnvironmentGuard() {
  // Names are case-blind on Windows: every saved name goes first, then the
  // saved values come back.
  for (const TSaved& Saved : FSaved) UnsetEnv(Saved.Name);
  for (const TSaved& Saved : FSaved)
    if (Saved.Set) SetEnv(Saved.Name, Saved.Value);
}

}  // namespace qbtest
