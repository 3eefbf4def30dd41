#include "transaction/file_steps.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/replace_file.h"

namespace {

constexpr size_t kNameKept = 200;  // leaves room for the suffix within NAME_MAX
// Files whose write-back runs before the oldest is flushed: flushing one commits the file
// system's journal for the others too, so a longer window means fewer commits to wait for.
constexpr size_t kFilesInFlight = 128;

// Copies a regular file to a new file at `to` (created exclusively, never through a link):
// content, permission bits and times. 0 or errno.
int copyRegularFile(const std::string& from, const std::string& to) {
  UniqueFd in(::open(from.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!in) return errno;
  struct stat state {};
  if (::fstat(in.get(), &state) != 0) return errno;
  if (!S_ISREG(state.st_mode)) return EINVAL;
  UniqueFd out(
      ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR));
  if (!out) return errno;
  if (int error = copyContent(in.get(), out.get()); error != 0) return error;
  ::fchmod(out.get(), state.st_mode & 07777);
  const timespec times[2] = {state.st_atim, state.st_mtim};
  ::futimens(out.get(), times);
  if (::fsync(out.get()) != 0) return errno;
  return ::close(out.release()) == 0 ? 0 : errno;
}

int copyLink(const std::string& from, const std::string& to) {
  char target[4096];
  const ssize_t length = ::readlink(from.c_str(), target, sizeof target - 1);
  if (length < 0) return errno;
  target[length] = '\0';
  return ::symlink(target, to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string temporaryPathFor(const std::string& destination, const std::string& id) {
  return folderOf(destination) + ".~" + nameOf(destination).substr(0, kNameKept) + "." + id;
}

bool syncFolder(const std::string& folder) {
  UniqueFd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return fd && ::fsync(fd.get()) == 0;
}

bool makeOwnFolders(const std::string& path) {
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string prefix = at == std::string::npos ? path : path.substr(0, at);
    if (!prefix.empty()) {
      struct stat state {};
      if (::lstat(prefix.c_str(), &state) == 0) {
        if (!S_ISDIR(state.st_mode)) {
          errno = ENOTDIR;
          return false;
        }
      } else if (errno != ENOENT || (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)) {
        return false;
      }
    }
    if (at == std::string::npos || at + 1 == path.size()) return true;
  }
}

int keepBackup(const std::string& file, const std::string& backup, const std::string& id) {
  if (::linkat(AT_FDCWD, file.c_str(), AT_FDCWD, backup.c_str(), 0) == 0) return 0;
  if (errno != EXDEV && errno != EPERM && errno != EMLINK && errno != ENOTSUP) return errno;
  // Another file system (a folder linked below the root), or links refused: a copy.
  return copyOver(file, backup, id);
}

int copyOver(const std::string& from, const std::string& to, const std::string& id) {
  const std::string temporary = temporaryPathFor(to, id);
  removeIfPresent(temporary);
  struct stat state {};
  if (::lstat(from.c_str(), &state) != 0) return errno;
  int error = S_ISLNK(state.st_mode) ? copyLink(from, temporary) : copyRegularFile(from, temporary);
  if (error == 0 && ::rename(temporary.c_str(), to.c_str()) != 0) error = errno;
  if (error != 0) removeIfPresent(temporary);
  return error;
}

int writeNewFileFlushed(const std::string& path, const std::string& bytes) {
  UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!file || !writeAll(file.get(), bytes.data(), bytes.size()) || ::fsync(file.get()) != 0) {
    return errno;
  }
  return ::close(file.release()) == 0 ? 0 : errno;
}

int copyContent(int in, int out) {
  // In the kernel where it can (no copy through this process); whatever it leaves (a file
  // system that does not support it, or ends it early) goes through a buffer.
  for (;;) {
    const ssize_t moved = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    if (moved > 0) continue;
    if (moved == 0) break;
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
    break;
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    if (!writeAll(out, buffer, static_cast<size_t>(got))) return errno;
  }
}

bool removeIfPresent(const std::string& path) {
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool FlushWindow::add(UniqueFd file) {
  ::sync_file_range(file.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
  files_.push_back(std::move(file));
  return files_.size() <= kFilesInFlight || flushOldest();
}

bool FlushWindow::drain() {
  bool flushed = true;
  int error = 0;
  while (!files_.empty()) {
    if (!flushOldest() && flushed) {
      flushed = false;
      error = errno;
    }
  }
  if (!flushed) errno = error;
  return flushed;
}

bool FlushWindow::flushOldest() {
  UniqueFd file = std::move(files_.front());
  files_.pop_front();
  if (::fsync(file.get()) != 0) return false;
  return ::close(file.release()) == 0;
}
