// rollback and validate: the backups and the installed listing that each install leaves in a
// root, seen from the command line.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <optional>

#include "command_table.h"
#include "commands.h"
#include "exit_status.h"
#include "folder_guard.h"
#include "install/file_tree.h"
#include "install/rollback_job.h"
#include "install/validate.h"
#include "platform/decimal.h"
#include "platform/system_info.h"
#include "shell/packages.h"
#include "transaction/generations.h"
#include "transaction/recovery.h"
#include "transaction/transaction.h"
#include "zip/zip.h"

namespace {

constexpr int64_t kLongestWait = 86400;

struct Options {
  const PackageInfo* package = nullptr;
  std::vector<std::string> roots;
  std::string dir;
  int waitSeconds = 0;
  bool list = false;    // rollback
  bool repair = false;  // validate
  std::string error;
};

// A path from the command line, made absolute against the current folder.
std::string absolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return error ? path : (current / path).lexically_normal().string();
}

std::string withSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

Options parse(const std::string& command, const std::vector<std::string>& args) {
  Options options;
  const std::string flag = command == "rollback" ? "--list" : "--repair";
  for (size_t i = 0; i < args.size() && options.error.empty(); ++i) {
    const std::string& arg = args[i];
    const bool takesValue = arg == "--root" || arg == "--dir" || arg == "--wait";
    if (takesValue && i + 1 == args.size()) {
      options.error = arg + " needs a value";
    } else if (arg == "--root") {
      options.roots.push_back(absolutePath(args[++i]));
    } else if (arg == "--dir") {
      options.dir = withSlash(absolutePath(args[++i]));
    } else if (arg == "--wait") {
      const std::optional<int64_t> wait = parseDecimal(args[++i]);
      if (!wait || *wait > kLongestWait) {
        options.error = "--wait takes a number from 0 to 86400, not '" + args[i] + "'";
      } else {
        options.waitSeconds = static_cast<int>(*wait);
      }
    } else if (arg == flag) {
      (command == "rollback" ? options.list : options.repair) = true;
    } else if (options.package == nullptr && arg.rfind("--", 0) != 0) {
      options.package = findPackage(arg);
      if (options.package == nullptr) {
        options.error =
            "unknown package: " + arg + " (三端, 功能 or 反挂, or server, plugin, anticheat)";
      } else if (options.package->directoryBox == nullptr) {
        options.error = std::string("the ") + options.package->name + " package has no roots";
      }
    } else {
      options.error = "unexpected argument: " + arg;
    }
  }
  if (options.error.empty() && options.package == nullptr)
    options.error = "a package name is needed";
  if (options.error.empty() && options.roots.empty())
    options.error = "at least one --root DIR is needed";
  return options;
}

std::string programFolderOf(const Options& options) {
  return options.dir.empty() ? withSlash(programDirectory()) : options.dir;
}

// SIGINT and SIGTERM stop a rollback or a repair: the root is put back as it was.
std::atomic<int> caughtSignal{0};

extern "C" void onTransactionStopSignal(int signal) {
  if (caughtSignal.exchange(signal) != 0) ::_exit(128 + signal);
}

class SignalStop : public TransactionObserver {
 public:
  SignalStop() {
    struct sigaction action {};
    action.sa_handler = onTransactionStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
  }
  bool stopRequested() override { return caughtSignal.load() != 0; }
};

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

int rollback(const Options& options) {
  const std::string programDir = programFolderOf(options);
  CommandFolderLock folder = lockProgramFolder("rollback", programDir, options.waitSeconds);
  if (folder.exitStatus != 0) return folder.exitStatus;
  int status = kExitComplete;
  SignalStop stop;
  for (const std::string& given : options.roots) {
    if (!isDirectory(given)) {
      std::fprintf(stderr, "%s目录不存在\n", given.c_str());
      status = kExitLocalFile;
      continue;
    }
    const std::string root = withSlash(given);
    if (options.list) {
      listGenerationsOf(root, *options.package);
      continue;
    }
    const RootRollback done = rollbackRoot(programDir, root, *options.package, &stop);
    const std::string text = describeRootRollback(root, done);
    std::fprintf(done.outcome == RootRollback::Outcome::RolledBack ? stdout : stderr, "%s\n",
                 text.c_str());
    if (done.outcome == RootRollback::Outcome::Stopped) return 128 + caughtSignal.load();
    if (done.outcome == RootRollback::Outcome::Failed) status = kExitLocalFile;
    if (done.outcome == RootRollback::Outcome::NothingKept && status == kExitComplete) {
      status = kExitOther;
    }
  }
  return status;
}

// Compares (and mends) one root; its exit status.
int validateOne(const Options& options, const std::string& programDir, const std::string& root,
                SignalStop& stop) {
  const PackageInfo& package = *options.package;
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
    return 128 + caughtSignal.load();
  }
  std::fprintf(stderr, "%s: repair failed: %s\n", root.c_str(),
               describeInstallFailure(*repaired.failure).c_str());
  if (repaired.restored) {
    std::fprintf(stderr, "%s\n", restoredText(root, TransactionPurpose::Install).c_str());
  }
  return kExitLocalFile;
}

int validate(const Options& options) {
  const std::string programDir = programFolderOf(options);
  CommandFolderLock folder = lockProgramFolder("validate", programDir, options.waitSeconds);
  if (folder.exitStatus != 0) return folder.exitStatus;
  SignalStop stop;
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

}  // namespace

int runRollbackCommand(const std::vector<std::string>& args) {
  const Options options = parse("rollback", args);
  if (!options.error.empty()) return commandUsageError("rollback", options.error);
  return rollback(options);
}

int runValidateCommand(const std::vector<std::string>& args) {
  const Options options = parse("validate", args);
  if (!options.error.empty()) return commandUsageError("validate", options.error);
  return validate(options);
}
