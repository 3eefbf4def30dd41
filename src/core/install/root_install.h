#pragma once
// Placing the files of one install job into one server root, as one transaction
// (transaction/transaction.h): the root ends entirely as before or entirely as planned.
#include <optional>
#include <string>

#include "install/install_failure.h"
#include "install/root_plan.h"
#include "shell/packages.h"
#include "transaction/transaction.h"

struct RootOutcome {
  std::optional<InstallFailure> failure;  // none: installed, or nothing needed changing
  bool restored = false;  // changes had begun and were undone: the root is as it was
};

// Carries out `plan` (complete, without failure, every needed source extracted) in its root:
// the folders, the files that are needed (each taking its source's times), the plugin list's
// new text and, when anything changes, the root's listing of what is installed
// (installed_listing.h). The root's file system must first have room for the new files
// (free_space.h), else NoSpace before anything changes. The journal goes to `programDir`;
// the newest `keep` generations of backups stay afterwards. `observer` sees the transaction and
// may stop it (Stopped, the root put back).
RootOutcome installPlannedRoot(const std::string& programDir, const RootPlan& plan,
                               const PackageInfo& package, int keep, TransactionObserver* observer);

// A transaction's failure as an install failure.
InstallFailure installFailureOf(const TransactionFailure& failure);
