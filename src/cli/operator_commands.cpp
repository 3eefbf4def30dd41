// The operator's commands that each do one step: check, download, install.
#include <cstdio>
#include <optional>

#include "command_session.h"
#include "command_table.h"
#include "commands.h"
#include "exit_status.h"
#include "folder_guard.h"
#include "shell/globals.h"
#include "update/update_check.h"

namespace {

int check(const OperatorOptions& options) {
  CommandSession session("check", options);
  Globals& g = session.state();
  // check changes nothing but the Serial a verified manifest raises; that is recorded only
  // when the program folder is free, else its holder records it at its own check.
  std::optional<FolderLock> folder;
  if (!g.vendorPublicKey.empty()) folder = lockProgramFolderIfFree(g.programDir);
  g.recordSerial = folder.has_value();
  checkForUpdates(g);
  CommandReport report = session.newReport();
  tellCheckFailure(session, report.failures);
  bool anyNew = false;
  for (const PackageInfo& package : packageTable()) {
    report.packages.push_back(describePackage(g, package));
    anyNew = anyNew || report.packages.back().state == "new";
  }
  return finishCommand(options, report, anyNew ? kExitUpdatesAvailable : kExitComplete);
}

// A refused lock in the report, already told on standard error.
int refusedLock(const OperatorOptions& options, const CommandSession& session,
                const CommandFolderLock& folder) {
  CommandReport report = session.newReport();
  report.failures.push_back(
      {"lock", FailureKind::LocalFile, programFolderOf(options), folder.reason});
  return finishCommand(options, report);
}

int download(const OperatorOptions& options) {
  const PackageInfo& package = *options.packages.front();
  CommandFolderLock folder =
      lockProgramFolder("download", programFolderOf(options), options.waitSeconds);
  CommandSession session("download", options);
  if (folder.exitStatus != 0) return refusedLock(options, session, folder);
  Globals& g = session.state();
  applyLimits(g, options);
  checkForUpdates(g);
  session.window.echoCheck = false;
  CommandReport report = session.newReport();
  report.packages.push_back(describePackage(g, package));
  PackageReport& done = report.packages.back();
  installStopSignals();
  if (int stoppedBy = downloadPackage(session, package, done); stoppedBy != 0) {
    report.exitStatus = 128 + stoppedBy;
    return finishCommand(options, report);
  }
  if (session.people() != nullptr && done.reused > 0) {
    std::fprintf(session.people(), "%s: downloaded (%lld bytes%s)\n", package.name,
                 static_cast<long long>(done.bytes), deltaText(done).c_str());
  }
  const std::string mark = session.window.text(package.mark);
  if (session.people() != nullptr && !mark.empty()) {
    std::fprintf(session.people(), "%s: %s\n", package.name, mark.c_str());
  }
  return finishCommand(options, report);
}

int install(const OperatorOptions& options) {
  const PackageInfo& package = *options.packages.front();
  if (options.roots.empty() && package.directoryBox != nullptr) {
    return commandUsageError("install", "at least one --root DIR is needed");
  }
  CommandFolderLock folder =
      lockProgramFolder("install", programFolderOf(options), options.waitSeconds);
  CommandSession session("install", options);
  if (folder.exitStatus != 0) return refusedLock(options, session, folder);
  CommandReport report = session.newReport();
  // The install reads no manifest: only what it did is reported.
  PackageReport done;
  done.package = &package;
  done.state = "unknown";
  const int stoppedBy = installInto(session, package, options.roots, done);
  report.packages.push_back(std::move(done));
  if (stoppedBy != 0) report.exitStatus = 128 + stoppedBy;
  return finishCommand(options, report);
}

int runOperatorCommand(const char* command, PackageCount packages,
                       const std::vector<std::string>& arguments,
                       int (*run)(const OperatorOptions&)) {
  ParsedOptions parsed = parseOperatorOptions(command, packages, arguments);
  if (!parsed.error.empty()) return commandUsageError(command, parsed.error);
  return run(parsed.options);
}

}  // namespace

int runCheckCommand(const std::vector<std::string>& arguments) {
  return runOperatorCommand("check", PackageCount::None, arguments, check);
}
int runDownloadCommand(const std::vector<std::string>& arguments) {
  return runOperatorCommand("download", PackageCount::One, arguments, download);
}
int runInstallCommand(const std::vector<std::string>& arguments) {
  return runOperatorCommand("install", PackageCount::One, arguments, install);
}
