#include "install/install_jobs.h"

#include <unordered_set>

#include "install/backup_settings.h"
#include "install/event_pump.h"
#include "install/file_tree.h"
#include "install/install_guard.h"
#include "install/install_records.h"
#include "install/root_install.h"
#include "install/root_plan.h"
#include "platform/text.h"
#include "shell/globals.h"
#include "shell/window.h"
#include "transaction/recovery.h"
#include "transaction/transaction.h"
#include "zip/target_tree.h"
#include "zip/zip.h"

namespace {

const char kInstallDone[] = "安装完成";

// The job's view of each root's transaction: it keeps the window responsive, turns a quit
// request into a stop, and passes everything on to the caller's observer.
class JobObserver : public TransactionObserver {
 public:
  explicit JobObserver(TransactionObserver* caller) : caller_(caller) {}

  bool beforeFirstChange(const std::string& root) override {
    return caller_ == nullptr || caller_->beforeFirstChange(root);
  }
  void onStep(TransactionStep step, const std::string& path) override {
    if (caller_ != nullptr) caller_->onStep(step, path);
  }
  bool stopRequested() override {
    pumpMessages();
    return quitRequested() || (caller_ != nullptr && caller_->stopRequested());
  }
  void afterLastChange(const std::string& root, TransactionEnd end) override {
    if (caller_ != nullptr) caller_->afterLastChange(root, end);
  }

 private:
  TransactionObserver* caller_;
};

class PackageInstall {
 public:
  PackageInstall(Globals& g, const PackageInfo& package, ZIP& zip, Window& window,
                 TransactionObserver* observer)
      : g_(g),
        package_(package),
        zip_(zip),
        window_(window),
        observer_(observer),
        archive_(g.programDir + package.archive),
        staging_(g.programDir + package.stagingName) {}

  std::vector<RootFailure> run() {
    removeTree(staging_);
    std::vector<ZipFileInfo> files;
    // The staging folder exists before the roots are looked at: it may be one of them.
    if (zip_.list(archive_, files) != 1 || !createDirectoryPath(staging_)) {
      return extractionFailed();
    }
    records_ = buildInstallRecords(staging_, files, package_.markers);
    const std::vector<std::string> roots =
        splitLines(package_.directoryBox != nullptr ? window_.text(package_.directoryBox) : "");
    // Every root is compared with the archive first, so the extraction takes only what is
    // needed and a damaged archive fails before any root changes.
    std::vector<std::optional<RootPlan>> plans;
    for (const std::string& root : roots) {
      plans.emplace_back();
      if (!isDirectory(root)) continue;
      plans.back() = planRoot(withSlash(root), records_, package_, verdicts_, keepGoing());
      if (plans.back()->stopped) return {};
    }
    if (!extract(neededFiles(files, plans))) return extractionFailed();
    for (size_t k = 0; k < roots.size(); ++k) {
      if (!plans[k]) {
        window_.messageBox(roots[k] + "目录不存在", BoxOwner::MainWindow);
        continue;
      }
      if (!installRoot(withSlash(roots[k]))) return std::move(failed_);
    }
    window_.messageBox(kInstallDone, BoxOwner::MainWindow);
    return std::move(failed_);
  }

 private:
  static std::string withSlash(std::string root) {
    if (root.back() != '/') root += '/';
    return root;
  }

  std::function<bool()> keepGoing() {
    return [this] {
      pumpMessages();
      return !quitRequested() && (observer_ == nullptr || !observer_->stopRequested());
    };
  }

  std::vector<RootFailure> extractionFailed() {
    window_.messageBox(package_.extractionFailure, BoxOwner::None);
    return {};
  }

  // The files some root needs, and those no root ever takes (read-me files and the like).
  std::unordered_set<std::string> neededFiles(const std::vector<ZipFileInfo>& files,
                                              const std::vector<std::optional<RootPlan>>& plans) {
    std::unordered_set<std::string> placed, needed;
    for (const std::optional<RootPlan>& plan : plans) {
      if (!plan) continue;
      for (const PlannedFile& file : plan->files) {
        if (file.needed) needed.insert(file.record->archivePath);
      }
    }
    for (const InstallRecord& record : records_) {
      if (!package_.skipPluginListFiles ||
          findText(record.relativePath, "PlugList.txt", true) == -1) {
        placed.insert(record.archivePath);
      }
    }
    for (const ZipFileInfo& file : files) {
      if (placed.count(file.path) == 0) needed.insert(file.path);
    }
    return needed;
  }

  // Extracts the files of `wanted` that are not extracted yet.
  bool extract(const std::unordered_set<std::string>& wanted) {
    std::unordered_set<std::string> fresh;
    for (const std::string& path : wanted) {
      if (extracted_.insert(path).second) fresh.insert(path);
    }
    if (fresh.empty() && extractedOnce_) return true;
    extractedOnce_ = true;
    return zip_.extractFiles(archive_, staging_, [&fresh](const std::string& path) {
      return fresh.count(path) != 0;
    }) == 1;
  }

  // Installs into one existing root; false when the job must end (a stop).
  bool installRoot(const std::string& root) {
    // Compared again (equal files are not read twice): the root may have changed meanwhile.
    RootPlan plan = planRoot(root, records_, package_, verdicts_, nullptr);
    std::unordered_set<std::string> wanted;
    for (const PlannedFile& file : plan.files) {
      if (file.needed) wanted.insert(file.record->archivePath);
    }
    if (!extract(wanted)) {
      window_.messageBox(package_.extractionFailure, BoxOwner::None);
      return false;
    }
    JobObserver observer(observer_);
    RootOutcome outcome = installPlannedRoot(g_.programDir, plan, package_,
                                             backupGenerationsToKeep(g_.programDir), &observer);
    if (!outcome.failure) return true;
    const bool stopped = outcome.failure->problem == InstallProblem::Stopped;
    if (!stopped) {
      std::string text = "安装到 " + root + " 失败\n" + describeInstallFailure(*outcome.failure);
      if (outcome.restored) text += "\n" + restoredText(root, TransactionPurpose::Install);
      window_.messageBox(text, BoxOwner::MainWindow);
    }
    failed_.push_back({root, std::move(*outcome.failure), outcome.restored});
    return !stopped;
  }

  Globals& g_;
  const PackageInfo& package_;
  ZIP& zip_;
  Window& window_;
  TransactionObserver* observer_;
  const std::string archive_;
  const std::string staging_;
  std::vector<InstallRecord> records_;
  VerdictCache verdicts_;
  std::unordered_set<std::string> extracted_;
  bool extractedOnce_ = false;
  std::vector<RootFailure> failed_;
};

// The window a job needs, or null when there is none or no program directory.
Window* jobWindow(const Globals& g) {
  if (g.window == nullptr || g.programDir.empty()) return nullptr;
  return g.window;
}

}  // namespace

std::vector<RootFailure> installPackage(Globals& g, const PackageInfo& package, ZIP& zip,
                                        TransactionObserver* observer) {
  Window* window = jobWindow(g);
  if (window == nullptr) return {};
  InstallJobGuard guard(*window);
  if (!guard.started()) return {};
  return PackageInstall(g, package, zip, *window, observer).run();
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
