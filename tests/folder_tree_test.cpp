// Tree deletion under pressure: trees deeper than the system's path limit,
// and a second process that swaps folders of the tree for links to someone
// else's files while the deletion runs.
#include <gtest/gtest.h>

#include <string>

#include "fs/file_services.h"
#include "fs/path_text.h"
#include "tests/test_support.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#endif

using qbtest::TScratchFolder;
using qbtest::U8;
namespace fsys = qbtest::fsys;

namespace {

const std::string Sep(1, PathSeparator);

// Levels of 20-character folders that pass the system's path limit: POSIX
// paths stop at 4,095 bytes; Windows paths at 260 characters without the
// "\\?\" form (and under Wine at the 4,095 bytes of the Unix side too).
#ifdef _WIN32
constexpr int DeepLevels = 40;
#else
constexpr int DeepLevels = 300;
#endif

TEST(FolderTree, TreeDeeperThanThePathLimitIsDeletedWhole) {
  TScratchFolder Dir;
  const std::string Root = qbtest::Utf8Of(Dir.Root()) + Sep + "deep";
  fsys::create_directory(U8(Root));
  ASSERT_TRUE(qbtest::MakeDeepTree(Root, DeepLevels, std::string(20, 'd')));
  EXPECT_TRUE(DeleteFolderTree(Root + Sep, false));
  EXPECT_FALSE(qbtest::EntryExists(qbtest::Utf8Of(Dir.Root()), "deep"));
}

TEST(FolderTree, OnlyChildrenOfADeepTreeLeavesTheFolder) {
  TScratchFolder Dir;
  const std::string Root = qbtest::Utf8Of(Dir.Root()) + Sep + "deep";
  fsys::create_directory(U8(Root));
  ASSERT_TRUE(qbtest::MakeDeepTree(Root, DeepLevels, std::string(20, 'e')));
  EXPECT_TRUE(DeleteFolderTree(Root, true));
  EXPECT_TRUE(fsys::is_directory(U8(Root)));
  EXPECT_TRUE(fsys::is_empty(U8(Root)));
}

// Windows refuses to delete a file that another program holds without
// sharing, POSIX deletes it: either way the answer says whether the tree
// went, and once the file is let go the tree goes whole.
TEST(FolderTree, FileHeldByAnotherProgramLeavesTheTreeOnlyWithFalse) {
  TScratchFolder Dir;
  const std::string Root = qbtest::Utf8Of(Dir.Root()) + Sep + "held";
  fsys::create_directories(U8(Root + Sep + "sub"));
  qbtest::WriteFile(Root + Sep + "a", "a");
  qbtest::WriteFile(Root + Sep + "sub" + Sep + "held", "h");
  const intptr_t Held = qbtest::HoldFile(Root + Sep + "sub" + Sep + "held");
  ASSERT_NE(Held, -1);
  const bool Deleted = DeleteFolderTree(Root, false);
  EXPECT_EQ(Deleted, !fsys::exists(U8(Root)));
  if (qbtest::IsWindowsBuild()) {
    EXPECT_FALSE(Deleted);
  }
  qbtest::ReleaseFile(Held);
  EXPECT_TRUE(Deleted || DeleteFolderTree(Root, false));
  EXPECT_FALSE(fsys::exists(U8(Root)));
}

#ifndef _WIN32

// Makes the tree: Folders sub-folders, each with Files files.
void MakeTree(const fsys::path& Tree, int Folders, int Files) {
  for (int F = 0; F < Folders; ++F) {
    const fsys::path Sub = Tree / ("sub" + std::to_string(F));
    fsys::create_directories(Sub / "inner");
    for (int I = 0; I < Files; ++I) qbtest::WriteFile(Sub / ("f" + std::to_string(I)), "x");
    qbtest::WriteFile(Sub / "inner" / "g", "y");
  }
}

// A second process that, until it is stopped, moves each sub-folder of Tree
// away and puts a link to Victim in its place, over and over.
pid_t StartSwapper(const fsys::path& Tree, const fsys::path& Victim, int Folders) {
  const pid_t Pid = fork();
  if (Pid != 0) return Pid;
  for (unsigned Round = 0;; ++Round) {
    for (int F = 0; F < Folders; ++F) {
      const std::string Sub = (Tree / ("sub" + std::to_string(F))).string();
      const std::string Away = Sub + ".away" + std::to_string(Round);
      if (rename(Sub.c_str(), Away.c_str()) == 0) {
        if (symlink(Victim.c_str(), Sub.c_str()) != 0) rename(Away.c_str(), Sub.c_str());
      } else {
        // Already a link, or deleted: put a link there while it is gone.
        symlink(Victim.c_str(), Sub.c_str());
      }
    }
  }
}

TEST(FolderTree, SwappingFoldersForLinksNeverReachesOutsideTheTree) {
  constexpr int Rounds = 60;
  constexpr int Folders = 8;
  constexpr int VictimFiles = 40;
  TScratchFolder Dir;
  const fsys::path Victim = Dir.Root() / "victim";
  fsys::create_directories(Victim / "deeper");
  for (int I = 0; I < VictimFiles; ++I) qbtest::WriteFile(Victim / ("doc" + std::to_string(I)), "precious");
  qbtest::WriteFile(Victim / "deeper" / "doc", "precious");

  for (int Round = 0; Round < Rounds; ++Round) {
    const fsys::path Tree = Dir.Root() / ("tree" + std::to_string(Round));
    MakeTree(Tree, Folders, 30);
    const pid_t Swapper = StartSwapper(Tree, Victim, Folders);
    ASSERT_GT(Swapper, 0);
    DeleteFolderTree(Tree.string() + Sep, false);
    kill(Swapper, SIGKILL);
    waitpid(Swapper, nullptr, 0);
    // Whatever the deletion managed, nothing of the victim's went.
    ASSERT_EQ(std::distance(fsys::directory_iterator(Victim), fsys::directory_iterator()), VictimFiles + 1)
        << "round " << Round;
    ASSERT_TRUE(fsys::exists(Victim / "deeper" / "doc")) << "round " << Round;
    std::error_code Error;
    fsys::remove_all(Tree, Error);
  }
}

TEST(FolderTree, FolderMovedOutOfTheTreeWhileEmptiedIsNotFollowedUp) {
  // A folder of the tree that is moved elsewhere during the deletion: the
  // way back up through ".." no longer leads into the tree, and the deletion
  // stops instead of deleting next to the place it was moved to.
  TScratchFolder Dir;
  const fsys::path Outside = Dir.Root() / "outside";
  fsys::create_directories(Outside);
  for (int I = 0; I < 20; ++I) qbtest::WriteFile(Outside / ("keep" + std::to_string(I)), "precious");
  for (int Round = 0; Round < 40; ++Round) {
    const fsys::path Tree = Dir.Root() / "tree";
    fsys::create_directories(Tree / "a");
    for (int I = 0; I < 2000; ++I) qbtest::WriteFile(Tree / "a" / ("f" + std::to_string(I)), "x");
    // The tree's own files carry the names of the outside ones: a deletion
    // that went on next to the moved folder would take those.
    for (int I = 0; I < 20; ++I) qbtest::WriteFile(Tree / ("keep" + std::to_string(I)), "tree's");
    const pid_t Mover = fork();
    if (Mover == 0) {
      for (;;) rename((Tree / "a").c_str(), (Outside / "a").c_str());
    }
    DeleteFolderTree(Tree.string(), false);
    kill(Mover, SIGKILL);
    waitpid(Mover, nullptr, 0);
    for (int I = 0; I < 20; ++I) ASSERT_TRUE(fsys::exists(Outside / ("keep" + std::to_string(I)))) << Round;
    std::error_code Error;
    fsys::remove_all(Tree, Error);
    fsys::remove_all(Outside / "a", Error);
  }
}

#endif

}  // namespace
