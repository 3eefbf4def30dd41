// downloader-cli update: one check, then for each package with a new release its download
// and its install into the package's roots (the window's saved roots unless --root names
// others); the tools package is only extracted. The steps are those of the window's buttons.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command_session.h"
#include "command_table.h"
#include "commands.h"
#include "exit_status.h"
#include "folder_guard.h"
#include "notify_command.h"
#include "update/settings.h"
#include "update/update_check.h"

namespace {

// The roots a package goes to: --root for every package, else the ones the window saved.
std::vector<std::string> rootsFor(const OperatorOptions& options, const Globals& g,
                                  const PackageInfo& package) {
  if (package.directoryBox == nullptr) return {};
  if (!options.roots.empty()) return options.roots;
  return savedServerRoots(g.programDir, package).value_or(std::vector<std::string>{});
}

std::string joined(const std::vector<std::string>& texts) {
  std::string text;
  for (const std::string& piece : texts) text += (text.empty() ? "" : ", ") + piece;
  return text;
}

// What update will do for a package the check found new.
void plan(const OperatorOptions& options, const Globals& g, PackageReport& report) {
  const PackageInfo& package = *report.package;
  report.planned.push_back("download");
  if (package.directoryBox == nullptr) {
    report.planned.push_back("extract");
    return;
  }
  report.roots = rootsFor(options, g, package);
  if (report.roots.empty()) {
    report.note = "no roots: downloaded, not installed (save roots in the window, or give --root)";
  } else {
    report.planned.push_back("install");
  }
}

bool planned(const PackageReport& report, const char* step) {
  for (const std::string& name : report.planned) {
    if (name == step) return true;
  }
  return false;
}

// One line per package for people.
void tellPackage(std::FILE* out, const PackageReport& report, bool dryRun, const Globals& g) {
  if (out == nullptr) return;
  const PackageInfo& package = *report.package;
  std::string line = std::string(package.name) + ": ";
  if (report.state == "current") {
    line += "最新版";
  } else if (report.state == "unknown") {
    line += "the manifest gives no digest";
  } else if (dryRun) {
    line += "发现新版; would download " + report.url;
    if (planned(report, "install")) line += " and install into " + joined(report.roots);
    if (planned(report, "extract"))
      line += " and extract into " + g.programDir + package.stagingName;
  } else {
    line += "发现新版";
    for (const std::string& step : report.done) {
      if (step == "download") {
        char text[96];
        std::snprintf(text, sizeof text, "; downloaded (%lld bytes in %.1f s",
                      static_cast<long long>(report.bytes), report.seconds);
        line += text + deltaText(report) + ")";
      } else if (step == "install") {
        line += "; installed into " + joined(report.roots);
      } else if (step == "extract") {
        line += "; extracted into " + g.programDir + package.stagingName;
      }
    }
    if (!report.failures.empty()) line += "; failed (" + report.failures.front().step + ")";
  }
  if (!report.note.empty()) line += "; " + report.note;
  std::fprintf(out, "%s\n", line.c_str());
}

// Downloads and installs one new package; the signal that stopped it, 0 when none did.
int updatePackage(CommandSession& session, PackageReport& report) {
  const PackageInfo& package = *report.package;
  if (int stoppedBy = downloadPackage(session, package, report); stoppedBy != 0) return stoppedBy;
  if (!report.failures.empty()) return 0;
  if (planned(report, "install") || planned(report, "extract")) {
    return installInto(session, package, report.roots, report);
  }
  return 0;
}

int update(const OperatorOptions& options) {
  // A dry run changes nothing, so it takes no lock: it may look while another update runs.
  std::optional<CommandFolderLock> folder;
  if (!options.dryRun) {
    folder = lockProgramFolder("update", programFolderOf(options), options.waitSeconds);
  }
  CommandSession session("update", options);
  CommandReport report = session.newReport();
  report.dryRun = options.dryRun;
  Globals& g = session.state();
  g.recordSerial = !options.dryRun;
  if (folder && folder->exitStatus != 0) {
    report.failures.push_back(
        {"lock", FailureKind::LocalFile, programFolderOf(options), folder->reason});
  } else {
    applyLimits(g, options);
    // Each package's line of the summary says what was checked and installed.
    session.window.echoCheck = false;
    session.window.echoSuccess = false;
    checkForUpdates(g);
    tellCheckFailure(session, report.failures);
  }
  if (report.failures.empty()) {
    installStopSignals();
    for (const PackageInfo& package : packageTable()) {
      bool wanted = options.packages.empty();  // none named: all four
      for (const PackageInfo* named : options.packages) wanted = wanted || named == &package;
      if (!wanted) continue;
      report.packages.push_back(describePackage(g, package));
      PackageReport& current = report.packages.back();
      if (current.state != "new") {
        tellPackage(session.people(), current, options.dryRun, g);
        continue;
      }
      plan(options, g, current);
      // A signal during an install (which runs to its end) stops before the next download.
      int stoppedBy = stopSignal();
      if (stoppedBy == 0 && !options.dryRun) stoppedBy = updatePackage(session, current);
      tellPackage(session.people(), current, options.dryRun, g);
      if (stoppedBy != 0) {
        report.exitStatus = 128 + stoppedBy;
        break;
      }
    }
  }
  const int status = finishCommand(options, report);
  if (!options.notify.empty() && (report.changed() || status != 0)) {
    notifyAndTell("update", options.notify, toJson(report),
                  std::chrono::seconds(options.notifySeconds));
  }
  return status;
}

}  // namespace

int runUpdateCommand(const std::vector<std::string>& arguments) {
  ParsedOptions parsed = parseOperatorOptions("update", PackageCount::Any, arguments);
  if (!parsed.error.empty()) return commandUsageError("update", parsed.error);
  return update(parsed.options);
}
