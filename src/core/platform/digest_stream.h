#pragma once
// Streaming message digests (OpenSSL's EVP interface): every digest the program computes goes
// through here, whether over a whole file or over a download's bytes as they arrive.
//
// One stream belongs to one thread at a time; it is movable, not copyable.
#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

enum class DigestAlgorithm {
  Md5,     // RFC 1321, 32 hex digits
  Sha256,  // FIPS 180-4, 64 hex digits
};

class DigestStream {
 public:
  explicit DigestStream(DigestAlgorithm algorithm);
  ~DigestStream();
  DigestStream(DigestStream&&) noexcept;
  DigestStream& operator=(DigestStream&&) noexcept;

  // Adds bytes; false once the stream has failed (it then stays failed).
  bool update(const void* data, size_t length);
  // The digest of everything added, as lowercase hex; empty when the stream failed. The
  // stream starts afresh afterwards.
  std::string finishHex();
  // Forgets everything added.
  void restart();

 private:
  struct Free {
    void operator()(evp_md_ctx_st* context) const;
  };
  DigestAlgorithm algorithm_;
  std::unique_ptr<evp_md_ctx_st, Free> context_;
  bool failed_ = false;
};
