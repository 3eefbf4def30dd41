#pragma once
// Key material that is wiped (OPENSSL_cleanse) when it goes, so a secret key does not linger in
// freed memory. Move-only: a move wipes the source.
#include <openssl/crypto.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

template <size_t N>
class SecretBytes {
 public:
  SecretBytes() = default;
  ~SecretBytes() { wipe(); }
  SecretBytes(SecretBytes&& other) noexcept : bytes_(other.bytes_) { other.wipe(); }
  SecretBytes& operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
      bytes_ = other.bytes_;
      other.wipe();
    }
    return *this;
  }
  SecretBytes(const SecretBytes&) = delete;
  SecretBytes& operator=(const SecretBytes&) = delete;

  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }
  static constexpr size_t size() { return N; }
  void wipe() { OPENSSL_cleanse(bytes_.data(), N); }

 private:
  std::array<uint8_t, N> bytes_{};
};

// Overwrites the text's bytes, then empties it. For texts that held a secret key (its file,
// its base64 line); the caller reserves their size up front so no reallocation leaves a copy.
inline void wipeText(std::string& text) {
  if (!text.empty()) OPENSSL_cleanse(text.data(), text.size());
  text.clear();
}
