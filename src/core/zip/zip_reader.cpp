#include "zip/zip_reader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "zip/zip_layout.h"

bool ZipArchive::open(const std::string& path) {
  fd_.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!fd_ || ::fstat(fd_.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  std::optional<CentralDirectory> directory =
      readCentralDirectory(fd_.get(), static_cast<uint64_t>(info.st_size));
  if (!directory || !locateEntryData(fd_.get(), *directory)) return false;
  directory_ = std::move(*directory);
  return true;
}
