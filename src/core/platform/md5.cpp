#include "platform/md5.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/digest_stream.h"
#include "platform/unique_fd.h"

namespace {

std::string orEmptyDigest(std::string hex) {
  return hex.empty() ? std::string(kEmptyMd5) : hex;
}

}  // namespace

std::string md5OfBytes(std::string_view bytes) {
  DigestStream stream(DigestAlgorithm::Md5);
  stream.update(bytes.data(), bytes.size());
  return orEmptyDigest(stream.finishHex());
}

std::string md5OfFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return kEmptyMd5;
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  DigestStream stream(DigestAlgorithm::Md5);
  constexpr size_t kChunk = 64 * 1024;
  auto chunk = std::make_unique<unsigned char[]>(kChunk);
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk.get(), kChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return kEmptyMd5;  // unreadable counts as missing
    if (n == 0) break;
    stream.update(chunk.get(), static_cast<size_t>(n));
  }
  return orEmptyDigest(stream.finishHex());
}
