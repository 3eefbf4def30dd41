// Replacing files that a live server holds: its files below a root and its plugin list.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "archive_tools.h"
#include "install/case_path.h"
#include "install/file_copy.h"
#include "install/plugin_list.h"
#include "platform/files.h"
#include "temp_dir.h"

using Paths = std::vector<std::string>;

namespace {

// A child process that maps a file, as a running program maps its libraries, and checks
// after the parent's work that the mapping still shows the contents it had (a truncated
// file would kill it with SIGBUS instead).
class MappingChild {
 public:
  explicit MappingChild(const std::string& path) {
    const std::string expected = readWholeFile(path);
    int ready[2], go[2];
    if (::pipe(ready) != 0 || ::pipe(go) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      int fd = ::open(path.c_str(), O_RDONLY);
      void* map = ::mmap(nullptr, expected.size(), PROT_READ, MAP_SHARED, fd, 0);
      char byte = map == MAP_FAILED ? 'x' : 'r';
      if (::write(ready[1], &byte, 1) != 1 || ::read(go[0], &byte, 1) != 1) ::_exit(3);
      const bool same = std::memcmp(map, expected.data(), expected.size()) == 0;
      ::_exit(same ? 0 : 1);
    }
    char byte = 0;
    mapped_ = ::read(ready[0], &byte, 1) == 1 && byte == 'r';
    go_ = go[1];
    for (int fd : {ready[0], ready[1], go[0]}) ::close(fd);
  }
  ~MappingChild() {
    if (go_ >= 0) ::close(go_);
    if (pid_ > 0 && !finished_) ::waitpid(pid_, nullptr, 0);
  }
  bool mapped() const { return mapped_; }
  // Lets the child read its mapping; "old contents" when it saw them, else how it ended.
  std::string finish() {
    char byte = 'g';
    if (::write(go_, &byte, 1) != 1) return "no child";
    int status = 0;
    ::waitpid(pid_, &status, 0);
    finished_ = true;
    if (WIFSIGNALED(status)) return std::string("killed by ") + ::strsignal(WTERMSIG(status));
    return WEXITSTATUS(status) == 0 ? "old contents" : "changed contents";
  }

 private:
  pid_t pid_ = -1;
  int go_ = -1;
  bool mapped_ = false;
  bool finished_ = false;
};

// Opens a FIFO for reading and writing after `seconds` unless stopped first: a blocked
// open of the FIFO then returns, so a test that would hang fails instead.
class FifoWatchdog {
 public:
  FifoWatchdog(std::string fifo, int seconds)
      : thread_([this, fifo, seconds] {
          for (int k = 0; k < seconds * 10 && !stop_; ++k) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
          }
          if (stop_) return;
          fired_ = true;
          int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
          if (fd >= 0) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            ::close(fd);
          }
        }) {}
  ~FifoWatchdog() {
    stop_ = true;
    thread_.join();
  }
  bool fired() const { return fired_; }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<bool> fired_{false};
  std::thread thread_;
};

mode_t permissionsOf(const std::string& path) {
  struct stat info {};
  ::lstat(path.c_str(), &info);
  return info.st_mode & 07777;
}

}  // namespace

TEST(FileReplace, AProgramMappingTheOldFileKeepsItsContents) {
  TempDir dir;
  std::string source = dir.write("new/server.dll", "short");
  std::string live = dir.write("root/server.dll", patternBytes(256 * 1024));
  ::chmod(live.c_str(), 0750);
  MappingChild child(live);
  ASSERT_TRUE(child.mapped());

  EXPECT_TRUE(copyFileOverwriting(source, live));

  EXPECT_EQ(child.finish(), "old contents");
  EXPECT_EQ(readWholeFile(live), "short");
  EXPECT_EQ(permissionsOf(live), 0750u);
  EXPECT_EQ(listDirectory(dir.file("root")), Paths{"server.dll"});  // no temporary left
}

