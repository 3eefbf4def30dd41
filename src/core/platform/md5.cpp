#include "platform/md5.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/digest_stream.h"
#include "platform/unique_fd.h"

namespace {

std::string orEmpty(std::string hex, const char* empty) {
  return hex.empty() ? std::string(empty) : hex;
}

// Feeds the whole file to each stream in 64 KiB chunks; the byte count, or -1 when the file
// is missing or unreadable.
int64_t streamFile(const std::string& path, DigestStream* first, DigestStream* second) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return -1;
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  constexpr size_t kChunk = 64 * 1024;
  auto chunk = std::make_unique<unsigned char[]>(kChunk);
  int64_t size = 0;
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk.get(), kChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) return size;
    first->update(chunk.get(), static_cast<size_t>(n));
    if (second != nullptr) second->update(chunk.get(), static_cast<size_t>(n));
    size += n;
  }
}

}  // namespace

std::string md5OfBytes(std::string_view bytes) {
  DigestStream stream(DigestAlgorithm::Md5);
  stream.update(bytes.data(), bytes.size());
  return orEmpty(stream.finishHex(), kEmptyMd5);
}

std::string md5OfFile(const std::string& path) {
  DigestStream stream(DigestAlgorithm::Md5);
  if (streamFile(path, &stream, nullptr) < 0) return kEmptyMd5;  // unreadable counts as missing
  return orEmpty(stream.finishHex(), kEmptyMd5);
}

std::string sha256OfBytes(std::string_view bytes) {
  DigestStream stream(DigestAlgorithm::Sha256);
  stream.update(bytes.data(), bytes.size());
  return orEmpty(stream.finishHex(), kEmptySha256);
}

FileDigests digestsOfFile(const std::string& path) {
  DigestStream md5(DigestAlgorithm::Md5);
  DigestStream sha256(DigestAlgorithm::Sha256);
  int64_t size = streamFile(path, &md5, &sha256);
  if (size < 0) return {};  // unreadable counts as missing
  return {orEmpty(md5.finishHex(), kEmptyMd5), orEmpty(sha256.finishHex(), kEmptySha256), size};
}
