// install, rollback and validate on a root, as an operator runs them: each root all old or all
// new, what an install replaced kept for rollback, what differs from the install found.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include <gtest/gtest.h>

#include "archive_tools.h"
#include "demo_site.h"
#include "platform/files.h"
#include "temp_dir.h"
#include "transaction/generations.h"
#include "tree_snapshot.h"

namespace {

class TransactionCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& [path, content] :
         std::map<std::string, std::string>{{"mir200/M2Server.exe", "new server"},
                                            {"mir200/Envir/a.txt", "new a"},
                                            {"mir200/new/b.txt", "new b"},
                                            {"SelGate/SelGate.exe", "new gate"}}) {
      dir.write("release/" + path, content);
    }
    std::filesystem::create_directories(dir.file("prog"));
    infoZip(dir.file("release"), {"-r"}, dir.file("prog/三端.zip"), {"."});
    dir.write("root/mir200/M2Server.exe", "old server");
    dir.write("root/mir200/Envir/a.txt", "old a");
    dir.write("root/mir200/PlugList.txt", "A.dll\r\njxq.dll\r\n");
    dir.write("root/mir200/mine.txt", "the operator's own file");
  }

  CommandResult cli(const std::string& command) {
    return runCommand(shellQuote(DL_CLI_PATH) + " " + command + " 三端 --root " + shellQuote(root) +
                      " --dir " + shellQuote(dir.file("prog")));
  }

  // Inode and times of everything below the root, the backups included.
  std::map<std::string, std::string> identities() const {
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      struct stat state {};
      ::lstat(entry.path().c_str(), &state);
      found[entry.path()] =
          std::to_string(state.st_ino) + " " + std::to_string(state.st_mtim.tv_sec) + "." +
          std::to_string(state.st_mtim.tv_nsec) + " " + std::to_string(state.st_ctim.tv_sec) + "." +
          std::to_string(state.st_ctim.tv_nsec);
    }
    return found;
  }

  // Starts `install` with a gate that holds it at its first rename into the root, once every
  // new file is written beside its destination, and waits until it is held there; its pid, or
  // -1. Its standard error goes to `errors`. The gate opens when the FIFO "gate" is opened for
  // writing.
  pid_t startHeldInstall(const std::string& errors) {
    const std::string fifo = dir.file("gate"), ready = dir.file("ready");
    deleteFile(ready);
    if (!fileExists(fifo) && ::mkfifo(fifo.c_str(), 0600) != 0) return -1;
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
      const char* asan = std::getenv("ASAN_OPTIONS");
      const std::string asanOptions =
          std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0";
      ::setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
      ::setenv("LD_PRELOAD", DL_RENAME_GATE, 1);
      ::setenv("DL_GATE_FOLDER", (root + "/").c_str(), 1);
      ::setenv("DL_GATE_READY", ready.c_str(), 1);
      ::setenv("DL_GATE_FIFO", fifo.c_str(), 1);
      const int errorFd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int nullFd = ::open("/dev/null", O_WRONLY);
      if (errorFd < 0 || nullFd < 0 || ::dup2(errorFd, 2) < 0 || ::dup2(nullFd, 1) < 0) {
        ::_exit(126);
      }
      const std::string prog = dir.file("prog");
      ::execl(DL_CLI_PATH, DL_CLI_PATH, "install", "三端", "--root", root.c_str(), "--dir",
              prog.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fileExists(ready)) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return child;
  }

  TempDir dir;
  const std::string root = dir.file("root");
};

bool contains(const CommandResult& result, const std::string& text) {
  return result.output.find(text) != std::string::npos;
}

}  // namespace

TEST_F(TransactionCommands, RollbackValidateAndAnUnchangedReinstall) {
  const auto before = snapshotTree(root);
  CommandResult installed = cli("install");
  ASSERT_EQ(installed.status, 0) << installed.output;
  const auto after = snapshotTree(root);
  EXPECT_EQ(after.at("mir200/PlugList.txt"),
            "420 A.dll\r\nM2LinkerX86.dll\r\nQZVM2PlusLoad.dll\r\n");

  // The same release again: nothing in the root is written, not even a time.
  const auto identity = identities();
  CommandResult again = cli("install");
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(identities(), identity);
  EXPECT_TRUE(contains(cli("rollback --list"), "  1  "));

  // validate compares sizes and CRC-32: an edit of the same size is found too. A root
  // without its listing (installed by an older version) is compared with the archive.
  EXPECT_TRUE(contains(cli("validate"), "all 4 files match the last install"));
  const std::string listing = root + "/" + kBackupFolderName + "/三端/installed";
  const std::string listingText = readWholeFile(listing);
  deleteFile(listing);
  EXPECT_TRUE(contains(cli("validate"), "all 4 files match 三端.zip"));
  writeWholeFile(listing, listingText);
  dir.write("root/mir200/Envir/a.txt", "NEW A");
  deleteFile(root + "/SelGate/SelGate.exe");
  const auto damaged = snapshotTree(root);
  CommandResult checked = cli("validate");
  EXPECT_EQ(checked.status, 1) << checked.output;
  EXPECT_TRUE(contains(checked, "differs  mir200/Envir/a.txt")) << checked.output;
  EXPECT_TRUE(contains(checked, "missing  SelGate/SelGate.exe")) << checked.output;
  CommandResult repaired = cli("validate --repair");
  EXPECT_EQ(repaired.status, 0) << repaired.output;
  EXPECT_EQ(snapshotTree(root), after);

  // Each rollback goes back one install: the repair, then the install itself, which brings
  // back the old files and plugin list and removes what it created.
  CommandResult listed = cli("rollback --list");
  EXPECT_TRUE(contains(listed, "  2  ") && contains(listed, "(newest)")) << listed.output;
  EXPECT_EQ(cli("rollback").status, 0);
  EXPECT_EQ(snapshotTree(root), damaged);
  CommandResult back = cli("rollback");
  EXPECT_EQ(back.status, 0) << back.output;
  EXPECT_TRUE(contains(back, root + "/ 已回滚到上次安装前的状态")) << back.output;
  EXPECT_EQ(snapshotTree(root), before);
  EXPECT_FALSE(fileExists(root + "/" + kBackupFolderName));
  CommandResult nothing = cli("rollback");
  EXPECT_EQ(nothing.status, 1);
  EXPECT_TRUE(contains(nothing, "没有可回滚的安装")) << nothing.output;

  // Keep=0: the install is still all or nothing, but no backup outlives it.
  dir.write("prog/Config.ini", "[Backup]\r\nKeep=0\r\n");
  ASSERT_EQ(cli("install").status, 0);
  EXPECT_EQ(snapshotTree(root), after);
  EXPECT_TRUE(contains(cli("rollback --list"), "no install of 三端 kept"));
}

