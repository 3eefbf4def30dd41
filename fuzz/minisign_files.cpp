// Any bytes as a minisign signature file, public key or secret key file, and as a manifest
// judged with that signature: each parser gives a value or an error, never a crash; what
// parses formats back to text that parses to the same value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "signing/signature_check.h"
#include "update/manifest_trust.h"

namespace {

const PublicKey& fixedKey() {
  static const PublicKey key = [] {
    Ed25519Seed seed;
    std::memset(seed.data(), 7, seed.size());
    return PublicKey{KeyId{1, 2, 3, 4, 5, 6, 7, 8}, *ed25519PublicKeyOf(seed)};
  }();
  return key;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);

  Parsed<SignatureFile> signature = parseSignatureFile(bytes);
  if (signature.value.has_value() == !signature.error.empty()) __builtin_trap();
  if (signature.value) {
    Parsed<SignatureFile> again = parseSignatureFile(signatureFileText(*signature.value));
    if (!again.value || again.value->signature != signature.value->signature ||
        again.value->trustedComment != signature.value->trustedComment) {
      __builtin_trap();
    }
  }
  Parsed<PublicKey> key = parsePublicKey(bytes);
  if (key.value) {
    Parsed<PublicKey> again = parsePublicKey(publicKeyFileText(*key.value));
    if (!again.value || again.value->key != key.value->key) __builtin_trap();
  }
  Parsed<SecretKey> secret = parseSecretKeyFile(bytes);
  if (secret.value) {
    std::string text = secretKeyFileText(*secret.value);
    if (!parseSecretKeyFile(text).value) __builtin_trap();
    wipeText(text);
  }

  const SignatureCheck check = checkSignature(fixedKey(), "manifest", bytes);
  if (check.verdict == SignatureVerdict::Valid) __builtin_trap();  // nobody has the key
  HttpTextResult fetched;
  fetched.status = 200;
  fetched.body = std::string(bytes);
  const ManifestVerdict verdict =
      judgeManifest(publicKeyLine(fixedKey()), 3, bytes, std::string(bytes), fetched, 0);
  if (verdict.refusal == ManifestRefusal::None) __builtin_trap();
  return 0;
}
