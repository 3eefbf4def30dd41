#include "install/root_install.h"

#include "platform/files.h"
#include "platform/free_space.h"

namespace {

std::vector<Change> changesOf(const RootPlan& plan, const PackageInfo& package) {
  std::vector<Change> changes;
  for (const std::string& folder : plan.folders) {
    Change change;
    change.kind = Change::Kind::Folder;
    change.path = folder;
    changes.push_back(std::move(change));
  }
  for (const PlannedFile& file : plan.files) {
    if (!file.needed) continue;
    Change change;
    change.path = file.path;
    change.source = file.record->sourcePath;
    change.sourceTimes = true;
    changes.push_back(std::move(change));
  }
  if (plan.pluginListPath) {
    Change change;
    change.path = *plan.pluginListPath;
    change.bytes = plan.pluginListText;
    change.newFileMode = plan.pluginListMode;
    changes.push_back(std::move(change));
  }
  const std::string listing = encodeInstalledListing(plan.listing());
  const std::string listingPath = installedListingPath(package.name);
  if (plan.writeListing && !changes.empty() && readWholeFile(plan.root + listingPath) != listing) {
    Change change;
    change.path = listingPath;
    change.bytes = listing;
    change.newFileMode = 0644;
    changes.push_back(std::move(change));
  }
  return changes;
}

SpaceNeed spaceFor(const RootPlan& plan) {
  SpaceNeed need;
  for (const PlannedFile& file : plan.files) {
    if (file.needed) need.add(file.record->size);
  }
  if (plan.pluginListPath) need.add(plan.pluginListText.size());
  return need;
}

}  // namespace

RootOutcome installPlannedRoot(const std::string& programDir, const RootPlan& plan,
                               const PackageInfo& package, int keep,
                               TransactionObserver* observer) {
  RootOutcome outcome;
  if (plan.failure) {
    outcome.failure = plan.failure;
    return outcome;
  }
  if (!hasRoomFor(plan.root, spaceFor(plan))) {
    outcome.failure = InstallFailure{InstallProblem::NoSpace, plan.root, 0};
    return outcome;
  }
  TransactionRequest request;
  request.programDir = programDir;
  request.root = plan.root;
  request.package = package.name;
  request.purpose = TransactionPurpose::Install;
  request.changes = changesOf(plan, package);
  request.keep = keep;
  const TransactionResult result = runTransaction(request, observer);
  switch (result.end) {
    case TransactionEnd::Unchanged:
    case TransactionEnd::Committed:
      break;
    case TransactionEnd::Cancelled:
      outcome.failure = InstallFailure{InstallProblem::Cancelled, plan.root, 0};
      break;
    case TransactionEnd::RolledBack:
      outcome.restored = true;
      [[fallthrough]];
    case TransactionEnd::Refused:
    case TransactionEnd::Unrecovered:
      outcome.failure = result.stopped || !result.failure
                            ? InstallFailure{InstallProblem::Stopped, plan.root, 0}
                            : installFailureOf(*result.failure);
      break;
  }
  return outcome;
}

InstallFailure installFailureOf(const TransactionFailure& failure) {
  switch (failure.problem) {
    case TransactionProblem::NotAFile:
      return {InstallProblem::NotAFile, failure.path, 0};
    case TransactionProblem::Unfinished:
    case TransactionProblem::RootChanged:
      return {InstallProblem::Unfinished, failure.path, 0};
    case TransactionProblem::SystemError:
      break;
  }
  return {InstallProblem::SystemError, failure.path, failure.error};
}
