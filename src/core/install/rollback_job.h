#pragma once
// Going back to the state before the last install of a package, in one root (the command
// line) or in every root of the package's directory box (the window's 回滚 button).
#include <optional>
#include <string>

#include "install/install_failure.h"
#include "shell/packages.h"

class TransactionObserver;
struct Globals;

struct RootRollback {
  enum class Outcome {
    RolledBack,   // the root is as before the last install of the package
    NothingKept,  // no generation of the package is kept in the root
    Failed,       // nothing changed, or the root was put back as it was (`restored`)
    Stopped,      // stopped by the observer; the root was put back as it was
  } outcome = Outcome::NothingKept;
  int generation = 0;  // the generation undone (or tried)
  std::optional<InstallFailure> failure;
  bool restored = false;
};

// Rolls back the newest generation of `package` in `root` (an existing folder; a trailing "/"
// is added). The caller holds the program folder's lock.
RootRollback rollbackRoot(const std::string& programDir, std::string root,
                          const PackageInfo& package, TransactionObserver* observer = nullptr);

// The 回滚 button of a package with roots: each root of its directory box in turn, with a
// message box per root: "ROOT目录不存在", "ROOT/ 没有可回滚的安装", "ROOT/
// 已回滚到上次安装前的状态", or "回滚 ROOT/ 失败" with the failing file and the reason (and
// "ROOT/ 已恢复到回滚前的状态" when the root was put back). Runs as an install job does: window
// thread, the install buttons disabled, a quit request stops it (InstallJobGuard).
void rollbackPackage(Globals& g, const PackageInfo& package);

// The message of one root's rollback, as rollbackPackage shows it.
std::string describeRootRollback(const std::string& root, const RootRollback& rollback);
