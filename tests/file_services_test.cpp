// Folder and file services: existence tests, single creations and
// deletions, folder creation along a path, tree deletion (links included),
// enumeration with its mask, the temporary and current folders, path
// expansion and RenameReplace. The same cases run on POSIX and on
// Windows (under Wine); the few that only one platform can express say so.
#include "fs/file_services.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fs/entry_status.h"
#include "fs/path_text.h"
#include "runtime/exceptions.h"
#include "tests/test_support.h"

using qbtest::ReadFile;
using qbtest::TScratchFolder;
using qbtest::U8;
using qbtest::WriteFile;
namespace fsys = qbtest::fsys;

namespace {

const std::string Sep(1, PathSeparator);

// Non-ASCII names used end to end.
const std::string Donnees =
    "Donn\xC3\xA9"
    "es";
const std::string Nihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
const std::string UeTxt = "\xC3\xBC.txt";

std::string RootOf(const TScratchFolder& Dir) { return qbtest::Utf8Of(Dir.Root()); }

// Joins names with the system separator.
std::string Join(const std::string& A, const std::string& B) { return A + Sep + B; }

bool ExistsOnDisk(const std::string& Path) {
  std::error_code Ec;
  return fsys::exists(fsys::symlink_status(U8(Path), Ec));
}

// Makes the folder current for the lifetime of the object.
class CurrentFolderGuard {
 public:
  explicit CurrentFolderGuard(const std::string& Path) : FSaved(qbtest::CurrentFolder()) {
    FOk = qbtest::SetCurrentFolder(Path);
  }
  ~CurrentFolderGuard() { qbtest::SetCurrentFolder(FSaved); }
  bool Ok() const { return FOk; }

 private:
  std::string FSaved;
  bool FOk;
};

// Names and attribute words of everything an enumeration reports.
std::map<std::string, uint32_t> ListEntries(const std::string& Pattern, uint32_t Mask, int* LastCode = nullptr) {
  std::map<std::string, uint32_t> Entries;
  TSearchRecord Record;
  int Code = FindFirstEntry(Pattern, Mask, Record);
  while (Code == 0) {
    Entries[Record.Name] = Record.Attributes;
    Code = FindNextEntry(Record);
  }
  FindEnd(Record);
  if (LastCode != nullptr) *LastCode = Code;
  return Entries;
}

std::set<std::string> NamesOf(const std::map<std::string, uint32_t>& Entries) {
  std::set<std::string> Names;
  for (const auto& E : Entries) Names.insert(E.first);
  return Names;
}

}  // namespace

// ---- existence tests ----

TEST(ExistenceTests, FileExistsOnlyForFiles) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  WriteFile(Join(Root, "f.txt"), "x");
  EXPECT_TRUE(FileExists(Join(Root, "f.txt")));
  EXPECT_FALSE(FileExists(Root));
  EXPECT_FALSE(FileExists(Root + Sep));
  EXPECT_FALSE(FileExists(Join(Root, "missing.txt")));
  EXPECT_FALSE(FileExists(Join(Root, "missing") + Sep + "f.txt"));
  EXPECT_FALSE(FileExists(""));
}

TEST(ExistenceTests, FolderExistsOnlyForFolders) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  WriteFile(Join(Root, "f.txt"), "x");
  EXPECT_TRUE(FolderExists(Root));
  EXPECT_TRUE(FolderExists(Root + Sep));
  EXPECT_FALSE(FolderExists(Join(Root, "f.txt")));
  EXPECT_FALSE(FolderExists(Join(Root, "missing")));
  EXPECT_FALSE(FolderExists(""));
}

TEST(ExistenceTests, HiddenReadOnlyAndSystemFilesExist) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  const std::string Hidden = Join(Root, ".hidden"), ReadOnly = Join(Root, "ro.txt"), System = Join(Root, "sys.txt");
  WriteFile(Hidden, "h");
  WriteFile(ReadOnly, "r");
  WriteFile(System, "s");
  qbtest::SetHidden(Hidden);
  ASSERT_TRUE(qbtest::SetReadOnly(ReadOnly, true));
  qbtest::SetSystem(System);
  EXPECT_TRUE(FileExists(Hidden));
  EXPECT_TRUE(FileExists(ReadOnly));
  EXPECT_TRUE(FileExists(System));
  qbtest::SetReadOnly(ReadOnly, false);
}

TEST(ExistenceTests, NamesOutsideAscii) {
  TScratchFolder Dir;
  const std::string Folder = Join(RootOf(Dir), Donnees);
  fsys::create_directories(U8(Join(Folder, Nihongo)));
  WriteFile(Join(Join(Folder, Nihongo), UeTxt), "u");
  EXPECT_TRUE(FolderExists(Folder));
  EXPECT_TRUE(FolderExists(Join(Folder, Nihongo)));
  EXPECT_TRUE(FileExists(Join(Join(Folder, Nihongo), UeTxt)));
  EXPECT_FALSE(FileExists(Join(Folder, UeTxt)));
}

// ---- single creations and deletions ----

