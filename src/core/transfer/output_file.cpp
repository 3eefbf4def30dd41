// The output file: created at full size, written at positions, closed once.
#include "transfer/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <mutex>

namespace {

// Sizes and positions travel as 32-bit values through the status callback.
constexpr int64_t kLargestFile = std::numeric_limits<int32_t>::max();

// Records `code` (an errno value) as the reason of a failed write and returns false.
bool failWith(int* error, int code) {
  if (error != nullptr) *error = code;
  return false;
}

}  // namespace

std::string partialPathOf(const std::string& target) {
  return target + ".part";
}

std::string controlPathOf(const std::string& target) {
  return partialPathOf(target) + ".state";
}

OutputFile::~OutputFile() {
  close();
}

bool OutputFile::refuse(OutputFileError* why, ClaimProblem problem, int error, pid_t holder) {
  if (why != nullptr) *why = OutputFileError{problem, error, holder};
  return false;
}

bool OutputFile::create(const std::string& path, int64_t size, const std::string& describedBy,
                        OutputFileError* why) {
  if (size < 0 || size > kLargestFile) return refuse(why, ClaimProblem::System, EFBIG);
  // Two rounds: an old file is claimed and removed in the first, a new one made in the second.
  for (int round = 0; round < 2; ++round) {
    FileClaim claim = claimFile(path, ClaimMode::CreateIfMissing);
    if (claim.problem != ClaimProblem::None) {
      return refuse(why, claim.problem, claim.error, claim.holder);
    }
    if (!describedBy.empty()) ::unlink(describedBy.c_str());
    if (!claim.created) {
      // The partial file of an earlier attempt, now ours: nothing in it is of use. It is
      // removed rather than cut back, so that a hard link to it keeps its bytes.
      ::unlink(path.c_str());
      continue;
    }
    if (!reserve(claim.fd.get(), size)) {
      int reason = errno;
      ::unlink(path.c_str());
      return refuse(why, ClaimProblem::System, reason);
    }
    return adopt(std::move(claim.fd), size);
  }
  return refuse(why, ClaimProblem::System, EAGAIN);
}

// Allocates the file's blocks up front: a full disk shows at creation, and the writes skip
// the per-write block reservation (about a fifth of their cost). File systems that cannot
// allocate ahead get a plain size.
bool OutputFile::reserve(int fd, int64_t size) {
  if (size == 0) return true;
  if (::fallocate(fd, 0, 0, size) == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return false;
  return ::ftruncate(fd, size) == 0;
}

bool OutputFile::openExisting(const std::string& path, int64_t size, OutputFileError* why) {
  if (size < 0 || size > kLargestFile) return refuse(why, ClaimProblem::System, EFBIG);
  FileClaim claim = claimFile(path, ClaimMode::Existing, true);
  if (claim.problem != ClaimProblem::None) {
    return refuse(why, claim.problem, claim.error, claim.holder);
  }
  struct stat info {};
  if (::fstat(claim.fd.get(), &info) != 0) return refuse(why, ClaimProblem::System, errno);
  if (info.st_size < size) return refuse(why, ClaimProblem::System, EINVAL);
  return adopt(std::move(claim.fd), size);
}

bool OutputFile::adopt(UniqueFd fd, int64_t size) {
  std::lock_guard lock(mutex_);
  fd_ = std::move(fd);
  size_ = size;
  open_ = true;
  opened_ = true;
  return true;
}

bool OutputFile::write(int64_t position, const uint8_t* data, size_t length, int* error) {
  std::shared_lock lock(mutex_);
  if (!open_) return failWith(error, EBADF);
  if (position < 0 || position > size_ || static_cast<int64_t>(length) > size_ - position) {
    return failWith(error, EINVAL);
  }
  while (length > 0) {
    ssize_t written = ::pwrite(fd_.get(), data, length, position);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return failWith(error, errno);
    if (written == 0) return failWith(error, ENOSPC);
    data += written;
    length -= static_cast<size_t>(written);
    position += written;
  }
  return true;
}

bool OutputFile::read(int64_t position, uint8_t* data, size_t length, int* error) const {
  std::shared_lock lock(mutex_);
  if (!open_) return failWith(error, EBADF);
  if (position < 0 || position > size_ || static_cast<int64_t>(length) > size_ - position) {
    return failWith(error, EINVAL);
  }
  while (length > 0) {
    ssize_t got = ::pread(fd_.get(), data, length, position);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return failWith(error, errno);
    if (got == 0) return failWith(error, EIO);  // shorter than it was made: cut by someone
    data += got;
    length -= static_cast<size_t>(got);
    position += got;
  }
  return true;
}

std::optional<FileIdentity> OutputFile::identity() const {
  std::shared_lock lock(mutex_);
  if (!open_) return std::nullopt;
  return fileIdentityOf(fd_.get());
}

void OutputFile::close() {
  std::lock_guard lock(mutex_);
  fd_.reset();
  open_ = false;
}

void OutputFile::discard() {
  std::lock_guard lock(mutex_);
  fd_.reset();
  open_ = false;
  opened_ = false;
}

bool OutputFile::isOpen() const {
  std::shared_lock lock(mutex_);
  return open_;
}

bool OutputFile::wasOpened() const {
  std::shared_lock lock(mutex_);
  return opened_;
}
