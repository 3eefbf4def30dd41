#include "zip/target_tree.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace {

constexpr int kDirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kNewFileFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;

// Cleared for good once the kernel turns openat2 down (kernels before 5.6, sandboxes).
std::atomic<bool> openat2Works{true};

bool exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

std::string joined(const PathComponents& path, size_t count) {
  std::string text;
  for (size_t k = 0; k < count; ++k) {
    if (k > 0) text += '/';
    text += path[k];
  }
  return text;
}

// openat2 beneath `root` without following links. -1 with errno ENOSYS when it cannot be
// used.
int openBeneath(int root, const std::string& relative, int flags, mode_t mode) {
  if (!openat2Works.load(std::memory_order_relaxed)) {
    errno = ENOSYS;
    return -1;
  }
  open_how how{};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
  int fd = static_cast<int>(::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how));
  if (fd < 0 && errno == ENOSYS) {
    openat2Works.store(false, std::memory_order_relaxed);
    errno = ENOSYS;
  }
  return fd;
}

std::string temporaryName(const std::string& name) {
  static std::atomic<unsigned long long> counter{0};
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".%d.%llx", static_cast<int>(::getpid()),
                counter.fetch_add(1));
  return ".~" + name.substr(0, 200) + suffix;
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

UniqueFd TargetTree::openDirectory(const PathComponents& path, size_t count) const {
  if (count == 0) return UniqueFd(::dup(root_.get()));
  int fd = openBeneath(root_.get(), joined(path, count), kDirectoryFlags, 0);
  if (fd >= 0 || errno != ENOSYS) return UniqueFd(fd);
  UniqueFd current(::dup(root_.get()));
  for (size_t k = 0; k < count && current; ++k) {
    current.reset(::openat(current.get(), path[k].c_str(), kDirectoryFlags));
  }
  return current;
}

UniqueFd TargetTree::openParent(const PathComponents& path) const {
  if (path.empty()) return {};
  return openDirectory(path, path.size() - 1);
}

bool TargetTree::makeDirectories(const PathComponents& path,
                                 std::vector<PathComponents>& created) const {
  UniqueFd current(::dup(root_.get()));
  for (size_t k = 0; k < path.size() && current; ++k) {
    const char* name = path[k].c_str();
    if (::mkdirat(current.get(), name, 0777) == 0) {
      created.emplace_back(path.begin(), path.begin() + static_cast<long>(k) + 1);
    } else if (errno != EEXIST) {
      return false;
    }
    if (k + 1 == path.size()) return true;  // an existing file of that name is left as it is
    current.reset(::openat(current.get(), name, kDirectoryFlags));
  }
  return static_cast<bool>(current);
}

UniqueFd TargetTree::createNew(const PathComponents& path) const {
  if (path.empty()) return {};
  int fd = openBeneath(root_.get(), joined(path, path.size()), kNewFileFlags, 0666);
  if (fd >= 0 || errno != ENOSYS) return UniqueFd(fd);
  UniqueFd parent = openParent(path);
  if (!parent) return {};
  return UniqueFd(::openat(parent.get(), path.back().c_str(), kNewFileFlags, 0666));
}

TargetTree::Kind TargetTree::kindOf(const PathComponents& path) const {
  UniqueFd parent = openParent(path);
  struct stat info {};
  if (!parent) return Kind::Missing;
  if (::fstatat(parent.get(), path.back().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return Kind::Missing;
  }
  return S_ISDIR(info.st_mode) ? Kind::Directory : Kind::Other;
}

UniqueFd TargetTree::createTemporary(const PathComponents& path, std::string& name) const {
  UniqueFd parent = openParent(path);
  if (!parent) return {};
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = temporaryName(path.back());
    UniqueFd file(::openat(parent.get(), name.c_str(), kNewFileFlags, 0666));
    if (file || errno != EEXIST) return file;
  }
  return {};
}

bool TargetTree::replaceWith(const PathComponents& path, const std::string& name) const {
  UniqueFd parent = openParent(path);
  return parent && ::renameat(parent.get(), name.c_str(), parent.get(), path.back().c_str()) == 0;
}

void TargetTree::removeFile(const PathComponents& path, const std::string& name) const {
  UniqueFd parent = openParent(path);
  if (parent) ::unlinkat(parent.get(), name.empty() ? path.back().c_str() : name.c_str(), 0);
}

void TargetTree::removeEmptyDirectory(const PathComponents& path) const {
  UniqueFd parent = openParent(path);
  if (parent) ::unlinkat(parent.get(), path.back().c_str(), AT_REMOVEDIR);
}
