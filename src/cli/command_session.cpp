#include "command_session.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>

#include "download_jobs/package_download.h"
#include "exit_status.h"
#include "install/install_jobs.h"
#include "net/url_split.h"
#include "platform/files.h"
#include "platform/system_info.h"
#include "shell/controls.h"
#include "transaction/recovery.h"
#include "transaction/transaction.h"
#include "transfer/output_file.h"
#include "update/settings.h"
#include "update/update_check.h"
#include "zip/zip.h"

namespace {

constexpr char kInstallDone[] = "安装完成";

std::atomic<int> caughtSignal{0};

extern "C" void onOperatorStopSignal(int signal) {
  if (caughtSignal.exchange(signal) != 0) ::_exit(128 + signal);
}

std::FILE* peopleStream(const OperatorOptions& options) {
  if (options.quiet) return nullptr;
  return options.json ? stderr : stdout;
}

int64_t fileSize(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : 0;
}

// Why a download that was never started could not be: the manifest, or the engine.
FailureReport unstartedDownload(CommandSession& session, const PackageInfo& package) {
  Globals& g = session.state();
  if (g.package(package.id).manifest.url.empty()) {
    if (g.checkFailure) {
      std::vector<FailureReport> told;
      tellCheckFailure(session, told);
      return told.front();
    }
    return tellFailure(session.command(), "download", FailureKind::ServerReply, g.manifestUrl,
                       std::string("the manifest names no URL under [") + package.section + "]");
  }
  return tellFailure(session.command(), "download", FailureKind::None, g.downloadUrl,
                     session.window.text(control::透明标签1));
}

// What a download that ran left: nothing when the check after it found the archive current,
// else why not.
std::optional<FailureReport> endedDownload(CommandSession& session, const PackageInfo& package) {
  Globals& g = session.state();
  const TaskOutcome outcome = g.downloadObject->outcome();
  const std::string& command = session.command();
  const PackageState& state = g.package(package.id);
  if (!outcome.mismatches.empty()) {
    // The archive the manifest vouches for did not arrive: the bytes were discarded and the
    // archive beside the program (if any) is the one it was.
    const ContentMismatch& first = outcome.mismatches.front();
    return tellFailure(command, "download", FailureKind::Integrity, g.downloadTargetPath,
                       std::string(package.archive) + " " + first.what +
                           "与远程配置不符 (manifest " + first.expected + ", download " +
                           first.actual + "; the download was discarded)");
  }
  if (outcome.ending != TaskEnding::Complete) {
    std::string what = outcome.message.empty() ? "下载未完成" : outcome.message;
    if (fileExists(partialPathOf(g.downloadTargetPath))) {
      what += " (" + partialPathOf(g.downloadTargetPath) + " kept; the next download continues it)";
    }
    return tellFailure(command, "download", outcome.kind, g.downloadUrl, what);
  }
  const ArchiveMatch match = archiveMatch(state);
  if (match == ArchiveMatch::Current) return std::nullopt;
  if (g.checkFailure) {
    std::vector<FailureReport> told;
    tellCheckFailure(session, told);
    return told.front();
  }
  std::string what = std::string(package.archive);
  if (match == ArchiveMatch::Sha256Differs) {
    what += " SHA256与远程配置不符 (manifest " + state.manifest.sha256 + ", archive " +
            state.localSha256 + ")";
  } else if (match == ArchiveMatch::SizeDiffers) {
    what += " 大小与远程配置不符 (manifest " + std::to_string(state.manifest.size.value_or(0)) +
            " bytes, archive " + std::to_string(state.localSize) + ")";
  } else {
    what +=
        " MD5与远程配置不符 (manifest " + state.manifest.md5 + ", archive " + state.localMd5 + ")";
  }
  return tellFailure(command, "download", FailureKind::Integrity, g.downloadTargetPath, what);
}

}  // namespace

CommandSession::CommandSession(std::string command, const OperatorOptions& options)
    : window(peopleStream(options), !options.quiet),
      command_(std::move(command)),
      people_(peopleStream(options)) {
  initGlobals(globals_);
  Globals& g = *globals_;
  g.window = &window;
  g.setProgramDir(programFolderOf(options));
  g.processorCount = processorCount();
  if (options.manifest) {
    g.manifestUrl = *options.manifest;
  } else {
    applyVendorManifest(g);
  }
  applyVendorTrust(g);
  hooks_ = installHooksFor(options, g.programDir);
}

CommandSession::~CommandSession() {
  freeGlobals(globals_);
}

CommandReport CommandSession::newReport() const {
  CommandReport report;
  report.command = command_;
  report.manifest = urlWithoutPassword(globals_->manifestUrl);
  return report;
}

std::string programFolderOf(const OperatorOptions& options) {
  return options.dir.empty() ? programDirectory() : options.dir;
}

void applyLimits(Globals& g, const OperatorOptions& options) {
  const long timeoutMs = static_cast<long>(options.timeoutSeconds) * 1000;
  g.downloadTuning.retryLimit = options.retries;
  g.deltaDownloads = !options.noDelta;
  g.downloadTimeoutMs = static_cast<int32_t>(timeoutMs);
  g.manifestConnectTimeoutMs = timeoutMs;
  g.manifestIdleTimeoutMs = timeoutMs;
  g.manifestTotalTimeoutMs = std::max(g.manifestTotalTimeoutMs, timeoutMs);
}

