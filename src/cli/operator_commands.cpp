#include "command_table.h"
#include "commands.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>

#include "console_window.h"
#include "download_jobs/package_download.h"
#include "install/install_jobs.h"
#include "platform/system_info.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/packages.h"
#include "update/update_check.h"
#include "zip/zip.h"

namespace {

struct Options {
  std::optional<const PackageInfo*> package;
  std::string manifest = builtInManifestUrl();
  std::string dir;
  std::vector<std::string> roots;
  bool help = false;
  std::string error;
};

// A path from the command line, made absolute against the current folder, so that "prog"
// and "$PWD/prog" mean the same everywhere (archives, staging folder, messages).
std::string absolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  if (error) return path;
  return (current / path).lexically_normal().string();
}

Options parse(const std::vector<std::string>& args, bool wantsPackage) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool hasValue = i + 1 < args.size();
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if ((arg == "--manifest" || arg == "--dir" || arg == "--root") && !hasValue) {
      options.error = arg + " needs a value";
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

// The first SIGINT or SIGTERM during a download; a second one ends the program at once.
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

// The state of one command, with a console in place of the window.
class Session {
 public:
  explicit Session(const Options& options) {
    initGlobals(globals_);
    Globals& g = *globals_;
    g.window = &window;
    g.manifestUrl = options.manifest;
    g.setProgramDir(options.dir.empty() ? programDirectory() : options.dir);
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

int check(const Options& options) {
  Session session(options);
  checkForUpdates(session.state());
  return session.window.text(control::透明标签1).empty() ? 0 : 1;
}

int download(const Options& options) {
  const PackageInfo& package = **options.package;
  Session session(options);
  Globals& g = session.state();
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
  if (!session.window.messages.empty()) return 1;  // empty URL, or the engine refused
  std::string mark = session.window.text(package.mark);
  std::printf("%s: %s\n", package.name, mark.c_str());
  return mark == "最新版" ? 0 : 1;
}

int install(const Options& options) {
  const PackageInfo& package = **options.package;
  if (options.roots.empty() && package.directoryBox != nullptr) {
    std::fprintf(stderr, "install %s: at least one --root DIR is needed\n", package.name);
    return 2;
  }
  Session session(options);
  std::string roots;
  for (const std::string& root : options.roots) roots += (roots.empty() ? "" : "\n") + root;
  ZIP zip;
  if (package.directoryBox == nullptr) {
    installTools(session.state(), zip);
  } else {
    session.window.setText(package.directoryBox, roots);
    for (const RootFailure& failed : installPackage(session.state(), package, zip)) {
      std::fprintf(stderr, "install %s: %s\n", package.name,
                   describeInstallFailure(failed.failure).c_str());
    }
  }
  const std::vector<std::string>& messages = session.window.messages;
  bool complete = messages.size() == 1 && messages.back() == "安装完成";
  return complete ? 0 : 1;
}

int runOperatorCommand(const std::string& command, const std::vector<std::string>& args) {
  bool wantsPackage = command != "check";
  Options options = parse(args, wantsPackage);
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
