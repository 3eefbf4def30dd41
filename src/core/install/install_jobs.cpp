#include "install/install_jobs.h"

#include "install/event_pump.h"
#include "install/file_tree.h"
#include "install/install_guard.h"
#include "install/plugin_list.h"
#include "install/root_install.h"
#include "platform/text.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/window.h"
#include "zip/zip.h"

namespace {

const char kInstallDone[] = "安装完成";

void installIntoRoot(std::string root, const std::vector<InstallRecord>& records,
                     const PackageInfo& package, Window& window) {
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

// The window a job needs, or null when there is none or no program directory.
Window* jobWindow(const Globals& g) {
  if (g.window == nullptr || g.programDir.empty()) return nullptr;
  return g.window;
}

}  // namespace

std::vector<InstallRecord> buildInstallRecords(std::string_view staging,
                                               const std::vector<std::string>& files,
                                               const std::vector<std::string>& markers) {
  while (staging.size() > 1 && staging.back() == '/') staging.remove_suffix(1);
  std::vector<InstallRecord> records;
  for (const std::string& file : files) {
    // From the "/" that ends the staging folder on: a marker in the folders above it (the
    // program folder's own path) never counts.
    const size_t start =
        std::string_view(file).substr(0, staging.size()) == staging ? staging.size() : 0;
    const std::string_view below = std::string_view(file).substr(start);
    for (const std::string& marker : markers) {
      const int position = findText(below, marker, true);
      if (position == -1) continue;
      const long long after = static_cast<long long>(textLength(below)) - position;
      records.push_back({file, rightText(below, after)});
    }
  }
  return records;
}

void installPackage(Globals& g, const PackageInfo& package, ZIP& zip) {
  Window* window = jobWindow(g);
  if (window == nullptr) return;
  InstallJobGuard guard(*window);
  if (!guard.started()) return;
  const std::string staging = g.programDir + package.stagingName;
  removeTree(staging);
  if (zip.extract(g.programDir + package.archive, staging) != 1) {
    window->messageBox(package.extractionFailure, BoxOwner::None);
    return;
  }
  std::vector<std::string> files;
  findFiles(staging, "*.*", files);
  if (quitRequested()) return;
  const std::vector<InstallRecord> records = buildInstallRecords(staging, files, package.markers);
  const std::string roots =
      package.directoryBox != nullptr ? window->text(package.directoryBox) : "";
  for (const std::string& root : splitLines(roots))
    installIntoRoot(root, records, package, *window);
  window->messageBox(kInstallDone, BoxOwner::MainWindow);
}

void installTools(Globals& g, ZIP& zip) {
  Window* window = jobWindow(g);
  if (window == nullptr) return;
  InstallJobGuard guard(*window);
  if (!guard.started()) return;
  const PackageInfo& package = packageInfo(PackageId::Tools);
  const std::string staging = g.programDir + package.stagingName;
  removeTree(staging);
  if (zip.extract(g.programDir + package.archive, staging) != 1) {
    window->messageBox(package.extractionFailure, BoxOwner::None);
  } else {
    window->messageBox(kInstallDone, BoxOwner::MainWindow);
  }
}
