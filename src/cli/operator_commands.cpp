#include "command_table.h"
#include "commands.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>

#include "console_window.h"
#include "download_jobs/package_download.h"
#include "exit_status.h"
#include "folder_guard.h"
#include "install/install_jobs.h"
#include "net/url_split.h"
#include "platform/decimal.h"
#include "platform/files.h"
#include "platform/system_info.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/packages.h"
#include "transaction/recovery.h"
#include "transaction/transaction.h"
#include "transfer/output_file.h"
#include "update/update_check.h"
#include "zip/zip.h"

namespace {

// The same defaults as fetch; the window keeps the engine's own (999 retries, 5 s limits).
constexpr int32_t kDefaultRetries = 5;
constexpr int32_t kDefaultTimeoutSeconds = 20;
constexpr int32_t kLongestSeconds = 86400;
constexpr char kInstallDone[] = "安装完成";

struct Options {
  std::optional<const PackageInfo*> package;
  std::string manifest = builtInManifestUrl();
  std::string dir;
  std::vector<std::string> roots;
  int32_t retries = kDefaultRetries;                // download
  int32_t timeoutSeconds = kDefaultTimeoutSeconds;  // download
  int32_t waitSeconds = 0;                          // download, install: for the folder's lock
  bool help = false;
  std::string error;
};

// A number option: which commands take it, and its range.
struct CountOption {
  const char* name;
  int32_t Options::*field;
  int32_t least;
  int32_t most;
  bool download;
  bool install;
};

constexpr CountOption kCountOptions[] = {
    {"--retries", &Options::retries, 0, std::numeric_limits<int32_t>::max(), true, false},
    {"--timeout", &Options::timeoutSeconds, 1, kLongestSeconds, true, false},
    {"--wait", &Options::waitSeconds, 0, kLongestSeconds, true, true},
};

const CountOption* countOption(const std::string& command, const std::string& name) {
  for (const CountOption& option : kCountOptions) {
    if (name != option.name) continue;
    if ((command == "download" && option.download) || (command == "install" && option.install)) {
      return &option;
    }
  }
  return nullptr;
}

// A path from the command line, made absolute against the current folder, so that "prog"
// and "$PWD/prog" mean the same everywhere (archives, staging folder, messages).
std::string absolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  if (error) return path;
  return (current / path).lexically_normal().string();
}

Options parse(const std::string& command, const std::vector<std::string>& args) {
  const bool wantsPackage = command != "check";
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    const CountOption* count = countOption(command, arg);
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if ((arg == "--manifest" || arg == "--dir" || arg == "--root" || count != nullptr) &&
               !hasValue) {
      options.error = arg + " needs a value";
    } else if (count != nullptr) {
      const std::string& value = args[++i];
      std::optional<int64_t> number = parseDecimal(value);
      if (!number || *number < count->least || *number > count->most) {
        options.error = arg + " takes a number from " + std::to_string(count->least) + " to " +
                        std::to_string(count->most) + ", not '" + value + "'";
      } else {
        options.*(count->field) = static_cast<int32_t>(*number);
      }
    } else if (arg == "--manifest") {
      options.manifest = args[++i];
    } else if (arg == "--dir") {
      options.dir = absolutePath(args[++i]);
    } else if (arg == "--root") {
      options.roots.push_back(absolutePath(args[++i]));
    } else if (wantsPackage && !options.package && arg.rfind("--", 0) != 0) {
      const PackageInfo* package = findPackage(arg);
      if (package == nullptr) {
        options.error = "unknown package: " + arg +
                        " (三端, 功能, 反挂, 工具 or server, plugin, "
                        "anticheat, tools)";
      }
      options.package = package;
    } else {
      options.error = "unexpected argument: " + arg;
    }
  }
  if (wantsPackage && !options.package && options.error.empty() && !options.help) {
    options.error = "a package name is needed";
  }
  return options;
}

// The first SIGINT or SIGTERM during a download or an install; a second one ends the program at
// once.
std::atomic<int> caughtSignal{0};

extern "C" void onDownloadStopSignal(int signal) {
  if (caughtSignal.exchange(signal) != 0) ::_exit(128 + signal);
}

