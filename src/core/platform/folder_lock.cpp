#include "platform/folder_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <thread>
#include <utility>

#include "platform/decimal.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiter tries the lock again.
constexpr std::chrono::milliseconds kRetryEvery{50};
// A holder writes its id right after taking the lock; a loser that reads none, or a dead
// one left by an earlier holder, looks again for this long before calling it unknown.
constexpr std::chrono::milliseconds kHolderWriteGrace{300};
constexpr std::chrono::milliseconds kHolderLookEvery{20};

std::string lockPathIn(const std::string& folder) {
  std::string path = folder.empty() ? std::string(".") : folder;
  if (path.back() != '/') path.push_back('/');
  path.append(kFolderLockFileName);
  return path;
}

// The lock file, opened for writing where allowed (then `writable`), else for reading.
UniqueFd openLockFile(const std::string& path, bool& writable, int& error) {
  constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  writable = true;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | kOpenFlags, 0644));
  if (!fd && (errno == EACCES || errno == EROFS)) {
    int denied = errno;
    writable = false;
    fd.reset(::open(path.c_str(), O_RDONLY | kOpenFlags));
    if (!fd) errno = denied;  // the first refusal is the one worth telling
  }
  if (!fd) {
    error = errno;
    return {};
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) {
    error = errno;
    return {};
  }
  if (!S_ISREG(info.st_mode)) {
    error = EINVAL;
    return {};
  }
  return fd;
}

// Writes the id first and cuts the rest after it, so a reader sees either the old id or the
// new one, never an empty file in between.
void writeHolder(int fd) {
  std::string text = std::to_string(::getpid()) + "\n";
  if (::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size())) {
    (void)!::ftruncate(fd, static_cast<off_t>(text.size()));
  }
}

std::optional<pid_t> writtenHolder(int fd) {
  char text[32];
  ssize_t n = ::pread(fd, text, sizeof text, 0);
  if (n <= 0) return std::nullopt;
  std::optional<LeadingDecimal> number =
      leadingDecimal(std::string_view(text, static_cast<size_t>(n)));
  if (!number || number->value <= 0 || number->value > INT_MAX) return std::nullopt;
  return static_cast<pid_t>(number->value);
}

bool processExists(pid_t pid) {
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The id of the process holding the lock; 0 when none that lives was written.
pid_t livingHolder(int fd) {
  const Clock::time_point deadline = Clock::now() + kHolderWriteGrace;
  for (;;) {
    std::optional<pid_t> pid = writtenHolder(fd);
    if (pid && processExists(*pid)) return *pid;
    if (Clock::now() >= deadline) return 0;
    std::this_thread::sleep_for(kHolderLookEvery);
  }
}

}  // namespace

FolderLock::FolderLock(FolderLock&& other) noexcept
    : fd_(std::move(other.fd_)), writable_(std::exchange(other.writable_, false)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = std::move(other.fd_);
    writable_ = std::exchange(other.writable_, false);
  }
  return *this;
}

void FolderLock::release() {
  if (!fd_) return;
  if (writable_) (void)!::ftruncate(fd_.get(), 0);
  ::flock(fd_.get(), LOCK_UN);
  fd_.reset();
  writable_ = false;
}

FolderLockResult lockFolder(const std::string& folder, std::chrono::milliseconds wait) {
  FolderLockResult result;
  result.path = lockPathIn(folder);
  bool writable = false;
  UniqueFd fd = openLockFile(result.path, writable, result.error);
  if (!fd) return result;
  const Clock::time_point deadline = Clock::now() + wait;
  for (;;) {
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) break;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) {
      result.error = errno;
      return result;
    }
    Clock::time_point now = Clock::now();
    if (now >= deadline) {
      result.state = FolderLockState::Busy;
      result.holder = livingHolder(fd.get());
      return result;
    }
    std::this_thread::sleep_for(std::min<Clock::duration>(kRetryEvery, deadline - now));
  }
  if (writable) writeHolder(fd.get());
  result.state = FolderLockState::Taken;
  result.lock = FolderLock(std::move(fd), writable);
  return result;
}