TEST(SingleOperations, RemoveFileDeletesOneFileOnly) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  WriteFile(Join(Root, UeTxt), "x");
  fsys::create_directory(U8(Join(Root, "sub")));
  EXPECT_TRUE(RemoveFile(Join(Root, UeTxt)));
  EXPECT_FALSE(ExistsOnDisk(Join(Root, UeTxt)));
  EXPECT_FALSE(RemoveFile(Join(Root, UeTxt)));
  EXPECT_FALSE(RemoveFile(Join(Root, "sub")));  // never a folder
  EXPECT_TRUE(ExistsOnDisk(Join(Root, "sub")));
}

TEST(SingleOperations, CreateFolderMakesOneLevel) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  EXPECT_TRUE(CreateFolder(Join(Root, Nihongo)));
  EXPECT_TRUE(fsys::is_directory(U8(Join(Root, Nihongo))));
  EXPECT_FALSE(CreateFolder(Join(Root, Nihongo)));  // already there
  EXPECT_FALSE(CreateFolder(Join(Join(Root, "no"), "parent")));
  EXPECT_FALSE(ExistsOnDisk(Join(Root, "no")));
}

TEST(SingleOperations, RemoveFolderOnlyWhenEmpty) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  fsys::create_directories(U8(Join(Join(Root, "full"), "inner")));
  fsys::create_directory(U8(Join(Root, Donnees)));
  EXPECT_FALSE(RemoveFolder(Join(Root, "full")));
  EXPECT_TRUE(ExistsOnDisk(Join(Join(Root, "full"), "inner")));
  EXPECT_TRUE(RemoveFolder(Join(Root, Donnees)));
  EXPECT_FALSE(ExistsOnDisk(Join(Root, Donnees)));
  EXPECT_FALSE(RemoveFolder(Join(Root, Donnees)));
}

// On Windows a read-only file cannot be deleted; on POSIX the equivalent is
// a file in a folder that may not be written.
TEST(SingleOperations, ProtectedFileIsNotRemoved) {
  TScratchFolder Dir;
  const std::string Folder = Join(RootOf(Dir), "locked");
  fsys::create_directory(U8(Folder));
  const std::string File = Join(Folder, "ro.txt");
  WriteFile(File, "keep");
  const std::string Protected = qbtest::IsWindowsBuild() ? File : Folder;
  qbtest::RunUnprivileged(Dir, [&] {
    ASSERT_TRUE(qbtest::SetReadOnly(Protected, true));
    EXPECT_FALSE(RemoveFile(File));
    EXPECT_EQ(ReadFile(File), "keep");
    qbtest::SetReadOnly(Protected, false);
  });
}

// A folder that may not be written stops the creation of folders in it.
TEST(SingleOperations, FolderCannotBeCreatedInAProtectedFolder) {
  if (!qbtest::PermissionBitsApply()) GTEST_SKIP() << "no permission bits here";
  TScratchFolder Dir;
  const std::string Locked = Join(RootOf(Dir), "locked");
  fsys::create_directory(U8(Locked));
  qbtest::RunUnprivileged(Dir, [&] {
    ASSERT_TRUE(qbtest::SetReadOnly(Locked, true));
    EXPECT_FALSE(CreateFolder(Join(Locked, "new")));
    bool Result = true;
    EXPECT_NO_THROW(Result = ForceFolders(Join(Join(Locked, "a"), "b") + Sep));
    EXPECT_FALSE(Result);
    EXPECT_FALSE(ForceFolderPath(Join(Join(Locked, "c"), "d")));
    qbtest::SetReadOnly(Locked, false);
    EXPECT_TRUE(fsys::is_empty(U8(Locked)));
  });
}

// ---- ForceFolders ----

TEST(ForceFolders, CreatesEveryMissingLevel) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  fsys::create_directory(U8(Join(Root, "a")));
  const std::string Deep = Join(Join(Join(Root, "a"), "b"), "c") + Sep;
  EXPECT_TRUE(ForceFolders(Deep));
  EXPECT_TRUE(fsys::is_directory(U8(Join(Join(Join(Root, "a"), "b"), "c"))));
}

TEST(ForceFolders, ExistingFolderIsTrueAndCreatesNothing) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  EXPECT_TRUE(ForceFolders(Root));
  EXPECT_TRUE(ForceFolders(Root + Sep));
  EXPECT_TRUE(fsys::is_empty(Dir.Root()));
}

TEST(ForceFolders, BothSeparatorsCount) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  EXPECT_TRUE(ForceFolders(Root + "/x\\y/z"));
  EXPECT_TRUE(FolderExists(Join(Join(Join(Root, "x"), "y"), "z")));
}

TEST(ForceFolders, FileInTheWayGivesFalseAndCreatesNothingBeyond) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  fsys::create_directory(U8(Join(Root, "a")));
  WriteFile(Join(Join(Root, "a"), "b"), "file");
  EXPECT_FALSE(ForceFolders(Join(Join(Join(Root, "a"), "b"), "c") + Sep));
  EXPECT_EQ(ReadFile(Join(Join(Root, "a"), "b")), "file");
  EXPECT_EQ(std::distance(fsys::directory_iterator(U8(Join(Root, "a"))), fsys::directory_iterator()), 1);
}

