#include "signing/ed25519.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

struct DigestContextFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

struct KeyContextFree {
  void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, KeyContextFree>;

Key privateKey(const Ed25519Seed& seed) {
  return Key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed.data(), seed.size()));
}

const unsigned char* bytesOf(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

}  // namespace

bool ed25519Generate(Ed25519Seed& seed, Ed25519PublicKey& publicKey) {
  KeyContext context(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
  EVP_PKEY* made = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_keygen(context.get(), &made) != 1) {
    return false;
  }
  Key key(made);
  size_t seedSize = seed.size();
  size_t publicSize = publicKey.size();
  if (EVP_PKEY_get_raw_private_key(key.get(), seed.data(), &seedSize) != 1 ||
      EVP_PKEY_get_raw_public_key(key.get(), publicKey.data(), &publicSize) != 1 ||
      seedSize != seed.size() || publicSize != publicKey.size()) {
    seed.wipe();
    return false;
  }
  return true;
}

std::optional<Ed25519PublicKey> ed25519PublicKeyOf(const Ed25519Seed& seed) {
  Key key = privateKey(seed);
  Ed25519PublicKey publicKey{};
  size_t size = publicKey.size();
  if (!key || EVP_PKEY_get_raw_public_key(key.get(), publicKey.data(), &size) != 1 ||
      size != publicKey.size()) {
    return std::nullopt;
  }
  return publicKey;
}

std::optional<Ed25519Signature> ed25519Sign(const Ed25519Seed& seed, std::string_view message) {
  Key key = privateKey(seed);
  DigestContext context(EVP_MD_CTX_new());
  Ed25519Signature signature{};
  size_t size = signature.size();
  if (!key || !context ||
      EVP_DigestSignInit_ex(context.get(), nullptr, nullptr, nullptr, nullptr, key.get(),
                            nullptr) != 1 ||
      EVP_DigestSign(context.get(), signature.data(), &size, bytesOf(message), message.size()) !=
          1 ||
      size != signature.size()) {
    return std::nullopt;
  }
  return signature;
}

bool ed25519Verify(const Ed25519PublicKey& publicKey, std::string_view message,
                   const Ed25519Signature& signature) {
  Key key(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, publicKey.data(), publicKey.size()));
  DigestContext context(EVP_MD_CTX_new());
  return key && context &&
         EVP_DigestVerifyInit_ex(context.get(), nullptr, nullptr, nullptr, nullptr, key.get(),
                                 nullptr) == 1 &&
         EVP_DigestVerify(context.get(), signature.data(), signature.size(), bytesOf(message),
                          message.size()) == 1;
}

std::optional<Blake2b512> blake2b512(std::string_view data) {
  Blake2b512 digest{};
  unsigned size = 0;
  DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_blake2b512(), nullptr) != 1 ||
      EVP_DigestUpdate(context.get(), data.data(), data.size()) != 1 ||
      EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1 || size != digest.size()) {
    return std::nullopt;
  }
  return digest;
}

bool randomBytes(uint8_t* out, size_t size) {
  return RAND_bytes(out, static_cast<int>(size)) == 1;
}
