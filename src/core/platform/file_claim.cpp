// Claiming a regular file with flock, and finding who holds a claim.
#include "platform/file_claim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

// A file renamed away between our open and our lock is retried; more attempts than this mean
// the path keeps changing under us.
constexpr int kClaimAttempts = 8;

FileClaim refusal(ClaimProblem problem, int error = 0) {
  FileClaim claim;
  claim.problem = problem;
  claim.error = error;
  return claim;
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The holder of a flock on (device, inode) from the lines of /proc/locks, such as
// "3: FLOCK  ADVISORY  WRITE 4242 fe:00:10961250 0 EOF" (a waiter's line has "->" before
// FLOCK). A file system that reports another device in stat than in /proc/locks is matched
// by its inode number alone when only one lock has it.
std::optional<pid_t> flockHolder(dev_t device, ino_t inode) {
  std::ifstream locks("/proc/locks");
  std::string line;
  std::optional<pid_t> byInode;
  int inodeMatches = 0;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, advisory, access, where;
    long pid = 0;
    if (!(fields >> number >> kind) || kind != "FLOCK") continue;
    if (!(fields >> advisory >> access >> pid >> where)) continue;
    unsigned int lockMajor = 0, lockMinor = 0;
    unsigned long long inodeNumber = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%llu", &lockMajor, &lockMinor, &inodeNumber) != 3)
      continue;
    if (inodeNumber != static_cast<unsigned long long>(inode)) continue;
    if (lockMajor == major(device) && lockMinor == minor(device)) return static_cast<pid_t>(pid);
    byInode = static_cast<pid_t>(pid);
    ++inodeMatches;
  }
  if (inodeMatches == 1) return byInode;
  return std::nullopt;
}

// Opens the file at `path` as mode asks; `created` tells whether this call made it.
UniqueFd openWithoutFollowing(const std::string& path, ClaimMode mode, bool& created, int& error) {
  created = false;
  if (mode == ClaimMode::CreateIfMissing) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd) {
      created = true;
      return fd;
    }
    if (errno != EEXIST) {
      error = errno;
      return UniqueFd();
    }
  }
  // O_NONBLOCK: a pipe put in the file's place must not block the open; fstat refuses it.
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) error = errno;
  return fd;
}

}  // namespace

FileClaim claimFile(const std::string& path, ClaimMode mode, bool soleName) {
  for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
    struct stat before {};
    if (::lstat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) {
      return refusal(ClaimProblem::NotRegular);
    }
    bool created = false;
    int error = 0;
    UniqueFd fd = openWithoutFollowing(path, mode, created, error);
    if (!fd) {
      if (error == ENOENT && mode == ClaimMode::CreateIfMissing) continue;  // removed meanwhile
      if (error == ENOENT) return refusal(ClaimProblem::Missing);
      if (error == ELOOP || error == EISDIR || error == ENXIO) {
        return refusal(ClaimProblem::NotRegular);
      }
      return refusal(ClaimProblem::System, error);
    }
    struct stat held {};
    if (::fstat(fd.get(), &held) != 0) return refusal(ClaimProblem::System, errno);
    if (!S_ISREG(held.st_mode)) return refusal(ClaimProblem::NotRegular);
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) return refusal(ClaimProblem::System, errno);
      FileClaim busy = refusal(ClaimProblem::Busy);
      busy.holder = flockHolder(held.st_dev, held.st_ino).value_or(0);
      return busy;
    }
    // The lock is ours, but is the file still the one at the path? Its last holder may have
    // renamed it to its final name (or removed it) just before letting go.
    struct stat now {};
    if (::lstat(path.c_str(), &now) != 0 || !sameFile(now, held)) continue;
    if (soleName && held.st_nlink != 1) return refusal(ClaimProblem::Linked);
    FileClaim claim;
    claim.fd = std::move(fd);
    claim.problem = ClaimProblem::None;
    claim.created = created;
    return claim;
  }
  return refusal(ClaimProblem::System, EAGAIN);
}

std::optional<pid_t> lockHolderOf(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return flockHolder(info.st_dev, info.st_ino);
}
