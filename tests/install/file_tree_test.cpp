#include "install/file_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "archive_tools.h"
#include "install/event_pump.h"
#include "platform/files.h"
#include "recording_window.h"
#include "temp_dir.h"

using Paths = std::vector<std::string>;

TEST(IsDirectory, IsTrueForDirectoriesAndLinksToThem) {
  TempDir dir;
  std::string file = dir.write("f.txt", "x");
  ASSERT_EQ(::symlink(dir.path().c_str(), dir.file("link").c_str()), 0);
  EXPECT_TRUE(isDirectory(dir.path()));
  EXPECT_TRUE(isDirectory(dir.path() + "/"));
  EXPECT_TRUE(isDirectory(dir.file("link")));
  EXPECT_FALSE(isDirectory(file));
  EXPECT_FALSE(isDirectory(dir.file("missing")));
  EXPECT_FALSE(isDirectory(""));
}

TEST(RemoveTree, RemovesReadOnlyHiddenAndOddlyNamedEntries) {
  TempDir dir;
  std::string tree = dir.file("tree");
  dir.write("tree/.hidden", "h");
  dir.write("tree/sub/read-only.txt", "r");
  dir.write("tree/sub/\xFF\xFE not any code page", "x");
  dir.write("tree/sub/deep/更深/文件.txt", "d");
  ::chmod(dir.file("tree/sub/read-only.txt").c_str(), 0444);
  ::chmod(dir.file("tree/sub/deep").c_str(), 0555);
  EXPECT_TRUE(removeTree(tree + "/"));
  EXPECT_FALSE(fileExists(tree));
  EXPECT_FALSE(removeTree(tree));  // missing now
}

TEST(RemoveTree, NeverFollowsSymbolicLinks) {
  TempDir dir;
  dir.write("outside/keep.txt", "keep");
  dir.write("tree/own.txt", "x");
  ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("tree/link").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("outside/keep.txt").c_str(), dir.file("tree/file-link").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("outside").c_str(), dir.file("top-link").c_str()), 0);

  EXPECT_TRUE(removeTree(dir.file("tree")));
  EXPECT_FALSE(fileExists(dir.file("tree")));
  EXPECT_TRUE(removeTree(dir.file("top-link") + "/"));  // the link goes, not its target
  EXPECT_EQ(listTree(dir.path()), (Paths{"outside/", "outside/keep.txt"}));
  EXPECT_EQ(readWholeFile(dir.file("outside/keep.txt")), "keep");
}

TEST(RemoveTree, EmptyPathsAndPlainFilesRemoveNothing) {
  TempDir dir;
  std::string file = dir.write("plain.txt", "p");
  dir.write("sub/x.txt", "x");
  std::string previous = std::filesystem::current_path().string();
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  EXPECT_FALSE(removeTree(""));
  ASSERT_EQ(::chdir(previous.c_str()), 0);
  EXPECT_FALSE(removeTree(file));
  EXPECT_EQ(listTree(dir.path()), (Paths{"plain.txt", "sub/", "sub/x.txt"}));
}

class FindFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { setPumpWindow(&window); }
  void TearDown() override { setPumpWindow(nullptr); }

  RecordingWindow window;
  TempDir dir;
};

TEST_F(FindFilesTest, ListsOwnFilesBeforeSubdirectoriesAndPumpsAfterEach) {
  dir.write("t/s/b.txt", "b");
  dir.write("t/a.txt", "a");
  dir.write("t/r/q/c.txt", "c");
  Paths list{"kept"};
  EXPECT_EQ(findFiles(dir.file("t"), "*.*", list), 4);
  std::string t = dir.file("t/");
  EXPECT_EQ(list, (Paths{"kept", t + "a.txt", t + "r/q/c.txt", t + "s/b.txt"}));
  EXPECT_EQ(window.pumps, 3 + 3);  // three files, three subdirectories
  Paths again;
  findFiles(t, "*.*", again);
  EXPECT_EQ(again, Paths(list.begin() + 1, list.end()));
}

TEST_F(FindFilesTest, PatternsAreTakenInOrderAndMatchRegardlessOfCase) {
  dir.write("t/x.txt", "");
  dir.write("t/y.DLL", "");
  dir.write("t/noext", "");
  std::string t = dir.file("t/");
  Paths list;
  findFiles(t, "*.dll|*.txt", list);
  EXPECT_EQ(list, (Paths{t + "y.DLL", t + "x.txt"}));
  list.clear();
  findFiles(t, "*.*|?.txt", list);
  EXPECT_EQ(list, (Paths{t + "noext", t + "x.txt", t + "y.DLL", t + "x.txt"}));
  EXPECT_EQ(findFiles(dir.file("missing"), "*.*", list), 4);
}

TEST_F(FindFilesTest, DoesNotWalkIntoLinkedDirectories) {
  dir.write("t/a.txt", "");
  dir.write("elsewhere/e.txt", "");
  ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), dir.file("t/loop").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("t").c_str(), dir.file("t/self").c_str()), 0);
  Paths list;
  findFiles(dir.file("t"), "*.*", list);
  EXPECT_EQ(list, (Paths{dir.file("t/a.txt")}));
}

TEST_F(FindFilesTest, StopsWhenAQuitRequestArrivesDuringAPump) {
  for (const char* name : {"t/1", "t/2", "t/3", "t/s/4"}) dir.write(name, "");
  clearQuitRequest();
  window.onPump = [] { noteQuitRequest(); };
  Paths list;
  findFiles(dir.file("t"), "*.*", list);
  EXPECT_EQ(list.size(), 1u);
  EXPECT_EQ(window.pumps, 1);
  EXPECT_TRUE(quitRequested());
  clearQuitRequest();
}