void installStopSignals() {
  struct sigaction action {};
  action.sa_handler = onOperatorStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

int stopSignal() {
  return caughtSignal.load();
}

PackageReport describePackage(const Globals& g, const PackageInfo& package) {
  const PackageState& state = g.package(package.id);
  PackageReport report;
  report.package = &package;
  report.url = urlWithoutPassword(state.manifest.url);
  report.manifestMd5 = state.manifest.md5;
  report.localMd5 = state.localMd5;
  const ArchiveMatch match = archiveMatch(state);
  report.state = match == ArchiveMatch::Unknown   ? "unknown"
                 : match == ArchiveMatch::Current ? "current"
                                                  : "new";
  return report;
}

bool tellCheckFailure(CommandSession& session, std::vector<FailureReport>& failures) {
  const Globals& g = session.state();
  if (!g.checkFailure) return false;
  std::string what = g.checkFailure->text;
  if (!g.checkFailure->reason.empty()) what += ": " + g.checkFailure->reason;
  failures.push_back(
      tellFailure(session.command(), "manifest", g.checkFailure->kind, g.manifestUrl, what));
  return true;
}

int downloadPackage(CommandSession& session, const PackageInfo& package, PackageReport& report) {
  Globals& g = session.state();
  const size_t messagesBefore = session.window.messages.size();
  const auto start = std::chrono::steady_clock::now();
  startPackageDownload(g, package);
  int stoppedBy = 0;
  if (session.window.messages.size() == messagesBefore) {
    // The download ends with an update check of its own; its digests are the answer. A signal
    // stops it as the 停止 button does: the partial archive stays for the next run.
    auto ended = [&g] { return g.downloadBusy == 0 && !g.checkRunning; };
    while (!session.window.runUntil(ended, std::chrono::milliseconds(200))) {
      if (stoppedBy == 0 && (stoppedBy = stopSignal()) != 0 && g.downloadBusy != 0) {
        stopPackageDownload(g);
      }
    }
  }
  report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report.bytes = g.doneBytes;
  if (stoppedBy != 0) {
    report.failures.push_back(
        tellFailure(session.command(), "download", FailureKind::None, g.downloadTargetPath,
                    std::string(stoppedBy == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM") +
                        "; the next download continues it"));
    return stoppedBy;
  }
  if (session.window.messages.size() != messagesBefore) {
    report.failures.push_back(unstartedDownload(session, package));
    return 0;
  }
  if (std::optional<FailureReport> failure = endedDownload(session, package)) {
    report.failures.push_back(std::move(*failure));
    return 0;
  }
  report.bytes = fileSize(g.downloadTargetPath);
  report.fetched = g.fetchedBytes;
  report.reused = g.reusedBytes;
  report.done.push_back("download");
  return 0;
}

namespace {

// The failures the install job told in its message boxes since `messagesBefore`; true when it
// also ended with 安装完成.
bool collectInstallMessages(CommandSession& session, const PackageInfo& package,
                            size_t messagesBefore, PackageReport& report) {
  const Globals& g = session.state();
  bool complete = false;
  const std::vector<std::string>& messages = session.window.messages;
  for (size_t k = messagesBefore; k < messages.size(); ++k) {
    if (messages[k] == kInstallDone) {
      complete = true;
      continue;
    }
    // Every other message names what failed (an archive, a root); all of them are local.
    const bool archive = messages[k] == package.extractionFailure;
    report.failures.push_back({"install", FailureKind::LocalFile,
                               archive ? g.programDir + package.archive : std::string(),
                               messages[k]});
  }
  return complete;
}

}  // namespace

int installInto(CommandSession& session, const PackageInfo& package,
                const std::vector<std::string>& roots, PackageReport& report) {
  Globals& g = session.state();
  session.window.successMessage = kInstallDone;
  const size_t messagesBefore = session.window.messages.size();
  ZIP zip;
  if (package.directoryBox == nullptr) {
    installTools(g, zip);
  } else {
    std::string lines;
    for (const std::string& root : roots) lines += (lines.empty() ? "" : "\n") + root;
    session.window.setText(package.directoryBox, lines);
    report.roots = roots;
    installStopSignals();
    HookedTransactions hooked(session.hooks(), session.command(), package, "install");
    const std::vector<RootFailure> failed = installPackage(g, package, zip, &hooked);
    report.failures.insert(report.failures.end(), hooked.failures().begin(),
                           hooked.failures().end());
    if (const int signal = stopSignal(); signal != 0) {
      for (const RootFailure& root : failed) {
        if (root.failure.problem != InstallProblem::Stopped &&
            root.failure.problem != InstallProblem::Cancelled) {
          continue;
        }
        std::string where = root.restored ? restoredText(root.root, TransactionPurpose::Install)
                                          : std::string("before changing ") + root.root;
        report.failures.push_back(
            tellFailure(session.command(), "install", FailureKind::None, root.root,
                        std::string(signal == SIGINT ? "stopped by SIGINT" : "stopped by SIGTERM") +
                            "; " + where));
        return signal;
      }
    }
  }
  const bool complete = collectInstallMessages(session, package, messagesBefore, report);
  if (complete && report.failures.empty()) {
    report.done.push_back(package.directoryBox == nullptr ? "extract" : "install");
  }
  return 0;
}

int finishCommand(const OperatorOptions& options, CommandReport& report, int success) {
  const FailureReport* failure = report.firstFailure();
  if (report.exitStatus == 0) report.exitStatus = failure ? exitStatusOf(*failure) : success;
  if (options.json) {
    const std::string json = toJson(report);
    std::fwrite(json.data(), 1, json.size(), stdout);
    std::fflush(stdout);
  }
  return report.exitStatus;
}
