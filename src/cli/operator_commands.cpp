#include "commands.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "console_window.h"
#include "download/package_download.h"
#include "install/install_jobs.h"
#include "install/zip.h"
#include "platform/system_info.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "update/update_check.h"

namespace {

struct Package {
  const char* name;
  const char* alias;
  const DownloadRow& (*download)();
  const PackageInstallSpec& (*install)();
  const char* mark;
};

const Package kPackages[] = {
    {"三端", "server", serverDownloadRow, serverEndsInstall, control::标签1},
    {"功能", "plugin", pluginDownloadRow, functionPluginInstall, control::标签2},
    {"反挂", "anticheat", antiCheatDownloadRow, antiCheatInstall, control::标签3},
    {"工具", "tools", toolsDownloadRow, toolsInstall, control::标签5},
};

const char kCheckHelp[] =
    "usage: downloader-cli check [--manifest URL] [--dir DIR]\n"
    "Reads the vendor's manifest and prints, for each package, whether the archive in DIR is\n"
    "current (最新版) or a new release exists (发现新版). Exit status 0 when the manifest was "
    "read.\n";
const char kDownloadHelp[] =
    "usage: downloader-cli download PACKAGE [--manifest URL] [--dir DIR]\n"
    "Downloads the package's archive into DIR under its fixed name (三端.zip, 功能.zip, 反挂.zip,\n"
    "工具.zip), then checks it against the manifest. Exit status 0 when the archive is current.\n";
const char kInstallHelp[] =
    "usage: downloader-cli install PACKAGE --root DIR [--root DIR ...] [--dir DIR]\n"
    "Extracts the package's archive from DIR into its staging folder and installs its files\n"
    "into every server root (the tools package is only extracted). Exit status 0 when every\n"
    "root was installed and the job ended with 安装完成.\n";
const char kCommon[] =
    "PACKAGE is 三端, 功能, 反挂 or 工具 (or server, plugin, anticheat, tools).\n"
    "--manifest URL  the manifest to read instead of the built-in one\n"
    "--dir DIR       the program folder: archives, staging folders, Config.ini\n"
    "                (default: the folder of this program)\n";

struct Options {
  std::optional<const Package*> package;
  std::string manifest = builtInManifestUrl();
  std::string dir;
  std::vector<std::string> roots;
  bool help = false;
  std::string error;
};

const Package* findPackage(const std::string& name) {
  for (const Package& package : kPackages) {
    if (name == package.name || name == package.alias) return &package;
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
      const Package* package = findPackage(arg);
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

// The globals of one command, with a console in place of the window.
class Session {
 public:
  explicit Session(const Options& options) {
    initGlobals();
    globals->window = &window;
    globals->manifestUrl = options.manifest;
    std::string dir = options.dir.empty() ? programDirectory() : options.dir;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    globals->programDir = dir == "/" ? dir : dir + "/";
    globals->processorCount = processorCount();
  }
  ~Session() { freeGlobals(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  ConsoleWindow window;
};

int check(const Options& options) {
  Session session(options);
  checkForUpdates();
  return session.window.text(control::透明标签1).empty() ? 0 : 1;
}

int download(const Options& options) {
  const Package& package = **options.package;
  Session session(options);
  checkForUpdates();
  session.window.echoCheck = false;
  startPackageDownload(package.download());
  if (session.window.messages.empty()) {
    session.window.runUntil([] { return globals->downloadBusy == 0; }, std::chrono::hours(24));
  }
  if (!session.window.messages.empty()) return 1;  // empty URL, or the engine refused
  std::string mark = session.window.text(package.mark);
  std::printf("%s: %s\n", package.name, mark.c_str());
  return mark == "最新版" ? 0 : 1;
}

int install(const Options& options) {
  const Package& package = **options.package;
  if (options.roots.empty() && package.install().directoryBox != nullptr) {
    std::fprintf(stderr, "install %s: at least one --root DIR is needed\n", package.name);
    return 2;
  }
  Session session(options);
  std::string roots;
  for (const std::string& root : options.roots) roots += (roots.empty() ? "" : "\n") + root;
  ZIP zip;
  if (package.install().directoryBox == nullptr) {
    installTools(zip);
  } else {
    session.window.setText(package.install().directoryBox, roots);
    installPackage(package.install(), zip);
  }
  const std::vector<std::string>& messages = session.window.messages;
  bool complete = messages.size() == 1 && messages.back() == "安装完成";
  return complete ? 0 : 1;
}

int runOperatorCommand(const std::string& command, const std::vector<std::string>& args) {
  bool wantsPackage = command != "check";
  Options options = parse(args, wantsPackage);
  const char* help = command == "check"      ? kCheckHelp
                     : command == "download" ? kDownloadHelp
                                             : kInstallHelp;
  if (options.help) {
    std::printf("%s%s", help, kCommon);
    return 0;
  }
  if (!options.error.empty()) {
    std::fprintf(stderr, "downloader-cli %s: %s\n%s", command.c_str(), options.error.c_str(), help);
    return 2;
  }
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
