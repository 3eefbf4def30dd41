#include "signing/signer.h"

namespace {

std::string_view textOf(const Ed25519Signature& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

std::optional<KeyPair> generateKeyPair() {
  KeyPair pair;
  if (!randomBytes(pair.secretKey.keyId.data(), pair.secretKey.keyId.size()) ||
      !ed25519Generate(pair.secretKey.seed, pair.secretKey.publicKey)) {
    return std::nullopt;
  }
  pair.publicKey.keyId = pair.secretKey.keyId;
  pair.publicKey.key = pair.secretKey.publicKey;
  return pair;
}

std::string defaultTrustedComment(int64_t unixSeconds, std::string_view fileName,
                                  SignatureAlgorithm algorithm) {
  std::string comment = "timestamp:" + std::to_string(unixSeconds) + "\tfile:";
  comment += fileName;
  if (algorithm == SignatureAlgorithm::Prehashed) comment += "\thashed";
  return comment;
}

std::optional<std::string> signFile(const SecretKey& key, std::string_view file,
                                    std::string_view trustedComment, SignatureAlgorithm algorithm) {
  if (trustedComment.find_first_of("\r\n") != std::string_view::npos ||
      trustedComment.size() > kTrustedCommentLimit) {
    return std::nullopt;
  }
  std::optional<Blake2b512> digest;
  std::string_view message = file;
  if (algorithm == SignatureAlgorithm::Prehashed) {
    if (!(digest = blake2b512(file))) return std::nullopt;
    message = {reinterpret_cast<const char*>(digest->data()), digest->size()};
  }
  SignatureFile signature;
  signature.untrustedComment = "signature from minisign secret key";
  signature.algorithm = algorithm;
  signature.keyId = key.keyId;
  signature.trustedComment = std::string(trustedComment);
  std::optional<Ed25519Signature> made = ed25519Sign(key.seed, message);
  if (!made) return std::nullopt;
  signature.signature = *made;
  made = ed25519Sign(key.seed, std::string(textOf(signature.signature)) + signature.trustedComment);
  if (!made) return std::nullopt;
  signature.globalSignature = *made;
  return signatureFileText(signature);
}
