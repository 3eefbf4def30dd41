#include "install/install_jobs.h"

#include "install/event_pump.h"
#include "install/file_tree.h"
#include "install/install_guard.h"
#include "install/plugin_list.h"
#include "install/root_install.h"
#include "install/text.h"
#include "install/zip.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/window.h"

namespace {

const char kInstallDone[] = "安装完成";

void installIntoRoot(std::string root, const std::vector<InstallRecord>& records,
                     const PackageInstallSpec& package, Window& window) {
  if (!isDirectory(root)) {
    window.messageBox(root + "目录不存在", BoxOwner::MainWindow);
    return;
  }
  if (root.back() != '/') root += '/';
  CaseInsensitiveNames names;
  const RootInstall copied =
      installRecordsIntoRoot(root, records, package.skipPluginListFiles, names);
  bool installed = copied == RootInstall::Installed;
  if (copied != RootInstall::NoSpace && !package.pluginNames.empty()) {
    installed = updatePluginList(root, package.pluginNames, &names) && installed;
  }
  if (!installed) window.messageBox("安装到 " + root + " 失败", BoxOwner::MainWindow);
}

// The window and program directory a job needs, or null when there are none.
Window* jobWindow() {
  if (globals == nullptr || globals->window == nullptr || globals->programDir.empty()) {
    return nullptr;
  }
  return globals->window;
}

}  // namespace

const PackageInstallSpec& serverEndsInstall() {
  static const PackageInstallSpec package{control::按钮_安装三端,
                                          "三端.zip",
                                          "Velmar三端",
                                          "解压三端.zip 失败",
                                          control::编辑框_三端目录,
                                          {"/mir200/", "/SelGate/", "/Velmar引擎控制台"},
                                          true,
                                          {"M2LinkerX86.dll", "QZVM2PlusLoad.dll"}};
  return package;
}

const PackageInstallSpec& functionPluginInstall() {
  static const PackageInstallSpec package{
      control::按钮_安装功能,
      "功能.zip",
      "功能插件",
      "解压功能.zip 失败",
      control::编辑框_功能目录,
      {"/DBServer/", "/LoginGate/", "/Mir200/", "/Orvanta引擎控制器", "/qzvkz"},
      false,
      {"QZVM2PlusLoad.dll"}};
  return package;
}

const PackageInstallSpec& antiCheatInstall() {
  static const PackageInstallSpec package{
      control::按钮_安装反挂,   "反挂.zip",    "反挂插件", "解压 反挂.zip 失败",
      control::编辑框_反挂目录, {"/RunGate/"}, false,      {}};
  return package;
}

const PackageInstallSpec& toolsInstall() {
  static const PackageInstallSpec package{
      control::按钮_工具安装, "工具.zip", "其他工具", "解压 工具.zip 失败", nullptr, {}, false, {}};
  return package;
}

std::vector<InstallRecord> buildInstallRecords(const std::vector<std::string>& files,
                                               const std::vector<std::string>& markers) {
  std::vector<InstallRecord> records;
  for (const std::string& file : files) {
    for (const std::string& marker : markers) {
      const int position = findText(file, marker, true);
      if (position == -1) continue;
      const long long after = static_cast<long long>(textLength(file)) - position;
      records.push_back({file, rightText(file, after)});
    }
  }
  return records;
}

void installPackage(const PackageInstallSpec& package, ZIP& zip) {
  Window* window = jobWindow();
  if (window == nullptr) return;
  InstallJobGuard guard;
  if (!guard.started()) return;
  const std::string staging = globals->programDir + package.stagingName;
  removeTree(staging);
  if (zip.extract(globals->programDir + package.archive, staging) != 1) {
    window->messageBox(package.extractionFailure, BoxOwner::None);
    return;
  }
  std::vector<std::string> files;
  findFiles(staging, "*.*", files);
  if (quitRequested()) return;
  const std::vector<InstallRecord> records = buildInstallRecords(files, package.markers);
  const std::string roots =
      package.directoryBox != nullptr ? window->text(package.directoryBox) : "";
  for (const std::string& root : splitLines(roots))
    installIntoRoot(root, records, package, *window);
  window->messageBox(kInstallDone, BoxOwner::MainWindow);
}

void installTools(ZIP& zip) {
  Window* window = jobWindow();
  if (window == nullptr) return;
  InstallJobGuard guard;
  if (!guard.started()) return;
  const PackageInstallSpec& package = toolsInstall();
  const std::string staging = globals->programDir + package.stagingName;
  removeTree(staging);
  if (zip.extract(globals->programDir + package.archive, staging) != 1) {
    window->messageBox(package.extractionFailure, BoxOwner::None);
  } else {
    window->messageBox(kInstallDone, BoxOwner::MainWindow);
  }
}
