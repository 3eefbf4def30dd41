#include "tree_snapshot.h"

#include <sys/stat.h>

#include <filesystem>

#include "platform/files.h"
#include "transaction/generations.h"

std::map<std::string, std::string> snapshotTree(const std::string& root) {
  std::map<std::string, std::string> tree;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string relative = std::filesystem::relative(it->path(), root).string();
    if (it.depth() == 0 && it->path().filename() == kBackupFolderName) {
      it.disable_recursion_pending();
      continue;
    }
    struct stat state {};
    ::lstat(it->path().c_str(), &state);
    if (S_ISLNK(state.st_mode)) {
      tree[relative] = "link to " + std::filesystem::read_symlink(it->path(), error).string();
    } else if (S_ISDIR(state.st_mode)) {
      tree[relative] = "folder";
    } else {
      tree[relative] = std::to_string(state.st_mode & 07777) + " " + readWholeFile(it->path());
    }
  }
  return tree;
}

std::vector<std::string> temporariesBelow(const std::string& root) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->path().filename().string().starts_with(".~")) found.push_back(it->path());
  }
  return found;
}