TEST(FileReplace, APluginListIsRewrittenWholeBesideTheOldOne) {
  TempDir dir;
  std::string list = dir.write("root/mir200/PlugList.txt", "A.dll\r\njxq.dll\r\n");
  ::chmod(list.c_str(), 0604);
  MappingChild child(list);
  ASSERT_TRUE(child.mapped());

  EXPECT_TRUE(updatePluginList(dir.file("root"), {"QZVM2PlusLoad.dll"}));

  EXPECT_EQ(child.finish(), "old contents");
  EXPECT_EQ(readWholeFile(list), "A.dll\r\nQZVM2PlusLoad.dll\r\n");
  EXPECT_EQ(permissionsOf(list), 0604u);
  EXPECT_EQ(listDirectory(dir.file("root/mir200")), Paths{"PlugList.txt"});

  // A link in the list's place is read through, then replaced by the new list; the file it
  // led to stays as it was.
  std::string real = dir.write("elsewhere/list.txt", "jxq.dll\r\nB.dll\r\n");
  ASSERT_EQ(::unlink(list.c_str()), 0);
  ASSERT_EQ(::symlink(real.c_str(), list.c_str()), 0);
  EXPECT_TRUE(updatePluginList(dir.file("root/"), {"QZVM2PlusLoad.dll"}));
  EXPECT_EQ(readWholeFile(real), "jxq.dll\r\nB.dll\r\n");
  EXPECT_EQ(readWholeFile(list), "B.dll\r\nQZVM2PlusLoad.dll\r\n");
  struct stat info {};
  ASSERT_EQ(::lstat(list.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode));
}

TEST(FileReplace, AFailedCopyLeavesTheOldFileAndRemovesItsTemporary) {
  TempDir dir;
  std::string source = dir.write("new/big.dat", patternBytes(512 * 1024));
  std::string live = dir.write("root/big.dat", "old");
  // A child whose file size limit stops the copy midway, as a full disk would.
  pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(copyFileOverwriting(source, live) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_TRUE(readWholeFile(live) == "old");
  EXPECT_EQ(listDirectory(dir.file("root")), Paths{"big.dat"});
}

TEST(FileReplace, TheSameFileIsLeftAloneAndOtherKindsFailAtOnce) {
  TempDir dir;
  std::string file = dir.write("root/Mir200/a.dll", "keep me");
  EXPECT_TRUE(copyFileOverwriting(file, dir.file("root/./Mir200/a.dll")));
  ASSERT_EQ(::link(file.c_str(), dir.file("root/hard.dll").c_str()), 0);
  EXPECT_TRUE(copyFileOverwriting(dir.file("root/hard.dll"), file));
  EXPECT_EQ(readWholeFile(file), "keep me");

  std::string source = dir.write("new/x.dll", "x");
  std::string fifo = dir.file("root/fifo.dll");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::filesystem::create_directories(dir.file("root/folder.dll"));
  std::string listFifo = dir.file("fifo-root/mir200/PlugList.txt");
  std::filesystem::create_directories(dir.file("fifo-root/mir200"));
  ASSERT_EQ(::mkfifo(listFifo.c_str(), 0644), 0);
  {
    FifoWatchdog watchFile(fifo, 10), watchList(listFifo, 10);
    EXPECT_FALSE(copyFileOverwriting(source, fifo));
    EXPECT_FALSE(copyFileOverwriting(source, dir.file("root/folder.dll")));
    EXPECT_FALSE(updatePluginList(dir.file("fifo-root"), {"QZVM2PlusLoad.dll"}));
    EXPECT_FALSE(watchFile.fired() || watchList.fired()) << "a FIFO blocked";
  }
  ASSERT_EQ(::symlink("folder.dll", dir.file("root/folder-link.dll").c_str()), 0);
  EXPECT_FALSE(copyFileOverwriting(source, dir.file("root/folder-link.dll")));
  EXPECT_EQ(listDirectory(dir.file("root")),
            (Paths{"Mir200", "fifo.dll", "folder-link.dll", "folder.dll", "hard.dll"}));
}

TEST(CaseInsensitiveNames, ListsAFolderOnceAndKnowsWhatWasAdded) {
  TempDir dir;
  dir.write("root/Mir200/b.TXT", "b");
  dir.write("root/Mir200/B.txt", "B");
  dir.write("root/Mir200/exact.txt", "e");
  dir.write("root/Mir200/EXACT.txt", "E");
  CaseInsensitiveNames names;
  const std::string folder = dir.file("root/Mir200/");
  EXPECT_EQ(names.find(dir.file("root/"), "MIR200"), "Mir200");
  EXPECT_EQ(names.find(folder, "b.txt"), "B.txt");  // the least in byte order
  EXPECT_EQ(names.find(folder, "EXACT.txt"), "EXACT.txt");
  EXPECT_EQ(names.find(folder, "new.txt"), "new.txt");
  names.added(folder, "New.txt");
  EXPECT_EQ(names.find(folder, "NEW.TXT"), "New.txt");
  // The listing is kept: a file made behind its back is not seen.
  dir.write("root/Mir200/Later.txt", "l");
  EXPECT_EQ(names.find(folder, "later.txt"), "later.txt");
  EXPECT_EQ(existingNameIgnoringCase(folder, "later.txt"), "Later.txt");
}