TEST(ForceFolders, EmptyPathRaisesInOutError) {
  try {
    ForceFolders("");
    FAIL() << "no failure raised";
  } catch (const EInOutError& E) {
    EXPECT_STREQ(E.ClassName(), "EInOutError");
    EXPECT_EQ(E.Message(), "Cannot create empty directory");
    EXPECT_EQ(E.ErrorCode, 3);
  }
}

TEST(ForceFolders, MissingDriveGivesFalseWithoutRaising) {
  if (FolderExists("R:\\")) GTEST_SKIP() << "drive R: exists here";
  bool Result = true;
  EXPECT_NO_THROW(Result = ForceFolders("R:\\qb_never\\x\\"));
  EXPECT_FALSE(Result);
  EXPECT_FALSE(FolderExists("R:"));
}

TEST(ForceFolders, ForwardSlashShareRefusedWhenOnlyBackslashSharesCount) {
  EXPECT_FALSE(ForceFolders("//qb-no-such-server/share/x/", true));
  EXPECT_FALSE(FolderExists("/qb-no-such-server"));
}

TEST(ForceFolders, RelativePathsStartAtTheCurrentFolder) {
  TScratchFolder Dir;
  CurrentFolderGuard Here(RootOf(Dir));
  ASSERT_TRUE(Here.Ok());
  EXPECT_TRUE(ForceFolders("rel\\" + Donnees + "/" + Nihongo));
  EXPECT_TRUE(fsys::is_directory(U8(Join(Join(Join(RootOf(Dir), "rel"), Donnees), Nihongo))));
}

// ---- ForceFolderPath ----

TEST(ForceFolderPath, CreatesEachFolderAlongThePath) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  EXPECT_TRUE(ForceFolderPath(Join(Join(Root, "a"), "b")));
  EXPECT_TRUE(fsys::is_directory(U8(Join(Join(Root, "a"), "b"))));
  EXPECT_TRUE(ForceFolderPath(Join(Join(Root, Donnees), Nihongo) + Sep + Sep));
  EXPECT_TRUE(fsys::is_directory(U8(Join(Join(Root, Donnees), Nihongo))));
}

TEST(ForceFolderPath, ExistingAndEmptyPathsAreTrue) {
  TScratchFolder Dir;
  EXPECT_TRUE(ForceFolderPath(RootOf(Dir)));
  EXPECT_TRUE(ForceFolderPath(""));
  EXPECT_TRUE(fsys::is_empty(Dir.Root()));
}

TEST(ForceFolderPath, FileInTheWayGivesFalse) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  WriteFile(Join(Root, "f"), "file");
  EXPECT_FALSE(ForceFolderPath(Join(Join(Root, "f"), "g")));
  EXPECT_EQ(ReadFile(Join(Root, "f")), "file");
}

TEST(ForceFolderPath, RelativePathsStartAtTheCurrentFolder) {
  TScratchFolder Dir;
  CurrentFolderGuard Here(RootOf(Dir));
  ASSERT_TRUE(Here.Ok());
  EXPECT_TRUE(ForceFolderPath("p\\q/r"));
  EXPECT_TRUE(fsys::is_directory(U8(Join(Join(Join(RootOf(Dir), "p"), "q"), "r"))));
}

TEST(ForceFolderPath, LeadingSeparatorWithoutDriveFailsOnWindows) {
  if (!qbtest::IsWindowsBuild()) GTEST_SKIP() << "on POSIX a leading separator is the root folder";
  EXPECT_FALSE(ForceFolderPath("\\qb_never_created\\x"));
  EXPECT_FALSE(FolderExists("\\qb_never_created"));
}

// ---- DeleteFolderTree ----

namespace {
// What the platform let BuildTree mark.
struct TTreeFacts {
  bool SubHidden = false;  // "sub" carries the hidden attribute
  bool SysSystem = false;  // "sys.txt" carries the system attribute
};

// F/{a.txt, .hidden, sys.txt, sub/{b.txt, deeper/c.txt}, Données/ü.txt}
TTreeFacts BuildTree(const std::string& F) {
  fsys::create_directories(U8(Join(Join(F, "sub"), "deeper")));
  fsys::create_directories(U8(Join(F, Donnees)));
  WriteFile(Join(F, "a.txt"), "a");
  WriteFile(Join(F, ".hidden"), "h");
  WriteFile(Join(F, "sys.txt"), "s");
  WriteFile(Join(Join(F, "sub"), "b.txt"), "b");
  WriteFile(Join(Join(Join(F, "sub"), "deeper"), "c.txt"), "c");
  WriteFile(Join(Join(F, Donnees), UeTxt), "u");
  qbtest::SetHidden(Join(F, ".hidden"));
  TTreeFacts Facts;
  Facts.SubHidden = qbtest::SetHidden(Join(F, "sub"));
  Facts.SysSystem = qbtest::SetSystem(Join(F, "sys.txt"));
  return Facts;
}
}  // namespace

TEST(DeleteFolderTree, RemovesTheWholeTree) {
  TScratchFolder Dir;
  const std::string F = Join(RootOf(Dir), "F");
  BuildTree(F);
  EXPECT_TRUE(DeleteFolderTree(F, false));
  EXPECT_FALSE(ExistsOnDisk(F));
  EXPECT_TRUE(fsys::is_empty(Dir.Root()));
}

