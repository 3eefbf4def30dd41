#include "install/rollback_job.h"

#include "install/event_pump.h"
#include "install/file_tree.h"
#include "install/install_guard.h"
#include "install/root_install.h"
#include "platform/text.h"
#include "shell/globals.h"
#include "shell/window.h"
#include "transaction/recovery.h"
#include "transaction/rollback.h"

namespace {

class QuitStops : public TransactionObserver {
 public:
  bool stopRequested() override {
    pumpMessages();
    return quitRequested();
  }
};

}  // namespace

RootRollback rollbackRoot(const std::string& programDir, std::string root,
                          const PackageInfo& package, TransactionObserver* observer) {
  if (root.empty() || root.back() != '/') root += '/';
  RootRollback rollback;
  const RollbackResult result = rollBackNewest(programDir, root, package.name, observer);
  if (!result.generation) return rollback;
  rollback.generation = result.generation->number;
  const TransactionResult& transaction = result.transaction;
  switch (transaction.end) {
    case TransactionEnd::Committed:
    case TransactionEnd::Unchanged:
      rollback.outcome = RootRollback::Outcome::RolledBack;
      return rollback;
    case TransactionEnd::RolledBack:
      rollback.restored = true;
      break;
    case TransactionEnd::Cancelled:
    case TransactionEnd::Refused:
    case TransactionEnd::Unrecovered:
      break;
  }
  if (transaction.stopped) {
    rollback.outcome = RootRollback::Outcome::Stopped;
  } else {
    rollback.outcome = RootRollback::Outcome::Failed;
    if (transaction.failure) rollback.failure = installFailureOf(*transaction.failure);
  }
  return rollback;
}

std::string describeRootRollback(const std::string& root, const RootRollback& rollback) {
  switch (rollback.outcome) {
    case RootRollback::Outcome::RolledBack:
      return root + " 已回滚到上次安装前的状态";
    case RootRollback::Outcome::NothingKept:
      return root + " 没有可回滚的安装";
    case RootRollback::Outcome::Stopped:
      return restoredText(root, TransactionPurpose::Rollback);
    case RootRollback::Outcome::Failed:
      break;
  }
  std::string text = "回滚 " + root + " 失败";
  if (rollback.failure) text += "\n" + describeInstallFailure(*rollback.failure);
  if (rollback.restored) text += "\n" + restoredText(root, TransactionPurpose::Rollback);
  return text;
}

void rollbackPackage(Globals& g, const PackageInfo& package) {
  Window* window = g.window;
  if (window == nullptr || g.programDir.empty() || package.directoryBox == nullptr) return;
  InstallJobGuard guard(*window);
  if (!guard.started()) return;
  QuitStops observer;
  for (std::string root : splitLines(window->text(package.directoryBox))) {
    if (!isDirectory(root)) {
      window->messageBox(root + "目录不存在", BoxOwner::MainWindow);
      continue;
    }
    if (root.back() != '/') root += '/';
    const RootRollback rollback = rollbackRoot(g.programDir, root, package, &observer);
    if (rollback.outcome == RootRollback::Outcome::Stopped) return;
    window->messageBox(describeRootRollback(root, rollback), BoxOwner::MainWindow);
  }
}
