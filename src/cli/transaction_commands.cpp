// rollback and validate: the backups and the installed listing that each install leaves in a
// root, seen from the command line.
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "command_session.h"
#include "command_table.h"
#include "commands.h"
#include "exit_status.h"
#include "folder_guard.h"
#include "install/file_tree.h"
#include "install/rollback_job.h"
#include "install/validate.h"
#include "install_hooks.h"
#include "operator_options.h"
#include "shell/packages.h"
#include "transaction/generations.h"
#include "transaction/recovery.h"
#include "transaction/transaction.h"
#include "zip/zip.h"

namespace {

std::string withSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// rollback and validate work on a package's roots; the usage error, or empty.
std::string rootedUsage(const OperatorOptions& options) {
  const PackageInfo& package = *options.packages.front();
  if (package.directoryBox == nullptr) {
    return std::string("the ") + package.name + " package has no roots";
  }
  if (options.roots.empty()) return "at least one --root DIR is needed";
  return std::string();
}

std::string sizeText(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
  return text;
}

std::string timeText(int64_t seconds) {
  const std::time_t time = static_cast<std::time_t>(seconds);
  std::tm local{};
  ::localtime_r(&time, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

void listGenerationsOf(const std::string& root, const PackageInfo& package) {
  const std::vector<Generation> generations = listGenerations(root, package.name);
  if (generations.empty()) {
    std::printf("%s: no install of %s kept\n", root.c_str(), package.name);
    return;
  }
  std::printf("%s:\n", root.c_str());
  for (auto it = generations.rbegin(); it != generations.rend(); ++it) {
    size_t replaced = 0, created = 0;
    for (const JournalEntry& entry : it->record.entries) {
      if (entry.path.starts_with(std::string(kBackupFolderName) + "/")) continue;  // ours
      replaced += entry.op == JournalOp::Replace ? 1 : 0;
      created += entry.op == JournalOp::Create ? 1 : 0;
    }
    std::printf("  %d  %s  %zu replaced, %zu created, backups %s%s\n", it->number,
                timeText(it->record.time).c_str(), replaced, created,
                sizeText(it->backupBytes).c_str(), it == generations.rbegin() ? "  (newest)" : "");
  }
}

int rollback(const OperatorOptions& options) {
  const std::string programDir = withSlash(programFolderOf(options));
  const PackageInfo& package = *options.packages.front();
  CommandFolderLock folder = lockProgramFolder("rollback", programDir, options.waitSeconds);
  if (folder.exitStatus != 0) return folder.exitStatus;
  int status = kExitComplete;
  installStopSignals();
  HookedTransactions stop(installHooksFor(options, programDir), "rollback", package, "rollback");
  for (const std::string& given : options.roots) {
    if (!isDirectory(given)) {
      std::fprintf(stderr, "%s目录不存在\n", given.c_str());
      status = kExitLocalFile;
      continue;
    }
    const std::string root = withSlash(given);
    if (options.list) {
      listGenerationsOf(root, package);
      continue;
    }
    const RootRollback done = rollbackRoot(programDir, root, package, &stop);
    const std::string text = describeRootRollback(root, done);
    std::fprintf(done.outcome == RootRollback::Outcome::RolledBack ? stdout : stderr, "%s\n",
                 text.c_str());
    if (done.outcome == RootRollback::Outcome::Stopped) return 128 + stopSignal();
    if (done.outcome == RootRollback::Outcome::Failed) {
      status = stop.failures().empty() ? kExitLocalFile : kExitOther;
    }
    if (done.outcome == RootRollback::Outcome::NothingKept && status == kExitComplete) {
      status = kExitOther;
    }
  }
  return status;
}

// Compares (and mends) one root; its exit status.
int validateOne(const OperatorOptions& options, const std::string& programDir,
                const std::string& root, HookedTransactions& stop) {
  const PackageInfo& package = *options.packages.front();
  ZIP zip;
  const Validation validation = validateRoot(programDir, root, package, zip);
  if (validation.failure) {
    std::fprintf(stderr, "%s: nothing to compare with: %s\n", root.c_str(),
                 describeInstallFailure(*validation.failure).c_str());
    return kExitLocalFile;
  }
  for (const InstalledFile& file : validation.missing)
    std::printf("missing  %s\n", file.path.c_str());
  for (const InstalledFile& file : validation.differs)
    std::printf("differs  %s\n", file.path.c_str());
  const size_t wrong = validation.missing.size() + validation.differs.size();
  const char* against = validation.fromListing ? "the last install" : package.archive;
  if (wrong == 0) {
    std::printf("%s: all %zu files match %s\n", root.c_str(), validation.expected.size(), against);
    return kExitComplete;
  }
  std::printf("%s: %zu of %zu files differ from %s or are missing\n", root.c_str(), wrong,
              validation.expected.size(), against);
  if (!options.repair) return kExitOther;
  const RootOutcome repaired = repairRoot(programDir, root, package, zip, validation, &stop);
  if (!repaired.failure) {
    std::printf("%s: repaired %zu files\n", root.c_str(), wrong);
    return kExitComplete;
  }
  if (repaired.failure->problem == InstallProblem::Stopped) {
    std::fprintf(stderr, "validate %s: stopped; %s\n", package.name,
                 restoredText(root, TransactionPurpose::Install).c_str());
    return 128 + stopSignal();
  }
  std::fprintf(stderr, "%s: repair failed: %s\n", root.c_str(),
               describeInstallFailure(*repaired.failure).c_str());
  if (repaired.restored) {
    std::fprintf(stderr, "%s\n", restoredText(root, TransactionPurpose::Install).c_str());
  }
  return kExitLocalFile;
}

int validate(const OperatorOptions& options) {
  const std::string programDir = withSlash(programFolderOf(options));
  CommandFolderLock folder = lockProgramFolder("validate", programDir, options.waitSeconds);
  if (folder.exitStatus != 0) return folder.exitStatus;
  installStopSignals();
  HookedTransactions stop(installHooksFor(options, programDir), "validate",
                          *options.packages.front(), "repair");
  int status = kExitComplete;
  for (const std::string& given : options.roots) {
    if (!isDirectory(given)) {
      std::fprintf(stderr, "%s目录不存在\n", given.c_str());
      status = kExitLocalFile;
      continue;
    }
    const int one = validateOne(options, programDir, withSlash(given), stop);
    if (one > kExitLocalFile) return one;  // stopped by a signal
    status = std::max(status, one);
  }
  return status;
}

// Parses the arguments of a rooted command and runs it.
int runRooted(const char* command, const std::vector<std::string>& args,
              int (*run)(const OperatorOptions&)) {
  ParsedOptions parsed = parseOperatorOptions(command, PackageCount::One, args);
  if (parsed.error.empty()) parsed.error = rootedUsage(parsed.options);
  if (!parsed.error.empty()) return commandUsageError(command, parsed.error);
  return run(parsed.options);
}

}  // namespace

int runRollbackCommand(const std::vector<std::string>& args) {
  return runRooted("rollback", args, rollback);
}

int runValidateCommand(const std::vector<std::string>& args) {
  return runRooted("validate", args, validate);
}