TEST(DeleteFolderTree, OnlyChildrenLeavesTheFolderEmpty) {
  TScratchFolder Dir;
  const std::string F = Join(RootOf(Dir), Nihongo);
  BuildTree(F);
  EXPECT_TRUE(DeleteFolderTree(F + Sep, true));
  EXPECT_TRUE(fsys::is_directory(U8(F)));
  EXPECT_TRUE(fsys::is_empty(U8(F)));
}

TEST(DeleteFolderTree, MissingFolder) {
  TScratchFolder Dir;
  const std::string F = Join(RootOf(Dir), "missing");
  EXPECT_FALSE(DeleteFolderTree(F, false));
  EXPECT_TRUE(DeleteFolderTree(F, true));
  EXPECT_FALSE(ExistsOnDisk(F));
}

TEST(DeleteFolderTree, PathIsTrimmedExpandedAndCleaned) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  fsys::create_directory(U8(Join(Root, "x")));
  BuildTree(Join(Root, "y"));
  EXPECT_TRUE(DeleteFolderTree("  " + Root + "/x\\..\\y/  ", false));
  EXPECT_FALSE(ExistsOnDisk(Join(Root, "y")));
  EXPECT_TRUE(fsys::is_directory(U8(Join(Root, "x"))));
}

TEST(DeleteFolderTree, RelativeToTheCurrentFolder) {
  TScratchFolder Dir;
  BuildTree(Join(RootOf(Dir), "rel"));
  CurrentFolderGuard Here(RootOf(Dir));
  ASSERT_TRUE(Here.Ok());
  EXPECT_TRUE(DeleteFolderTree("rel", false));
  EXPECT_FALSE(ExistsOnDisk(Join(RootOf(Dir), "rel")));
}

TEST(DeleteFolderTree, RelativePathIsRefusedWhenTheCurrentFolderIsGone) {
  if (qbtest::IsWindowsBuild()) GTEST_SKIP() << "Windows keeps the current folder from being deleted";
  TScratchFolder Dir;
  const std::string Gone = Join(RootOf(Dir), "gone");
  fsys::create_directory(U8(Gone));
  CurrentFolderGuard Here(Gone);
  ASSERT_TRUE(Here.Ok());
  fsys::remove(U8(Gone));
  ASSERT_EQ(GetCurrentFolder(), "");
  // Expanded from no base, the name would stand for a folder at the root,
  // which a missing folder with OnlyChildren would report as done.
  EXPECT_FALSE(DeleteFolderTree("qb_never_at_the_root", true));
  EXPECT_FALSE(DeleteFolderTree("qb_never_at_the_root", false));
}

TEST(DeleteFolderTree, EmptyPathIsRefused) {
  TScratchFolder Dir;
  WriteFile(Join(RootOf(Dir), "keep.txt"), "k");
  CurrentFolderGuard Here(RootOf(Dir));
  ASSERT_TRUE(Here.Ok());
  EXPECT_FALSE(DeleteFolderTree("", true));
  EXPECT_FALSE(DeleteFolderTree("   ", false));
  EXPECT_EQ(ReadFile(Join(RootOf(Dir), "keep.txt")), "k");
}

TEST(DeleteFolderTree, LongPathPrefixIsUsedAsItStands) {
  if (!qbtest::IsWindowsBuild()) GTEST_SKIP() << "the \\\\?\\ prefix exists on Windows only";
  TScratchFolder Dir;
  const std::string F = Join(RootOf(Dir), "long");
  BuildTree(F);
  EXPECT_TRUE(DeleteFolderTree("\\\\?\\" + NormalizeSeparators(F) + "\\", false));
  EXPECT_FALSE(ExistsOnDisk(F));
}

// A read-only file deep inside (Windows), or a folder deep inside that may
// not be written (POSIX): the deletion stops there with false.
TEST(DeleteFolderTree, ProtectedEntryDeepInsideStopsTheDeletion) {
  TScratchFolder Dir;
  const std::string F = Join(RootOf(Dir), "F");
  const std::string Deep = Join(Join(F, "d1"), "d2");
  fsys::create_directories(U8(Deep));
  WriteFile(Join(F, "top.txt"), "t");
  WriteFile(Join(Deep, "ro.txt"), "keep");
  const std::string Protected = qbtest::IsWindowsBuild() ? Join(Deep, "ro.txt") : Deep;
  qbtest::RunUnprivileged(Dir, [&] {
    ASSERT_TRUE(qbtest::SetReadOnly(Protected, true));
    EXPECT_FALSE(DeleteFolderTree(F, false));
    EXPECT_EQ(ReadFile(Join(Deep, "ro.txt")), "keep");
    EXPECT_TRUE(fsys::is_directory(U8(Deep)));
    EXPECT_TRUE(fsys::is_directory(U8(F)));
    qbtest::SetReadOnly(Protected, false);
    EXPECT_TRUE(DeleteFolderTree(F, false));
  });
}

