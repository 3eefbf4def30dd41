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

// Records `code` (an errno value) as the reason of a failure and returns false.
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

bool OutputFile::create(const std::string& path, int64_t size, int* error) {
  if (size < 0 || size > kLargestFile) return failWith(error, EFBIG);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!fd) return failWith(error, errno);
  if (!reserve(fd.get(), size)) {
    int reason = errno;
    fd.reset();
    ::unlink(path.c_str());
    return failWith(error, reason);
  }
  return adopt(std::move(fd), size);
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

bool OutputFile::openExisting(const std::string& path, int64_t size, int* error) {
  if (size < 0 || size > kLargestFile) return failWith(error, EFBIG);
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) return failWith(error, errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return failWith(error, errno);
  if (info.st_size < size) return failWith(error, EINVAL);
  return adopt(std::move(fd), size);
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

void OutputFile::close() {
  std::lock_guard lock(mutex_);
  fd_.reset();
  open_ = false;
}

bool OutputFile::isOpen() const {
  std::shared_lock lock(mutex_);
  return open_;
}

bool OutputFile::wasOpened() const {
  std::shared_lock lock(mutex_);
  return opened_;
}
