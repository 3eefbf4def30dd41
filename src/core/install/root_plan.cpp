#include "install/root_plan.h"

#include <sys/stat.h>

#include <unordered_set>

#include "install/case_path.h"
#include "install/file_copy.h"
#include "install/file_crc.h"
#include "install/file_tree.h"
#include "install/plugin_list.h"
#include "platform/replace_file.h"
#include "platform/text.h"

namespace {

bool sameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool skipped(const InstallRecord& record, const PackageInfo& package) {
  return package.skipPluginListFiles && findText(record.relativePath, "PlugList.txt", true) != -1;
}

class Planner {
 public:
  Planner(const std::string& root, const PackageInfo& package, VerdictCache& verdicts)
      : package_(package), verdicts_(verdicts) {
    plan_.root = root;
  }

  // Plans one record; false when the root cannot be installed.
  bool add(const InstallRecord& record) {
    const std::vector<std::string> parts = splitText(record.relativePath, "/");
    if (parts.empty()) return true;
    const std::string folder = folderFor(parts);
    if (skipped(record, package_)) return true;
    const std::string name = names_.find(plan_.root + folder, parts.back());
    names_.added(plan_.root + folder, name);
    PlannedFile file{&record, folder + name, false};
    auto [at, inserted] = byPath_.try_emplace(file.path, plan_.files.size());
    if (inserted) plan_.files.push_back(file);
    PlannedFile& planned = plan_.files[at->second];
    planned = file;
    return judge(planned);
  }

  void addPluginList() {
    if (package_.pluginNames.empty()) return;
    PluginListPlan list = planPluginList(plan_.root, package_.pluginNames, &names_);
    if (list.failure) {
      plan_.failure = std::move(list.failure);
    } else if (list.rewrite) {
      plan_.pluginListPath = list.path.substr(plan_.root.size());
      plan_.pluginListText = std::move(list.text);
      plan_.pluginListMode = list.mode;
    }
  }

  RootPlan take() { return std::move(plan_); }
  RootPlan& plan() { return plan_; }

 private:
  // The folder of `parts` but the last, below the root, ending with "/"; missing folders are
  // planned for creation, each once.
  std::string folderFor(const std::vector<std::string>& parts) {
    std::string folder;
    for (size_t k = 0; k + 1 < parts.size(); ++k) {
      const std::string name = names_.find(plan_.root + folder, parts[k]);
      std::string next = folder + name + "/";
      if (seen_.insert(next).second && !isDirectory(plan_.root + next)) {
        plan_.folders.push_back(next.substr(0, next.size() - 1));
        names_.added(plan_.root + folder, name);
        names_.created(plan_.root + next);
      }
      folder = std::move(next);
    }
    return folder;
  }

  bool judge(PlannedFile& file) {
    const std::string path = plan_.root + file.path;
    const Destination destination = examineDestination(path);
    switch (destination.kind) {
      case DestinationKind::Missing:
      case DestinationKind::Link:  // never read through: replaced by the file itself
        file.needed = true;
        return true;
      case DestinationKind::Other:
        plan_.failure = checkDestination(destination).failure;
        return false;
      case DestinationKind::Regular:
        break;
    }
    file.needed = !equalsArchive(path, destination.state, *file.record);
    if (!file.needed) return true;
    if (InstallResult refused = checkDestination(destination); !refused) {
      plan_.failure = std::move(refused.failure);
      return false;
    }
    return true;
  }

  bool equalsArchive(const std::string& path, const struct stat& state,
                     const InstallRecord& record) {
    if (static_cast<uint64_t>(state.st_size) != record.size) return false;
    struct stat source {};
    if (::stat(record.sourcePath.c_str(), &source) == 0 && source.st_dev == state.st_dev &&
        source.st_ino == state.st_ino) {
      return true;
    }
    if (std::optional<bool> known = verdicts_.equal(path + '\0' + record.archivePath, state)) {
      return *known;
    }
    const std::optional<uint32_t> crc = crcOfFile(path);
    const bool equal = crc && *crc == record.crc;
    verdicts_.remember(path + '\0' + record.archivePath, state, equal);
    return equal;
  }

  RootPlan plan_;
  const PackageInfo& package_;
  VerdictCache& verdicts_;
  CaseInsensitiveNames names_;
  std::unordered_set<std::string> seen_;
  std::unordered_map<std::string, size_t> byPath_;
};

}  // namespace

bool RootPlan::changesSomething() const {
  if (!folders.empty() || pluginListPath) return true;
  for (const PlannedFile& file : files) {
    if (file.needed) return true;
  }
  return false;
}

std::vector<InstalledFile> RootPlan::listing() const {
  std::vector<InstalledFile> listed;
  for (const PlannedFile& file : files) {
    listed.push_back({file.path, file.record->size, file.record->crc, file.record->archivePath});
  }
  return listed;
}

std::optional<bool> VerdictCache::equal(const std::string& path, const struct stat& state) const {
  auto found = judged_.find(path);
  if (found == judged_.end()) return std::nullopt;
  const Judged& judged = found->second;
  if (judged.device != state.st_dev || judged.inode != state.st_ino ||
      judged.size != state.st_size || !sameTime(judged.modified, state.st_mtim) ||
      !sameTime(judged.changed, state.st_ctim)) {
    return std::nullopt;
  }
  return judged.equal;
}

void VerdictCache::remember(const std::string& path, const struct stat& state, bool equal) {
  judged_[path] = {state.st_dev, state.st_ino, state.st_size, state.st_mtim, state.st_ctim, equal};
}

RootPlan planRoot(const std::string& root, const std::vector<InstallRecord>& records,
                  const PackageInfo& package, VerdictCache& verdicts,
                  const std::function<bool()>& keepGoing) {
  Planner planner(root, package, verdicts);
  for (const InstallRecord& record : records) {
    if (!planner.add(record)) return planner.take();
    if (keepGoing && !keepGoing()) {
      planner.plan().stopped = true;
      return planner.take();
    }
  }
  planner.addPluginList();
  return planner.take();
}