// Under Wine the links are Unix links, which Wine shows as folder links but
// cannot remove: there the check is that nothing outside is touched.
TEST(DeleteFolderTree, LinkToAFolderOutsideIsRemovedNotEntered) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  const std::string Outside = Join(Root, "outside"), F = Join(Root, "F");
  fsys::create_directories(U8(Join(Outside, "inner")));
  WriteFile(Join(Outside, "precious.txt"), "p");
  WriteFile(Join(Join(Outside, "inner"), "deep.txt"), "d");
  BuildTree(F);
  const std::string Link = Join(Join(F, "sub"), "link");
  std::string Why;
  if (!qbtest::MakeFolderLink(Outside, Link, Why)) GTEST_SKIP() << Why;
  ASSERT_TRUE(EntryStatus(Link).Link);
  const bool Result = DeleteFolderTree(F, false);
  EXPECT_EQ(ReadFile(Join(Outside, "precious.txt")), "p");
  EXPECT_EQ(ReadFile(Join(Join(Outside, "inner"), "deep.txt")), "d");
  if (qbtest::IsWine()) {
    EXPECT_FALSE(Result);
    EXPECT_TRUE(EntryStatus(Link).Link);
  } else {
    EXPECT_TRUE(Result);
    EXPECT_FALSE(ExistsOnDisk(F));
  }
}

TEST(DeleteFolderTree, LinkToAFileOutsideIsRemovedNotItsTarget) {
  if (qbtest::IsWine())
    GTEST_SKIP() << "Wine shows a Unix link to a file as a plain file and deletes its target through it";
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  const std::string Target = Join(Root, "target.txt"), F = Join(Root, "F");
  WriteFile(Target, "t");
  fsys::create_directory(U8(F));
  std::string Why;
  if (!qbtest::MakeFileLink(Target, Join(F, "file-link"), Why)) GTEST_SKIP() << Why;
  EXPECT_TRUE(DeleteFolderTree(F, true));
  EXPECT_TRUE(fsys::is_empty(U8(F)));
  EXPECT_EQ(ReadFile(Target), "t");
}

TEST(DeleteFolderTree, DanglingLinkIsRemoved) {
  TScratchFolder Dir;
  const std::string F = Join(RootOf(Dir), "F");
  fsys::create_directory(U8(F));
  std::string Why;
  if (!qbtest::MakeFolderLink(Join(RootOf(Dir), "gone"), Join(F, "dangling"), Why)) GTEST_SKIP() << Why;
  ASSERT_TRUE(EntryStatus(Join(F, "dangling")).Link);
  EXPECT_TRUE(DeleteFolderTree(F, false));
  EXPECT_FALSE(ExistsOnDisk(F));
}

TEST(DeleteFolderTree, FolderThatIsALinkIsNeverEntered) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  const std::string Outside = Join(Root, "outside"), Link = Join(Root, "link");
  BuildTree(Outside);
  std::string Why;
  if (!qbtest::MakeFolderLink(Outside, Link, Why)) GTEST_SKIP() << Why;

  // Only its children were asked for: they lie outside, so nothing goes.
  EXPECT_FALSE(DeleteFolderTree(Link + Sep, true));
  EXPECT_TRUE(EntryStatus(Link).Link);
  EXPECT_EQ(ReadFile(Join(Outside, "a.txt")), "a");

  // The folder itself was asked for: the link goes, its target stays.
  const bool Result = DeleteFolderTree(Link, false);
  EXPECT_EQ(ReadFile(Join(Outside, "a.txt")), "a");
  EXPECT_EQ(ReadFile(Join(Join(Join(Outside, "sub"), "deeper"), "c.txt")), "c");
  if (qbtest::IsWine()) {
    EXPECT_FALSE(Result);  // Wine cannot remove a Unix link to a folder
  } else {
    EXPECT_TRUE(Result);
    EXPECT_FALSE(ExistsOnDisk(Link));
  }
}

// ---- enumeration ----

TEST(Enumeration, AnyEntryMaskReportsEverything) {
  TScratchFolder Dir;
  const std::string F = Join(RootOf(Dir), "F");
  BuildTree(F);
  int Last = 0;
  auto Entries = ListEntries(Join(F, "*.*"), faAnyFile, &Last);
  EXPECT_EQ(Last, NoMoreEntriesError);
  EXPECT_EQ(NamesOf(Entries), (std::set<std::string>{".", "..", "a.txt", ".hidden", "sys.txt", "sub", Donnees}));
  EXPECT_NE(Entries["."] & faDirectory, 0u);
  EXPECT_NE(Entries[".."] & faDirectory, 0u);
  EXPECT_EQ(Entries["."] & faHidden, 0u);
  EXPECT_NE(Entries["sub"] & faDirectory, 0u);
  EXPECT_NE(Entries[Donnees] & faDirectory, 0u);
  EXPECT_NE(Entries[".hidden"] & faHidden, 0u);
  EXPECT_EQ(Entries["a.txt"] & (faDirectory | faHidden), 0u);
}

