#include "install/root_install.h"

#include <sys/stat.h>

#include <unordered_set>

#include "install/file_copy.h"
#include "install/file_tree.h"
#include "platform/free_space.h"
#include "platform/text.h"

namespace {

bool skipped(const InstallRecord& record, bool skipPluginListFiles) {
  return skipPluginListFiles && findText(record.relativePath, "PlugList.txt", true) != -1;
}

SpaceNeed spaceFor(const std::vector<InstallRecord>& records, bool skipPluginListFiles) {
  SpaceNeed need;
  for (const InstallRecord& record : records) {
    if (skipped(record, skipPluginListFiles)) continue;
    struct stat source {};
    need.add(::stat(record.sourcePath.c_str(), &source) == 0 ? source.st_size : 0);
  }
  return need;
}

// The folders of one root that are known to exist or were tried: each is examined (and
// created when missing) once.
class RootFolders {
 public:
  RootFolders(std::string root, CaseInsensitiveNames& names)
      : root_(std::move(root)), names_(names) {}

  // The folder for `parts` but the last (each in the letter case found), ending with "/".
  std::string folderFor(const std::vector<std::string>& parts) {
    std::string directory = root_;
    for (size_t k = 0; k + 1 < parts.size(); ++k) {
      const std::string name = names_.find(directory, parts[k]);
      std::string next = directory + name + "/";
      if (seen_.insert(next).second && !isDirectory(next) && ::mkdir(next.c_str(), 0777) == 0) {
        names_.added(directory, name);
        names_.created(next);
      }
      directory = std::move(next);
    }
    return directory;
  }

 private:
  std::string root_;
  CaseInsensitiveNames& names_;
  std::unordered_set<std::string> seen_;
};

}  // namespace

InstallResult installRecordsIntoRoot(const std::string& root,
                                     const std::vector<InstallRecord>& records,
                                     bool skipPluginListFiles, CaseInsensitiveNames& names) {
  if (!hasRoomFor(root, spaceFor(records, skipPluginListFiles))) {
    return installFailed(InstallProblem::NoSpace, root);
  }
  RootFolders folders(root, names);
  for (const InstallRecord& record : records) {
    const std::vector<std::string> parts = splitText(record.relativePath, "/");
    if (parts.empty()) continue;
    const std::string directory = folders.folderFor(parts);
    if (skipped(record, skipPluginListFiles)) continue;
    const std::string name = names.find(directory, parts.back());
    InstallResult copied = copyFileOverwriting(record.sourcePath, directory + name);
    if (!copied) return copied;
    names.added(directory, name);
  }
  return {};
}
