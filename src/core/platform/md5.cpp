#include "platform/md5.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/unique_fd.h"

namespace {

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

std::string toHex(const unsigned char* digest, unsigned length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

std::string finish(EVP_MD_CTX* context, const char* failed = kEmptyMd5) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_DigestFinal_ex(context, digest, &length) != 1) return failed;
  return toHex(digest, length);
}

DigestContext startDigest(const EVP_MD* type) {
  DigestContext context(EVP_MD_CTX_new());
  if (context && EVP_DigestInit_ex(context.get(), type, nullptr) != 1) context.reset();
  return context;
}

}  // namespace

std::string md5OfBytes(std::string_view bytes) {
  DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return kEmptyMd5;
  EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
  return finish(context.get());
}

std::string md5OfFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return kEmptyMd5;
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return kEmptyMd5;
  constexpr size_t kChunk = 64 * 1024;
  auto chunk = std::make_unique<unsigned char[]>(kChunk);
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk.get(), kChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return kEmptyMd5;  // unreadable counts as missing
    if (n == 0) break;
    EVP_DigestUpdate(context.get(), chunk.get(), static_cast<size_t>(n));
  }
  return finish(context.get());
}

std::string sha256OfBytes(std::string_view bytes) {
  DigestContext context = startDigest(EVP_sha256());
  if (!context) return kEmptySha256;
  EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
  return finish(context.get(), kEmptySha256);
}

FileDigests digestsOfFile(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return {};
  ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
  DigestContext md5 = startDigest(EVP_md5());
  DigestContext sha256 = startDigest(EVP_sha256());
  if (!md5 || !sha256) return {};
  constexpr size_t kChunk = 64 * 1024;
  auto chunk = std::make_unique<unsigned char[]>(kChunk);
  int64_t size = 0;
  for (;;) {
    ssize_t n = ::read(fd.get(), chunk.get(), kChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {};  // unreadable counts as missing
    if (n == 0) break;
    EVP_DigestUpdate(md5.get(), chunk.get(), static_cast<size_t>(n));
    EVP_DigestUpdate(sha256.get(), chunk.get(), static_cast<size_t>(n));
    size += n;
  }
  return {finish(md5.get()), finish(sha256.get(), kEmptySha256), size};
}