TEST(Enumeration, MaskWithoutHiddenOrFolderBitsExcludesThem) {
  TScratchFolder Dir;
  const std::string F = Join(RootOf(Dir), "F");
  const TTreeFacts Facts = BuildTree(F);
  WriteFile(Join(F, "ro.txt"), "r");
  ASSERT_TRUE(qbtest::SetReadOnly(Join(F, "ro.txt"), true));
  std::set<std::string> Files = {"a.txt", "ro.txt"};
  if (!Facts.SysSystem) Files.insert("sys.txt");  // no system bit on this platform

  auto Plain = ListEntries(Join(F, "*.*"), faReadOnly | faArchive);
  EXPECT_EQ(NamesOf(Plain), Files);
  EXPECT_NE(Plain["ro.txt"] & faReadOnly, 0u);  // read-only never excludes

  auto WithFolders = ListEntries(Join(F, "*.*"), faDirectory);
  std::set<std::string> Expected = Files;
  Expected.insert({".", "..", Donnees});
  if (!Facts.SubHidden) Expected.insert("sub");
  EXPECT_EQ(NamesOf(WithFolders), Expected);

  auto WithHidden = ListEntries(Join(F, "*.*"), faHidden);
  EXPECT_EQ(WithHidden.count(".hidden"), 1u);
  EXPECT_EQ(WithHidden.count("sub"), 0u);
  EXPECT_EQ(WithHidden.count("."), 0u);
  qbtest::SetReadOnly(Join(F, "ro.txt"), false);
}

TEST(Enumeration, WildcardsMatchTheNamePart) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  for (const char* Name : {"a.txt", "b.txt", "c.dat", "noext", "ab.dat"}) WriteFile(Join(Root, Name), "x");
  EXPECT_EQ(NamesOf(ListEntries(Join(Root, "*.txt"), 0)), (std::set<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(NamesOf(ListEntries(Join(Root, "?.dat"), 0)), (std::set<std::string>{"c.dat"}));
  EXPECT_EQ(NamesOf(ListEntries(Join(Root, "*.*"), 0)),
            (std::set<std::string>{"a.txt", "b.txt", "c.dat", "noext", "ab.dat"}));
  EXPECT_EQ(NamesOf(ListEntries(Join(Root, "noext"), 0)), (std::set<std::string>{"noext"}));
}

TEST(Enumeration, OnlyStarAndQuestionMarkAreWildcards) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  for (const std::string& Name : {std::string("a[1].txt"), std::string("a1.txt"), UeTxt, std::string("v.txt")})
    WriteFile(Join(Root, Name), "x");
  // Brackets stand for themselves; "?" is one character, also outside ASCII.
  EXPECT_EQ(NamesOf(ListEntries(Join(Root, "a[1].txt"), 0)), (std::set<std::string>{"a[1].txt"}));
  EXPECT_EQ(NamesOf(ListEntries(Join(Root, "a[*"), 0)), (std::set<std::string>{"a[1].txt"}));
  EXPECT_EQ(NamesOf(ListEntries(Join(Root, "?.txt"), 0)), (std::set<std::string>{UeTxt, "v.txt"}));
  EXPECT_EQ(NamesOf(ListEntries(Join(Root, "*1*.t?t"), 0)), (std::set<std::string>{"a[1].txt", "a1.txt"}));
}

TEST(Enumeration, RecordDescribesTheEntry) {
  TScratchFolder Dir;
  const std::string File = Join(RootOf(Dir), UeTxt);
  WriteFile(File, std::string(5000, 'z'));
  ASSERT_TRUE(qbtest::SetModTime(File, {2021, 6, 15, 13, 45, 30}));
  TSearchRecord Record;
  ASSERT_EQ(FindFirstEntry(File, faAnyFile, Record), 0);
  EXPECT_EQ(Record.Name, UeTxt);
  EXPECT_EQ(Record.Size, 5000);
  EXPECT_EQ(Record.Attributes & (faDirectory | faHidden | faReadOnly), 0u);
  // 2021-06-15 13:45:30 in local time, as a DOS date-time.
  EXPECT_EQ(Record.ModTime, 0x52CF6DAFu);
  EXPECT_NE(Record.Handle, -1);
  EXPECT_EQ(FindNextEntry(Record), NoMoreEntriesError);
  FindEnd(Record);
  EXPECT_EQ(Record.Handle, -1);
  FindEnd(Record);  // a second close does nothing
  EXPECT_EQ(Record.Handle, -1);
}

TEST(Enumeration, FailuresGiveTheSystemCode) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  TSearchRecord Record;
  EXPECT_NE(FindFirstEntry(Join(Join(Root, "missing"), "*.*"), faAnyFile, Record), 0);
  EXPECT_EQ(Record.Handle, -1);
  FindEnd(Record);  // harmless after a failed start
  EXPECT_NE(FindFirstEntry(Join(Root, "*.nothing"), faAnyFile, Record), 0);
  FindEnd(Record);

  // Entries exist but all are excluded: the search runs out.
  fsys::create_directory(U8(Join(Root, "only-folder")));
  EXPECT_EQ(FindFirstEntry(Join(Root, "*.*"), 0, Record), NoMoreEntriesError);
  FindEnd(Record);
  EXPECT_EQ(Record.Handle, -1);
}

// ---- the temporary folder ----

namespace {
// Saves TEMP and TMP (and their lower-case spellings, which are the same
// variables on Windows), unsets them and puts them back at the end.
class EnvironmentGuard {
 public:
  EnvironmentGuard() {
    for (const char* Name : {"TEMP", "TMP", "temp", "tmp"}) qbtest::UnsetEnv(Name);
  }

