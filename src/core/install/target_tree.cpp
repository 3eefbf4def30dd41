#include "install/target_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

bool createDirectoryPath(const std::string& path) {
  std::string full = path;
  if (full.empty() || full.back() != '/') full += '/';
  for (size_t at = full.find('/'); at != std::string::npos; at = full.find('/', at + 1)) {
    std::string prefix = full.substr(0, at + 1);
    if (prefix == "/" || exists(prefix.substr(0, at))) continue;
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool TargetTree::open(const std::string& target) {
  root_.reset(::open(target.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return static_cast<bool>(root_);
}

UniqueFd TargetTree::openDirectory(const std::vector<std::string>& components, size_t count,
                                   bool create) {
  UniqueFd current(::dup(root_.get()));
  for (size_t k = 0; k < count && current; ++k) {
    const char* name = components[k].c_str();
    if (create && ::mkdirat(current.get(), name, 0777) != 0 && errno != EEXIST) return {};
    current.reset(::openat(current.get(), name, kDirectoryFlags));
  }
  return current;
}

bool TargetTree::makeDirectories(const std::vector<std::string>& components) {
  if (components.empty()) return true;
  UniqueFd parent = openDirectory(components, components.size() - 1, true);
  if (!parent) return false;
  return ::mkdirat(parent.get(), components.back().c_str(), 0777) == 0 || errno == EEXIST;
}

UniqueFd TargetTree::createFile(const std::vector<std::string>& components, bool createParents) {
  if (components.empty()) return {};
  UniqueFd parent = openDirectory(components, components.size() - 1, createParents);
  if (!parent) return {};
  const char* name = components.back().c_str();
  struct stat info {};
  if (::fstatat(parent.get(), name, &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(info.st_mode)) {
    ::unlinkat(parent.get(), name, 0);
  }
  return UniqueFd(
      ::openat(parent.get(), name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
}
