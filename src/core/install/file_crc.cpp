#include "install/file_crc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <vector>

#include "platform/unique_fd.h"

namespace {

constexpr size_t kBlock = 1 << 20;
constexpr int kBlocksBetweenCalls = 8;

}  // namespace

std::optional<uint32_t> crcOfFile(const std::string& path, const std::function<void()>& between) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  struct stat state {};
  if (!fd || ::fstat(fd.get(), &state) != 0 || !S_ISREG(state.st_mode)) return std::nullopt;
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  std::vector<unsigned char> buffer(kBlock);
  uLong crc = crc32_z(0, nullptr, 0);
  for (int blocks = 1;; ++blocks) {
    const ssize_t got = ::read(fd.get(), buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    crc = crc32_z(crc, buffer.data(), static_cast<size_t>(got));
    if (between && blocks % kBlocksBetweenCalls == 0) between();
  }
  return static_cast<uint32_t>(crc);
}
