// Installs killed at chosen points: the next holder of the program folder's lock finds every
// root entirely old or entirely new, with no temporary file left.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "archive_tools.h"
#include "install/event_pump.h"
#include "install/install_jobs.h"
#include "install/rollback_job.h"
#include "platform/files.h"
#include "recording_window.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "small_tmpfs.h"
#include "temp_dir.h"
#include "transaction/journal.h"
#include "transaction/recovery.h"
#include "transaction/transaction.h"
#include "tree_snapshot.h"
#include "zip/zip.h"

namespace {

// Where the install is killed: in which root (0 or 1, in the box's order), at which step.
struct KillPoint {
  const char* name;
  int root;
  enum class At { Prepared, ThirdSwap, PluginListSwap, LastSwap, Committed } at;
  bool firstNew;  // what each root must hold after recovery
  bool secondNew;
};

void PrintTo(const KillPoint& point, std::ostream* out) {
  *out << point.name;
}

// Raises SIGKILL at the chosen point of the chosen root's transaction.
class Killer : public TransactionObserver {
 public:
  explicit Killer(const KillPoint& point) : point_(point) {}

  bool beforeFirstChange(const std::string&) override {
    ++root_;
    swaps_ = 0;
    return true;
  }
  void onStep(TransactionStep step, const std::string& path) override {
    if (root_ != point_.root) return;
    if (step == TransactionStep::Swapped) ++swaps_;
    using At = KillPoint::At;
    const bool now =
        (point_.at == At::Prepared && step == TransactionStep::Prepared) ||
        (point_.at == At::ThirdSwap && step == TransactionStep::Swapped && swaps_ == 3) ||
        (point_.at == At::PluginListSwap && step == TransactionStep::BeforeSwap &&
         path.ends_with("PlugList.txt")) ||
        (point_.at == At::LastSwap && step == TransactionStep::Swapped &&
         path.ends_with("/installed")) ||
        (point_.at == At::Committed && step == TransactionStep::Committed);
    if (now) ::raise(SIGKILL);
  }

 private:
  const KillPoint& point_;
  int root_ = -1;
  int swaps_ = 0;
};

void writeOldTree(const TempDir& dir, const std::string& root) {
  dir.write(root + "/mir200/M2Server.exe", "old server");
  dir.write(root + "/mir200/Envir/keep.txt", "unchanged");
  dir.write(root + "/mir200/gone.dll", "not in the release");
  dir.write(root + "/mir200/PlugList.txt", "A.dll\r\njxq.dll\r\n");
  dir.write(root + "/SelGate/SelGate.exe", "old gate");
}

}  // namespace

class InstallTransaction : public ::testing::Test {
 protected:
  void SetUp() override {
    initGlobals(globals);
    globals->window = &window;
    std::filesystem::create_directories(dir.file("prog"));
    globals->programDir = dir.file("prog/");
    for (const auto& [path, content] : std::map<std::string, std::string>{
             {"mir200/M2Server.exe", "new server " + patternBytes(200000)},
             {"mir200/Envir/keep.txt", "unchanged"},
             {"mir200/Envir/new/quest.txt", "new quest"},
             {"mir200/extra.dll", "new plugin"},
             {"mir200/odd\tname\n.txt", "a name the journal must escape"},
             {"SelGate/SelGate.exe", "new gate"},
             {"SelGate/more/x.ini", "new ini"},
             {"readme.txt", "outside every server folder"}}) {
      dir.write("release/" + path, content);
    }
    infoZip(dir.file("release"), {"-r"}, dir.file("prog/三端.zip"), {"."});
    for (const char* root : {"first", "second", "reference"}) writeOldTree(dir, root);
    oldTree = snapshotTree(dir.file("reference"));
    install(dir.file("reference"), nullptr);
    newTree = snapshotTree(dir.file("reference"));
  }
  void TearDown() override { freeGlobals(globals); }

  void install(const std::string& roots, TransactionObserver* observer) {
    window.texts[control::编辑框_三端目录] = roots;
    installPackage(*globals, packageInfo(PackageId::Server), zip, observer);
  }

