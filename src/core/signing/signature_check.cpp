#include "signing/signature_check.h"

namespace {

std::string_view textOf(const Ed25519Signature& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

SignatureCheck checkSignature(const PublicKey& key, std::string_view file,
                              std::string_view signatureText) {
  SignatureCheck check;
  Parsed<SignatureFile> parsed = parseSignatureFile(signatureText);
  if (!parsed.value) {
    check.reason = "the signature is not in minisign's format: " + parsed.error;
    return check;
  }
  const SignatureFile& signature = *parsed.value;
  if (signature.keyId != key.keyId) {
    check.verdict = SignatureVerdict::OtherKey;
    check.reason = "signed by key " + keyIdText(signature.keyId) + ", not by the vendor's key " +
                   keyIdText(key.keyId);
    return check;
  }
  std::optional<Blake2b512> digest;
  std::string_view message = file;
  if (signature.algorithm == SignatureAlgorithm::Prehashed) {
    digest = blake2b512(file);
    if (!digest) {
      check.verdict = SignatureVerdict::Invalid;
      check.reason = "the file's BLAKE2b-512 digest cannot be computed";
      return check;
    }
    message = {reinterpret_cast<const char*>(digest->data()), digest->size()};
  }
  if (!ed25519Verify(key.key, message, signature.signature)) {
    check.verdict = SignatureVerdict::Invalid;
    check.reason = "the signature does not match the file";
    return check;
  }
  const std::string global = std::string(textOf(signature.signature)) + signature.trustedComment;
  if (!ed25519Verify(key.key, global, signature.globalSignature)) {
    check.verdict = SignatureVerdict::CommentInvalid;
    check.reason = "the trusted comment does not match its signature";
    return check;
  }
  check.verdict = SignatureVerdict::Valid;
  check.trustedComment = signature.trustedComment;
  return check;
}
