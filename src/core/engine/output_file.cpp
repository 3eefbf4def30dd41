// The memory-mapped output file.
#include "engine/output_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>
#include <mutex>

#include "platform/unique_fd.h"

namespace {

// The whole file is one view, so its size must fit the engine's 32-bit sizes.
constexpr int64_t kLargestFile = std::numeric_limits<int32_t>::max();

}  // namespace

OutputFile::~OutputFile() {
  close();
}

bool OutputFile::create(const std::string& path, int64_t size) {
  if (size < 0 || size > kLargestFile) return false;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!fd) return false;
  if (::ftruncate(fd.get(), size) != 0 || !mapDescriptor(fd.get(), size)) {
    fd.reset();
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

bool OutputFile::openExisting(const std::string& path, int64_t size) {
  if (size < 0 || size > kLargestFile) return false;
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd) return false;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || info.st_size < size) return false;
  return mapDescriptor(fd.get(), size);
}

bool OutputFile::mapDescriptor(int fd, int64_t size) {
  uint8_t* view = nullptr;
  if (size > 0) {
    void* address =
        ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) return false;
    view = static_cast<uint8_t*>(address);
    ::madvise(address, static_cast<size_t>(size), MADV_SEQUENTIAL);
  }
  std::lock_guard lock(mutex_);
  view_ = view;
  size_ = static_cast<size_t>(size);
  open_ = true;
  opened_ = true;
  return true;
}

bool OutputFile::write(int64_t position, const uint8_t* data, size_t length) {
  std::shared_lock lock(mutex_);
  if (!open_ || position < 0 || static_cast<uint64_t>(position) > size_ ||
      length > size_ - static_cast<size_t>(position)) {
    return false;
  }
  if (length > 0) std::memcpy(view_ + position, data, length);
  return true;
}

void OutputFile::close() {
  std::lock_guard lock(mutex_);
  if (view_ != nullptr) ::munmap(view_, size_);
  view_ = nullptr;
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
