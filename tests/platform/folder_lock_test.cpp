#include "platform/folder_lock.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "platform/files.h"
#include "temp_dir.h"

namespace {

using std::chrono::milliseconds;

}  // namespace

TEST(FolderLock, OneHolderAtATimeNamedToTheOthersAndFreedWhenItsProcessDies) {
  TempDir folder;
  const std::string lockFile = folder.file("下载器.lock");
  // A holder in another process: it takes the lock, says so through a pipe, and waits.
  int taken[2];
  ASSERT_EQ(::pipe(taken), 0);
  pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    FolderLockResult mine = lockFolder(folder.path(), milliseconds(0));
    char state = mine.state == FolderLockState::Taken ? 'T' : 'F';
    (void)!::write(taken[1], &state, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(taken[1]);
  char state = 0;
  ASSERT_EQ(::read(taken[0], &state, 1), 1);
  ::close(taken[0]);
  ASSERT_EQ(state, 'T');

  FolderLockResult busy = lockFolder(folder.path() + "/", milliseconds(120));
  EXPECT_EQ(busy.state, FolderLockState::Busy);
  EXPECT_EQ(busy.holder, holder);
  EXPECT_FALSE(busy.lock.held());
  EXPECT_EQ(busy.path, lockFile);

  // The kernel lets go when the holder dies, whatever it left in the file.
  ::kill(holder, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(holder, &status, 0), holder);
  FolderLockResult mine = lockFolder(folder.path(), milliseconds(0));
  ASSERT_EQ(mine.state, FolderLockState::Taken);
  EXPECT_EQ(readWholeFile(lockFile), std::to_string(::getpid()) + "\n");

  // Within one process too, a second lock of the folder waits for the first.
  EXPECT_EQ(lockFolder(folder.path(), milliseconds(0)).holder, ::getpid());
  FolderLock moved = std::move(mine.lock);
  EXPECT_TRUE(moved.held());
  moved.release();
  EXPECT_EQ(readWholeFile(lockFile), "");
  EXPECT_EQ(lockFolder(folder.path(), milliseconds(0)).state, FolderLockState::Taken);
}

TEST(FolderLock, OnlyARegularFileOfItsOwnIsUsed) {
  TempDir folder;
  TempDir elsewhere;
  const std::string lockFile = folder.file("下载器.lock");
  // A link in the lock file's place is never followed, so its target is left alone.
  std::filesystem::create_symlink(elsewhere.file("target"), lockFile);
  FolderLockResult linked = lockFolder(folder.path(), milliseconds(0));
  EXPECT_EQ(linked.state, FolderLockState::Unavailable);
  EXPECT_EQ(linked.error, ELOOP);
  EXPECT_FALSE(fileExists(elsewhere.file("target")));

  std::filesystem::remove(lockFile);
  ASSERT_EQ(::mkfifo(lockFile.c_str(), 0644), 0);  // refused at once, no writer awaited
  EXPECT_EQ(lockFolder(folder.path(), milliseconds(0)).error, EINVAL);

  EXPECT_EQ(lockFolder(folder.file("missing"), milliseconds(0)).error, ENOENT);

  // A lock file this process may only read still locks; nothing is written into it.
  std::filesystem::remove(lockFile);
  writeWholeFile(lockFile, "");
  ::chmod(lockFile.c_str(), 0444);
  if (::access(lockFile.c_str(), W_OK) != 0) {  // root may write anyway
    FolderLockResult readOnly = lockFolder(folder.path(), milliseconds(0));
    EXPECT_EQ(readOnly.state, FolderLockState::Taken);
    FolderLockResult second = lockFolder(folder.path(), milliseconds(0));
    EXPECT_EQ(second.state, FolderLockState::Busy);
    EXPECT_EQ(second.holder, 0);  // not known
  }
}
