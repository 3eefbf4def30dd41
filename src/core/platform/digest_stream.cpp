#include "platform/digest_stream.h"

#include <openssl/evp.h>

namespace {

// Each algorithm is fetched from the provider once and kept for the life of the process. A
// legacy EVP_md5() would make OpenSSL fetch (and later free) an implementation for every
// stream, and streams run on several threads at once (download workers, the update check).
const EVP_MD* algorithmOf(DigestAlgorithm algorithm) {
  switch (algorithm) {
    case DigestAlgorithm::Sha256: {
      static const EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
      return sha256 != nullptr ? sha256 : EVP_sha256();
    }
    case DigestAlgorithm::Md5:
      break;
  }
  static const EVP_MD* const md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  return md5 != nullptr ? md5 : EVP_md5();
}

std::string toHex(const unsigned char* digest, unsigned length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

}  // namespace

void DigestStream::Free::operator()(evp_md_ctx_st* context) const {
  EVP_MD_CTX_free(context);
}

DigestStream::DigestStream(DigestAlgorithm algorithm)
    : algorithm_(algorithm), context_(EVP_MD_CTX_new()) {
  restart();
}

DigestStream::~DigestStream() = default;
DigestStream::DigestStream(DigestStream&&) noexcept = default;
DigestStream& DigestStream::operator=(DigestStream&&) noexcept = default;

void DigestStream::restart() {
  failed_ = !context_ || EVP_DigestInit_ex(context_.get(), algorithmOf(algorithm_), nullptr) != 1;
}

bool DigestStream::update(const void* data, size_t length) {
  if (failed_) return false;
  if (length > 0 && EVP_DigestUpdate(context_.get(), data, length) != 1) failed_ = true;
  return !failed_;
}

std::string DigestStream::finishHex() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  bool good = !failed_ && EVP_DigestFinal_ex(context_.get(), digest, &length) == 1;
  restart();
  return good ? toHex(digest, length) : std::string();
}
