#include "platform/file_identity.h"

#include <sys/stat.h>

namespace {

int64_t nanoseconds(const timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

std::optional<FileIdentity> identityFrom(const struct stat& info) {
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                      static_cast<int64_t>(info.st_size), nanoseconds(info.st_mtim),
                      nanoseconds(info.st_ctim)};
}

}  // namespace

std::optional<FileIdentity> fileIdentityOf(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return identityFrom(info);
}

std::optional<FileIdentity> fileIdentityAt(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return identityFrom(info);
}
