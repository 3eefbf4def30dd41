#include "install_hooks.h"

#include <algorithm>

#include "command_session.h"
#include "platform/ini.h"
#include "shell_command.h"

namespace {

std::string withoutTrailingSlash(std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

const char* resultOf(TransactionEnd end) {
  switch (end) {
    case TransactionEnd::Committed:
    case TransactionEnd::Unchanged:
      return "done";
    case TransactionEnd::Unrecovered:
      return "unrecovered";
    case TransactionEnd::Cancelled:
    case TransactionEnd::Refused:
    case TransactionEnd::RolledBack:
      break;
  }
  return "undone";
}

}  // namespace

InstallHooks installHooksFor(const OperatorOptions& options, const std::string& programDir) {
  const std::string config = programDir + (programDir.ends_with('/') ? "" : "/") + "Config.ini";
  InstallHooks hooks;
  hooks.beforeInstall = options.beforeInstall ? *options.beforeInstall
                                              : iniRead(config, "Hooks", "BeforeInstall", "");
  hooks.afterInstall =
      options.afterInstall ? *options.afterInstall : iniRead(config, "Hooks", "AfterInstall", "");
  return hooks;
}

HookedTransactions::HookedTransactions(InstallHooks hooks, const std::string& command,
                                       const PackageInfo& package, std::string action)
    : hooks_(std::move(hooks)), command_(command), package_(package), action_(std::move(action)) {}

bool HookedTransactions::beforeFirstChange(const std::string& root) {
  // A stop before the first change leaves the root as it is, without its hooks.
  if (stopRequested()) return false;
  const bool ready =
      hooks_.beforeInstall.empty() || run("BeforeInstall", hooks_.beforeInstall, root, nullptr);
  // The server may be half stopped by a failed BeforeInstall: AfterInstall starts it again.
  begun_.push_back(root);
  if (!ready) afterLastChange(root, TransactionEnd::Cancelled);
  return ready;
}

bool HookedTransactions::stopRequested() {
  return stopSignal() != 0;
}

void HookedTransactions::afterLastChange(const std::string& root, TransactionEnd end) {
  auto due = std::find(begun_.begin(), begun_.end(), root);
  if (due == begun_.end()) return;
  begun_.erase(due);
  if (!hooks_.afterInstall.empty()) run("AfterInstall", hooks_.afterInstall, root, resultOf(end));
}

bool HookedTransactions::run(const char* name, const std::string& command, const std::string& root,
                             const char* result) {
  const std::string shownRoot = withoutTrailingSlash(root);
  std::vector<std::string> environment = {
      std::string("DOWNLOADER_PACKAGE=") + package_.alias,
      std::string("DOWNLOADER_PACKAGE_NAME=") + package_.name,
      "DOWNLOADER_ROOT=" + shownRoot,
      "DOWNLOADER_ACTION=" + action_,
  };
  if (result != nullptr) environment.push_back(std::string("DOWNLOADER_RESULT=") + result);
  const std::string problem =
      shellProblem(runShellCommand(command, std::string(), kHookLimit, environment), kHookLimit);
  if (problem.empty()) return true;
  std::string what = std::string(name) + ": " + problem;
  if (result == nullptr) what += "; the root was left as it was";
  failures_.push_back(tellFailure(command_, "hook", FailureKind::None, shownRoot, what));
  return false;
}