 private:
  qbtest::TEnvironmentGuard FSaved{"TEMP", "TMP", "temp", "tmp"};
};
}  // namespace

// An absolute folder of this platform: "D:\\t" on Windows, "/d/t" on POSIX.
std::string Absolute(const std::string& Drive, const std::string& Rest) {
  return qbtest::IsWindowsBuild() ? Drive + ":\\" + Rest : "/" + Drive + "/" + Rest;
}

TEST(TempFolder, TempWinsOverTmpAndGetsASeparator) {
  const struct {
    const char* What;
    std::vector<std::pair<const char*, std::string>> Set;
    std::string Expected;
  } Cases[] = {
      {"both set", {{"TEMP", Absolute("D", "t")}, {"TMP", Absolute("E", "other")}}, Absolute("D", "t") + Sep},
      {"a trailing backslash is kept", {{"TEMP", Absolute("C", "Temp\\")}}, Absolute("C", "Temp\\")},
      {"a trailing slash is kept", {{"TEMP", Absolute("C", "Temp/")}}, Absolute("C", "Temp/")},
      {"an empty TEMP falls back to TMP", {{"TEMP", ""}, {"TMP", Absolute("D", "t")}}, Absolute("D", "t") + Sep},
      {"an unset TEMP falls back to TMP", {{"TMP", Absolute("D", "t")}}, Absolute("D", "t") + Sep},
      {"neither set", {}, ""},
      {"only an empty TEMP", {{"TEMP", ""}}, ""},
      {"the name matched ignoring case", {{"temp", Absolute("l", "lower/case")}}, Absolute("l", "lower/case") + Sep},
      {"everything after the first equals", {{"TEMP", Absolute("C", "a=b=c")}}, Absolute("C", "a=b=c") + Sep},
      {"outside ASCII, as UTF-8", {{"TEMP", Absolute("C", Donnees)}}, Absolute("C", Donnees) + Sep},
      // The wide environment block carries it.
      {"outside any ANSI code page", {{"TEMP", Absolute("C", Nihongo)}}, Absolute("C", Nihongo) + Sep},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.What);
    EnvironmentGuard Guard;
    for (const auto& [Name, Value] : C.Set) qbtest::SetEnv(Name, Value);
    EXPECT_EQ(GetTempFolder(), C.Expected);
    EXPECT_EQ(GetTempFolder(true), GetTempFolder(false));
  }
}

TEST(TempFolder, RelativeValuesCountAsUnset) {
  EnvironmentGuard Guard;
  // A relative TEMP would put the work folder into the current folder.
  for (const char* Relative : {".", "./", "..", "scratch", "a\\b", "C:rel", "\\rooted"}) {
    if (!qbtest::IsWindowsBuild() && std::string(Relative) == "\\rooted") continue;
    SCOPED_TRACE(Relative);
    qbtest::SetEnv("TEMP", Relative);
    qbtest::SetEnv("TMP", Absolute("D", "t"));
    EXPECT_EQ(GetTempFolder(), Absolute("D", "t") + Sep);
    qbtest::SetEnv("TMP", Relative);
    EXPECT_EQ(GetTempFolder(), "");
  }
}

namespace {
struct TLookup {
  std::string Result;
};
void LookUpTemp(void* Context) { static_cast<TLookup*>(Context)->Result = GetTempFolder(); }

std::string TempFolderWith(const std::vector<const char*>& Entries, bool& Supported) {
  std::vector<const char*> Block = Entries;
  Block.push_back(nullptr);
  TLookup Lookup;
  Supported = qbtest::WithEnvironment(Block.data(), LookUpTemp, &Lookup);
  return Lookup.Result;
}
}  // namespace

TEST(TempFolder, EnvironmentBlockRules) {
  bool Supported = false;
  std::string Result = TempFolderWith({"=TEMP=/bad/", "TEMP=/good/"}, Supported);
  if (!Supported) GTEST_SKIP() << "the environment block cannot be replaced on this platform";
  EXPECT_EQ(Result, "/good/");  // an empty name part never matches
  EXPECT_EQ(TempFolderWith({"=C:=C:\\x", "TEMPX=/no/", "TEM=/no/", "NOEQUALS", "TMP=/t"}, Supported), "/t" + Sep);
  EXPECT_EQ(TempFolderWith({"TeMp=/first/", "TEMP=/second/"}, Supported), "/first/");
  EXPECT_EQ(TempFolderWith({"TEMP=", "TMP=/t/"}, Supported), "/t/");
  EXPECT_EQ(TempFolderWith({"PATH=/bin"}, Supported), "");
}

// ---- the current folder ----

TEST(CurrentFolder, FollowsTheSystem) {
  TScratchFolder Dir;
  const std::string Folder = Join(RootOf(Dir), Donnees);
  fsys::create_directory(U8(Folder));
  CurrentFolderGuard Here(Folder);
  ASSERT_TRUE(Here.Ok());
  EXPECT_EQ(GetCurrentFolder(), qbtest::CurrentFolder());
  EXPECT_EQ(ExtractNamePart(GetCurrentFolder()), Donnees);
}

