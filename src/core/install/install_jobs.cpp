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

// Installs into one root and shows its failure, if any: the root's message on the first
// line, the failing file and the reason on the second. The failure goes to `failed` too.
void installIntoRoot(std::string root, const std::vector<InstallRecord>& records,
                     const PackageInfo& package, Window& window, std::vector<RootFailure>& failed) {
  if (!isDirectory(root)) {
    window.messageBox(root + "目录不存在", BoxOwner::MainWindow);
    return;
  }
  if (root.back() != '/') root += '/';
  CaseInsensitiveNames names;
  InstallResult result = installRecordsIntoRoot(root, records, package.skipPluginListFiles, names);
  const bool noSpace = result.failure && result.failure->problem == InstallProblem::NoSpace;
  if (!noSpace && !package.pluginNames.empty()) {
    InstallResult listed = updatePluginList(root, package.pluginNames, &names);
    if (result) result = std::move(listed);  // the first failure is the one reported
  }
  if (result) return;
  window.messageBox("安装到 " + root + " 失败\n" + describeInstallFailure(*result.failure),
                    BoxOwner::MainWindow);
  failed.push_back({root, std::move(*result.failure)});
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

std::vector<RootFailure> installPackage(Globals& g, const PackageInfo& package, ZIP& zip) {
  std::vector<RootFailure> failed;
  Window* window = jobWindow(g);
  if (window == nullptr) return failed;
  InstallJobGuard guard(*window);
  if (!guard.started()) return failed;
  const std::string staging = g.programDir + package.stagingName;
  removeTree(staging);
  if (zip.extract(g.programDir + package.archive, staging) != 1) {
    window->messageBox(package.extractionFailure, BoxOwner::None);
    return failed;
  }
  std::vector<std::string> files;
  findFiles(staging, "*.*", files);
  if (quitRequested()) return failed;
  const std::vector<InstallRecord> records = buildInstallRecords(staging, files, package.markers);
  const std::string roots =
      package.directoryBox != nullptr ? window->text(package.directoryBox) : "";
  for (const std::string& root : splitLines(roots))
    installIntoRoot(root, records, package, *window, failed);
  window->messageBox(kInstallDone, BoxOwner::MainWindow);
  return failed;
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
