#include "install/install_jobs.h"

#include <sys/stat.h>

#include "install/case_path.h"
#include "install/event_pump.h"
#include "install/file_copy.h"
#include "install/file_tree.h"
#include "install/install_guard.h"
#include "install/plugin_list.h"
#include "install/text.h"
#include "install/zip.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/window.h"

namespace {

const char kInstallDone[] = "安装完成";

// Copies every record into one root (ending with "/"); false after a failed copy, which
// ends the root's record loop.
bool copyRecordsInto(const std::string& root, const std::vector<InstallRecord>& records,
                     const PackageInfo& package) {
  for (const InstallRecord& record : records) {
    std::vector<std::string> parts = splitText(record.relativePath, "/");
    if (parts.empty()) continue;
    std::string directory = root;
    for (size_t k = 0; k + 1 < parts.size(); ++k) {
      directory += existingNameIgnoringCase(directory, parts[k]) + "/";
      if (!isDirectory(directory)) ::mkdir(directory.c_str(), 0777);
    }
    if (package.skipPluginListFiles && findText(record.relativePath, "PlugList.txt", true) != -1) {
      continue;
    }
    const std::string destination = directory + existingNameIgnoringCase(directory, parts.back());
    if (!copyFileOverwriting(record.sourcePath, destination)) return false;
  }
  return true;
}

void installIntoRoot(std::string root, const std::vector<InstallRecord>& records,
                     const PackageInfo& package, Window& window) {
  if (!isDirectory(root)) {
    window.messageBox(root + "目录不存在", BoxOwner::MainWindow);
    return;
  }
  if (root.back() != '/') root += '/';
  if (!copyRecordsInto(root, records, package)) {
    window.messageBox("安装到 " + root + " 失败", BoxOwner::MainWindow);
  }
  if (!package.pluginNames.empty()) updatePluginList(root, package.pluginNames);
}

// The window a job needs, or null when there is none or no program directory.
Window* jobWindow(const Globals& g) {
  if (g.window == nullptr || g.programDir.empty()) return nullptr;
  return g.window;
}

}  // namespace

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
  const std::vector<InstallRecord> records = buildInstallRecords(files, package.markers);
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