TEST(CurrentFolder, RootKeepsItsSeparator) {
  TScratchFolder Dir;
  const std::string Root = ExtractDrivePart(RootOf(Dir)) + Sep;  // "C:\" or "/"
  CurrentFolderGuard Here(Root);
  ASSERT_TRUE(Here.Ok());
  EXPECT_EQ(GetCurrentFolder(), Root);
}

// ---- path expansion ----

TEST(ExpandPath, AbsolutePathIsOnlyCleaned) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  EXPECT_EQ(ExpandPath(Root + "/a\\..\\b//c/./"), Join(Join(Root, "b"), "c") + Sep);
  EXPECT_EQ(ExpandPath(Root), Root);
}

TEST(ExpandPath, RelativePathStartsAtTheCurrentFolder) {
  TScratchFolder Dir;
  CurrentFolderGuard Here(RootOf(Dir));
  ASSERT_TRUE(Here.Ok());
  const std::string Cur = GetCurrentFolder();
  EXPECT_EQ(ExpandPath("x/../y\\" + UeTxt), Join(Join(Cur, "y"), UeTxt));
  EXPECT_EQ(ExpandPath("."), Cur + Sep);
  EXPECT_EQ(ExpandPath(".."), ExtractFolderPart(Cur));
}

TEST(ExpandPath, LongPathPrefixIsReturnedUnchanged) {
  EXPECT_EQ(ExpandPath("\\\\?\\C:\\a\\..\\b//c"), "\\\\?\\C:\\a\\..\\b//c");
}

TEST(ExpandPath, EmptyPathStaysEmpty) { EXPECT_EQ(ExpandPath(""), ""); }

TEST(ExpandPath, WindowsDriveRules) {
  if (!qbtest::IsWindowsBuild()) GTEST_SKIP() << "drives exist on Windows only";
  TScratchFolder Dir;
  CurrentFolderGuard Here(RootOf(Dir));
  ASSERT_TRUE(Here.Ok());
  const std::string Cur = GetCurrentFolder();
  // Rooted without drive: the drive of the current folder goes in front.
  EXPECT_EQ(ExpandPath("\\qb\\x\\..\\y"), Cur.substr(0, 2) + "\\qb\\y");
  EXPECT_EQ(ExpandPath("/qb/z"), Cur.substr(0, 2) + "\\qb\\z");
  // Network paths are absolute.
  EXPECT_EQ(ExpandPath("//srv/share/a/../b"), "\\\\srv\\share\\b");
  // Drive-relative: relative to that drive's current folder (the current
  // folder itself for the current drive, in either case of the letter).
  std::string Lower = Cur.substr(0, 1);
  Lower[0] = static_cast<char>(Lower[0] | 0x20);
  EXPECT_EQ(ExpandPath(Lower + ":sub\\f"), Join(Join(Cur, "sub"), "f"));
  EXPECT_EQ(qbtest::CurrentFolder(), Cur);  // the current folder is restored
  if (!FolderExists("R:\\")) {
    EXPECT_EQ(ExpandPath("R:x\\y"), "R:\\x\\y");
  }
}

TEST(ExpandPath, PosixHasNoDrives) {
  if (qbtest::IsWindowsBuild()) GTEST_SKIP() << "POSIX rules";
  TScratchFolder Dir;
  CurrentFolderGuard Here(RootOf(Dir));
  ASSERT_TRUE(Here.Ok());
  const std::string Cur = GetCurrentFolder();
  EXPECT_EQ(ExpandPath("C:x"), Join(Cur, "C:x"));
  EXPECT_EQ(ExpandPath("\\usr\\lib\\..\\bin"), "/usr/bin");
}

// ---- RenameReplace ----

TEST(RenameReplace, ReplacesAnExistingTarget) {
  TScratchFolder Dir;
  const std::string Root = RootOf(Dir);
  const std::string Source = Join(Root, UeTxt + ".tmp2"), Target = Join(Root, UeTxt);
  WriteFile(Source, "new contents");
  WriteFile(Target, "old");
  EXPECT_TRUE(RenameReplace(Source, Target));
  EXPECT_EQ(ReadFile(Target), "new contents");
  EXPECT_FALSE(ExistsOnDisk(Source));
}

TEST(RenameReplace, CreatesAMissingTarget) {
  TScratchFolder Dir;
  const std::string Source = Join(RootOf(Dir), "a.tmp"), Target = Join(RootOf(Dir), "a.zip");
  WriteFile(Source, "data");
  EXPECT_TRUE(RenameReplace(Source, Target));
  EXPECT_EQ(ReadFile(Target), "data");
}

TEST(RenameReplace, MissingSourceLeavesTheTarget) {
  TScratchFolder Dir;
  const std::string Target = Join(RootOf(Dir), "a.zip");
  WriteFile(Target, "keep");
  EXPECT_FALSE(RenameReplace(Join(RootOf(Dir), "missing.tmp"), Target));
  EXPECT_EQ(ReadFile(Target), "keep");
}

// ---- the pause ----

TEST(Pause, WaitsAtLeastTheGivenTime) {
  const auto Start = std::chrono::steady_clock::now();
  Pause(30);
  const auto Waited = std::chrono::steady_clock::now() - Start;
  EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Waited).count(), 25);
  Pause(0);
}