void installStopSignals() {
  struct sigaction action {};
  action.sa_handler = onDownloadStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

std::string programFolderOf(const Options& options) {
  return options.dir.empty() ? programDirectory() : options.dir;
}

// The state of one command, with a console in place of the window.
class Session {
 public:
  explicit Session(const Options& options) {
    initGlobals(globals_);
    Globals& g = *globals_;
    g.window = &window;
    g.manifestUrl = options.manifest;
    g.setProgramDir(programFolderOf(options));
    g.processorCount = processorCount();
  }
  ~Session() { freeGlobals(globals_); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Globals& state() { return *globals_; }
  ConsoleWindow window;

 private:
  std::unique_ptr<Globals> globals_;
};

// `text` with the password of `url` (if it carries one) written as "******".
std::string withoutPasswordOf(std::string text, const std::string& url) {
  const std::string shown = urlWithoutPassword(url);
  if (shown.size() >= url.size()) return text;
  size_t colon = 0;
  while (colon < shown.size() && shown[colon] == url[colon]) ++colon;
  const std::string password = url.substr(colon + 1, url.size() - shown.size() - 1);
  if (password.empty()) return text;
  for (size_t at = 0; (at = text.find(password, at)) != std::string::npos; at += 6) {
    text.replace(at, password.size(), "******");
  }
  return text;
}

// "downloader-cli COMMAND: WHERE: WHAT" on standard error; WHERE is a URL (its password
// masked, here and in WHAT) or a path.
void reportFailure(const char* command, const std::string& where, const std::string& what) {
  std::fprintf(stderr, "downloader-cli %s: %s: %s\n", command, urlWithoutPassword(where).c_str(),
               withoutPasswordOf(what, where).c_str());
}

int reportCheckFailure(const char* command, const Globals& g, const CheckFailure& failure) {
  std::string what = failure.text;
  if (!failure.reason.empty()) what += ": " + failure.reason;
  reportFailure(command, g.manifestUrl, what);
  return exitStatusFor(failure.kind);
}

int check(const Options& options) {
  Session session(options);
  Globals& g = session.state();
  checkForUpdates(g);
  return g.checkFailure ? reportCheckFailure("check", g, *g.checkFailure) : kExitComplete;
}

// The download's limits from the command line, for the manifest fetches around it too.
void applyLimits(Globals& g, const Options& options) {
  const long timeoutMs = static_cast<long>(options.timeoutSeconds) * 1000;
  g.downloadTuning.retryLimit = options.retries;
  g.downloadTimeoutMs = static_cast<int32_t>(timeoutMs);
  g.manifestConnectTimeoutMs = timeoutMs;
  g.manifestIdleTimeoutMs = timeoutMs;
  g.manifestTotalTimeoutMs = std::max(g.manifestTotalTimeoutMs, timeoutMs);
}

// Why a download that was never started could not be: the manifest, or the engine.
int reportUnstarted(Session& session, const PackageInfo& package) {
  Globals& g = session.state();
  if (g.downloadUrl.empty()) {
    if (g.checkFailure) return reportCheckFailure("download", g, *g.checkFailure);
    reportFailure("download", g.manifestUrl,
                  std::string("the manifest names no URL under [") + package.section + "]");
    return kExitServerReply;
  }
  reportFailure("download", g.downloadUrl, session.window.text(control::透明标签1));
  return kExitOther;
}

// What a download that ran left: the mark of the check after it, or why it failed.
int reportDownload(Session& session, const PackageInfo& package) {
  Globals& g = session.state();
  const TaskOutcome outcome = g.downloadObject->outcome();
  const std::string mark = session.window.text(package.mark);
  if (!mark.empty()) std::printf("%s: %s\n", package.name, mark.c_str());
  if (outcome.ending != TaskEnding::Complete) {
    std::string what = outcome.message.empty() ? "下载未完成" : outcome.message;
    if (fileExists(partialPathOf(g.downloadTargetPath))) {
      what += " (" + partialPathOf(g.downloadTargetPath) + " kept; the next download continues it)";
    }
    reportFailure("download", g.downloadUrl, what);
    return exitStatusFor(outcome.kind);
  }
  if (mark == "最新版") return kExitComplete;
  if (g.checkFailure) return reportCheckFailure("download", g, *g.checkFailure);
  const PackageState& state = g.package(package.id);
  reportFailure("download", g.downloadTargetPath,
                std::string(package.archive) + " MD5与远程配置不符 (manifest " +
                    state.manifest.md5 + ", archive " + state.localMd5 + ")");
  return kExitIntegrity;
}

int download(const Options& options) {
  const PackageInfo& package = **options.package;
  CommandFolderLock folder =
      lockProgramFolder("download", programFolderOf(options), options.waitSeconds);
  if (folder.exitStatus != 0) return folder.exitStatus;
  Session session(options);
  Globals& g = session.state();
  applyLimits(g, options);
  checkForUpdates(g);
  session.window.echoCheck = false;
  installStopSignals();
  startPackageDownload(g, package);
  int stoppedBy = 0;
  if (session.window.messages.empty()) {
    // The download ends with an update check of its own; its marks are the answer. A signal
    // stops it as the 停止 button does: the partial archive stays for the next run.
    auto ended = [&g] { return g.downloadBusy == 0 && !g.checkRunning; };
    while (!session.window.runUntil(ended, std::chrono::milliseconds(200))) {
      if (stoppedBy == 0 && (stoppedBy = caughtSignal.load()) != 0 && g.downloadBusy != 0) {
        stopPackageDownload(g);
      }
    }
  }
  if (stoppedBy != 0) {
    std::fprintf(stderr, "download %s: stopped; the next download continues it\n", package.name);
    return 128 + stoppedBy;
  }
  if (!session.window.messages.empty()) return reportUnstarted(session, package);
  return reportDownload(session, package);
}

// Stops an install's transaction once SIGINT or SIGTERM has arrived.
class SignalStop : public TransactionObserver {
 public:
  bool stopRequested() override { return caughtSignal.load() != 0; }
};

int install(const Options& options) {
  const PackageInfo& package = **options.package;
  if (options.roots.empty() && package.directoryBox != nullptr) {
    std::fprintf(stderr, "install %s: at least one --root DIR is needed\n", package.name);
    return 2;
  }
  CommandFolderLock folder =
      lockProgramFolder("install", programFolderOf(options), options.waitSeconds);
  if (folder.exitStatus != 0) return folder.exitStatus;
  Session session(options);
  session.window.successMessage = kInstallDone;
  std::string roots;
  for (const std::string& root : options.roots) roots += (roots.empty() ? "" : "\n") + root;
  ZIP zip;
  if (package.directoryBox == nullptr) {
    installTools(session.state(), zip);
  } else {
    // A failed root's message box (on standard error) names the file and the system's reason.
    session.window.setText(package.directoryBox, roots);
    // A signal stops the install as closing the window does: the root being changed is put
    // back as it was, and no other root is begun.
    installStopSignals();
    SignalStop stop;
    const std::vector<RootFailure> failed = installPackage(session.state(), package, zip, &stop);
    const bool finished =
        !session.window.messages.empty() && session.window.messages.back() == kInstallDone;
    if (const int signal = caughtSignal.load(); signal != 0 && !finished) {
      std::string where = "before changing any root";
      for (const RootFailure& root : failed) {
        if (root.failure.problem == InstallProblem::Stopped && root.restored) {
          where = restoredText(root.root, TransactionPurpose::Install);
        }
      }
      std::fprintf(stderr, "install %s: stopped; %s\n", package.name, where.c_str());
      return 128 + signal;
    }
  }
  // Every other message names what failed (an archive, a root); all of them are local files.
  const std::vector<std::string>& messages = session.window.messages;
  bool complete = messages.size() == 1 && messages.back() == kInstallDone;
  return complete ? kExitComplete : kExitLocalFile;
}

int runOperatorCommand(const std::string& command, const std::vector<std::string>& args) {
  Options options = parse(command, args);
  if (!options.error.empty()) return commandUsageError(command, options.error);
  if (command == "check") return check(options);
  if (command == "download") return download(options);
  return install(options);
}

}  // namespace

int runCheckCommand(const std::vector<std::string>& args) {
  return runOperatorCommand("check", args);
}
int runDownloadCommand(const std::vector<std::string>& args) {
  return runOperatorCommand("download", args);
}
int runInstallCommand(const std::vector<std::string>& args) {
  return runOperatorCommand("install", args);
}