TEST_F(TransactionCommands, KilledOrSignalledDuringTheSwapTheRootIsPutBack) {
  const auto before = snapshotTree(root);
  const std::string errors = dir.file("stderr.txt");

  // SIGKILL: the next command that takes the program folder puts the root back first.
  const pid_t killed = startHeldInstall(errors);
  ASSERT_GT(killed, 0);
  ASSERT_EQ(::kill(killed, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(killed, &status, 0), killed);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_NE(snapshotTree(root), before);  // its new folders are there already
  CommandResult next = cli("rollback --list");
  EXPECT_TRUE(contains(next, root + "/ 已恢复到安装前的状态")) << next.output;
  EXPECT_EQ(snapshotTree(root), before);
  EXPECT_EQ(temporariesBelow(root), std::vector<std::string>{});

  // SIGTERM: the install puts the root back itself and ends with 143.
  const pid_t stopped = startHeldInstall(errors);
  ASSERT_GT(stopped, 0);
  ASSERT_EQ(::kill(stopped, SIGTERM), 0);
  const int gate = ::open(dir.file("gate").c_str(), O_WRONLY);
  ASSERT_GE(gate, 0);
  ::close(gate);
  ASSERT_EQ(::waitpid(stopped, &status, 0), stopped);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 143) << readWholeFile(errors);
  EXPECT_NE(readWholeFile(errors).find(root + "/ 已恢复到安装前的状态"), std::string::npos)
      << readWholeFile(errors);
  EXPECT_EQ(snapshotTree(root), before);
  EXPECT_EQ(temporariesBelow(root), std::vector<std::string>{});
  EXPECT_FALSE(fileExists(root + "/" + kBackupFolderName));
}

// The operator's hooks run around each root that changes: after a committed install, after a
// BeforeInstall that failed (its root untouched) and after an install put back by a signal, so
// a server stopped before the swap is always started again; a root that needs no change runs
// neither.
TEST_F(TransactionCommands, HooksRunAroundEachChangedRootAndAfterEveryEnd) {
  const std::string log = dir.file("hooks.log");
  const std::string line = " $DOWNLOADER_ACTION $DOWNLOADER_PACKAGE $DOWNLOADER_PACKAGE_NAME " +
                           std::string("$DOWNLOADER_ROOT\" >> ") + shellQuote(log);
  dir.write("prog/Config.ini", "[Hooks]\r\nBeforeInstall=echo \"before" + line +
                                   "\r\nAfterInstall=echo \"after $DOWNLOADER_RESULT" + line +
                                   "\r\n");
  const std::string tail = " server 三端 " + root + "\n";
  ASSERT_EQ(cli("install").status, 0);
  EXPECT_EQ(readWholeFile(log), "before install" + tail + "after done install" + tail);
  EXPECT_EQ(cli("install").status, 0);  // unchanged: no hook
  EXPECT_EQ(readWholeFile(log), "before install" + tail + "after done install" + tail);
  ASSERT_EQ(cli("rollback").status, 0);
  EXPECT_EQ(readWholeFile(log).substr(readWholeFile(log).find("before rollback")),
            "before rollback" + tail + "after done rollback" + tail);

  // A BeforeInstall that fails leaves the root untouched; AfterInstall still runs.
  deleteFile(log);
  const auto before = snapshotTree(root);
  CommandResult refused = cli("install --before-install 'echo stopping >&2; exit 3'");
  EXPECT_EQ(refused.status, 1) << refused.output;
  EXPECT_TRUE(contains(refused, "stopping")) << refused.output;
  EXPECT_TRUE(
      contains(refused, root + ": BeforeInstall: exit status 3; the root was left as it was"))
      << refused.output;
  EXPECT_EQ(snapshotTree(root), before);
  EXPECT_EQ(readWholeFile(log), "after undone install" + tail);

  // Stopped during the swap: the root is put back, then AfterInstall runs.
  deleteFile(log);
  const pid_t stopped = startHeldInstall(dir.file("stderr.txt"));
  ASSERT_GT(stopped, 0);
  ASSERT_EQ(::kill(stopped, SIGTERM), 0);
  const int gate = ::open(dir.file("gate").c_str(), O_WRONLY);
  ASSERT_GE(gate, 0);
  ::close(gate);
  int status = 0;
  ASSERT_EQ(::waitpid(stopped, &status, 0), stopped);
  EXPECT_EQ(WEXITSTATUS(status), 143) << readWholeFile(dir.file("stderr.txt"));
  EXPECT_EQ(snapshotTree(root), before);
  EXPECT_EQ(readWholeFile(log), "before install" + tail + "after undone install" + tail);
}