  // Installs into `roots` in a child process killed at `point`, then recovers as the next
  // holder of the program folder's lock does; the recovery's reports.
  std::vector<RecoveryReport> killAndRecover(const KillPoint& point, const std::string& roots) {
    const pid_t child = ::fork();
    if (child == 0) {
      Killer killer(point);
      install(roots, &killer);
      ::_exit(3);  // the kill point was never reached
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    EXPECT_EQ(journalPaths(globals->programDir).size(), 1u);  // the killed root's journal
    std::vector<RecoveryReport> reports = recoverInterruptedTransactions(globals->programDir);
    EXPECT_TRUE(journalPaths(globals->programDir).empty());
    return reports;
  }

  RecordingWindow window;
  std::unique_ptr<Globals> globals;
  TempDir dir;
  ZIP zip;
  std::map<std::string, std::string> oldTree, newTree;
};

class KilledInstall : public InstallTransaction, public ::testing::WithParamInterface<KillPoint> {};

TEST_P(KilledInstall, EachRootIsFoundOldOrNewWithoutTemporaries) {
  const KillPoint& point = GetParam();
  ASSERT_NE(oldTree, newTree);
  const std::string first = dir.file("first"), second = dir.file("second");
  const std::vector<RecoveryReport> reports = killAndRecover(point, first + "\n" + second);
  ASSERT_EQ(reports.size(), 1u);
  const bool killedRootNew = point.root == 0 ? point.firstNew : point.secondNew;
  EXPECT_EQ(reports[0].outcome, killedRootNew ? RecoveryReport::Outcome::Completed
                                              : RecoveryReport::Outcome::RolledBack);
  EXPECT_EQ(snapshotTree(first), point.firstNew ? newTree : oldTree);
  EXPECT_EQ(snapshotTree(second), point.secondNew ? newTree : oldTree);
  EXPECT_EQ(temporariesBelow(first), std::vector<std::string>{});
  EXPECT_EQ(temporariesBelow(second), std::vector<std::string>{});

  // The next install finishes the job.
  install(first + "\n" + second, nullptr);
  EXPECT_EQ(window.boxes.back().text, "安装完成");
  EXPECT_EQ(snapshotTree(first), newTree);
  EXPECT_EQ(snapshotTree(second), newTree);
}

INSTANTIATE_TEST_SUITE_P(
    Points, KilledInstall,
    ::testing::Values(KillPoint{"BeforeTheFirstRename", 0, KillPoint::At::Prepared, false, false},
                      KillPoint{"Midway", 0, KillPoint::At::ThirdSwap, false, false},
                      KillPoint{"DuringThePluginListRewrite", 0, KillPoint::At::PluginListSwap,
                                false, false},
                      KillPoint{"AfterTheLastRename", 0, KillPoint::At::LastSwap, false, false},
                      KillPoint{"AfterTheCommit", 0, KillPoint::At::Committed, true, false},
                      KillPoint{"MidwayInTheSecondRoot", 1, KillPoint::At::ThirdSwap, true, false}),
    [](const ::testing::TestParamInfo<KillPoint>& info) { return std::string(info.param.name); });

TEST_F(InstallTransaction, AFolderLinkedFromAnotherFileSystemIsKeptByCopyAndPutBack) {
  SmallTmpfs other("4m");
  if (!other.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string root = dir.file("first"), gate = other.path() + "/gate";
  std::filesystem::create_directories(gate);
  writeWholeFile(gate + "/SelGate.exe", "old gate");
  std::filesystem::remove_all(root + "/SelGate");
  ASSERT_EQ(::symlink(gate.c_str(), (root + "/SelGate").c_str()), 0);
  const auto rootBefore = snapshotTree(root), gateBefore = snapshotTree(gate);

  // The backup of SelGate.exe cannot be a hard link: it is a copy, and it goes back as one.
  const KillPoint last{"AfterTheLastRename", 0, KillPoint::At::LastSwap, false, false};
  EXPECT_EQ(killAndRecover(last, root).at(0).outcome, RecoveryReport::Outcome::RolledBack);
  EXPECT_EQ(snapshotTree(root), rootBefore);
  EXPECT_EQ(snapshotTree(gate), gateBefore);
  EXPECT_EQ(temporariesBelow(gate), std::vector<std::string>{});

  install(root, nullptr);
  EXPECT_EQ(readWholeFile(gate + "/SelGate.exe"), "new gate");
  const RootRollback rollback =
      rollbackRoot(globals->programDir, root, packageInfo(PackageId::Server));
  EXPECT_EQ(rollback.outcome, RootRollback::Outcome::RolledBack);
  EXPECT_EQ(snapshotTree(root), rootBefore);
  EXPECT_EQ(snapshotTree(gate), gateBefore);
}

TEST_F(InstallTransaction, RecoveryWaitsForTheRootItChangedToBeThere) {
  // A root whose file system is not mounted yet shows another (empty) folder at its path:
  // nothing there may be "undone" and the journal must stay.
  const std::string root = dir.file("first");
  const KillPoint midway{"Midway", 0, KillPoint::At::ThirdSwap, false, false};
  const pid_t child = ::fork();
  if (child == 0) {
    Killer killer(midway);
    install(root, &killer);
    ::_exit(3);
  }
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  std::filesystem::rename(root, dir.file("unmounted"));
  std::filesystem::create_directories(root);
  const std::vector<RecoveryReport> waiting = recoverInterruptedTransactions(globals->programDir);
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].outcome, RecoveryReport::Outcome::Failed);
  EXPECT_EQ(journalPaths(globals->programDir).size(), 1u);
  install(root, nullptr);  // refused: its interrupted install comes first
  ASSERT_GE(window.boxes.size(), 2u);
  EXPECT_NE(window.boxes.end()[-2].text.find("上次中断的安装未能恢复"), std::string::npos)
      << window.boxes.end()[-2].text;
  EXPECT_EQ(listTree(root), std::vector<std::string>{});

  std::filesystem::remove(root);
  std::filesystem::rename(dir.file("unmounted"), root);
  const std::vector<RecoveryReport> back = recoverInterruptedTransactions(globals->programDir);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].outcome, RecoveryReport::Outcome::RolledBack);
  EXPECT_EQ(snapshotTree(root), oldTree);
}

TEST_F(InstallTransaction, ClosingTheWindowMidwayPutsTheRootBackQuietly) {
  // The window notes the request to quit while the job handles its events, here once two
  // files of the root are in place.
  struct QuitAfterTwoSwaps : TransactionObserver {
    int swaps = 0;
    void onStep(TransactionStep step, const std::string&) override {
      if (step == TransactionStep::Swapped && ++swaps == 2) noteQuitRequest();
    }
  } quit;
  const std::string root = dir.file("first");
  install(root, &quit);
  clearQuitRequest();
  EXPECT_EQ(quit.swaps, 2);
  ASSERT_EQ(window.boxes.size(), 1u);  // the reference install's, none of this job's
  EXPECT_EQ(snapshotTree(root), oldTree);
  EXPECT_EQ(temporariesBelow(root), std::vector<std::string>{});
  EXPECT_TRUE(journalPaths(globals->programDir).empty());
}
