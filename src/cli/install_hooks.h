#pragma once
// Hooks around the swap: an operator's commands that run for each root before an install's
// first change in it and after its last (to stop the game server's service, warn its players,
// start it again). They come from --before-install / --after-install, else from Config.ini's
// [Hooks] BeforeInstall= / AfterInstall=.
//
// A root whose install changes nothing runs neither. A BeforeInstall that fails (exit status
// other than 0, or still running at the limit) leaves its root untouched; the failure is
// reported and the other roots go on. AfterInstall runs after every root whose BeforeInstall
// was run (or, without one, whose first change was made): after a committed install, and also
// after one that failed or was stopped and put back, so a stopped server is never left down.
//
// Each command runs through /bin/sh -c with its standard output on standard error and these
// variables: DOWNLOADER_PACKAGE (server, plugin, anticheat), DOWNLOADER_PACKAGE_NAME (三端, ...),
// DOWNLOADER_ROOT (the root, without a trailing "/"), DOWNLOADER_ACTION (install, rollback,
// repair) and, for AfterInstall, DOWNLOADER_RESULT: done, undone (the root is as it was) or
// unrecovered (the next run completes or undoes it).
//
// Threads: the command's thread only.
#include <chrono>
#include <string>
#include <vector>

#include "command_report.h"
#include "operator_options.h"
#include "shell/packages.h"
#include "transaction/transaction.h"

inline constexpr std::chrono::seconds kHookLimit{600};

struct InstallHooks {
  std::string beforeInstall;  // empty: none
  std::string afterInstall;
};

// The hooks of the options, else those of `programDir`'s Config.ini.
InstallHooks installHooksFor(const OperatorOptions& options, const std::string& programDir);

// The observer of each root's transaction for a command: runs the hooks and stops the
// transaction once SIGINT or SIGTERM has arrived (the root is then put back).
class HookedTransactions : public TransactionObserver {
 public:
  HookedTransactions(InstallHooks hooks, const std::string& command, const PackageInfo& package,
                     std::string action);

  bool beforeFirstChange(const std::string& root) override;
  bool stopRequested() override;
  void afterLastChange(const std::string& root, TransactionEnd end) override;

  // The hooks that failed (step "hook"), already told on standard error, in order.
  const std::vector<FailureReport>& failures() const { return failures_; }

 private:
  bool run(const char* name, const std::string& command, const std::string& root,
           const char* result);

  InstallHooks hooks_;
  std::string command_;
  const PackageInfo& package_;
  std::string action_;
  std::vector<std::string> begun_;  // roots whose AfterInstall is still due
  std::vector<FailureReport> failures_;
};
