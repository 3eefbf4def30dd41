#pragma once
// minisign's files as values: the public key (its base64 line, alone or below its comment
// line), the signature file (FILE.minisig) and the secret key file without a password.
// Parsing checks the structure (lines, lengths, algorithm bytes); signature_check.h does the
// cryptography. Texts up to the limits below are parsed; anything longer is refused. Any
// thread.
//
// The binary layouts (all inside base64 lines):
//   public key   "Ed", key id (8), Ed25519 public key (32)
//   signature    "ED" (BLAKE2b-512 of the file signed) or "Ed" (the file itself signed),
//                key id (8), Ed25519 signature (64); a "trusted comment: " line follows,
//                then the global signature (64) over the signature and the trusted comment
//   secret key   "Ed", KDF "\0\0" (no password), checksum algorithm "B2", salt (32),
//                opslimit (8), memlimit (8), key id (8), Ed25519 private key (32) and
//                public key (32), checksum (32); the salt, limits and checksum stay zero
//                without a password, as minisign writes them with -W
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "signing/ed25519.h"

using KeyId = std::array<uint8_t, 8>;

inline constexpr size_t kSignatureFileLimit = 16 * 1024;
inline constexpr size_t kUntrustedCommentLimit = 1024;
inline constexpr size_t kTrustedCommentLimit = 8192;

enum class SignatureAlgorithm {
  Prehashed,  // "ED": the BLAKE2b-512 digest of the file is signed
  Legacy,     // "Ed": the file itself is signed
};

struct PublicKey {
  KeyId keyId{};
  Ed25519PublicKey key{};
};

struct SignatureFile {
  std::string untrustedComment;  // the text after "untrusted comment: "
  SignatureAlgorithm algorithm = SignatureAlgorithm::Prehashed;
  KeyId keyId{};
  Ed25519Signature signature{};
  std::string trustedComment;          // the text after "trusted comment: "
  Ed25519Signature globalSignature{};  // over `signature` followed by `trustedComment`
};

// Owns the private key; move-only, wiped when it goes.
struct SecretKey {
  KeyId keyId{};
  Ed25519Seed seed;
  Ed25519PublicKey publicKey{};
};

// A parsed value, or why the text is not one.
template <class T>
struct Parsed {
  std::optional<T> value;
  std::string error;  // empty when `value` is set
};

// The base64 line of a public key (blanks and line breaks around it dropped), or a whole
// public key file (its comment line, then that line).
Parsed<PublicKey> parsePublicKey(std::string_view text);
Parsed<SignatureFile> parseSignatureFile(std::string_view text);
// A secret key file without a password; one protected by a password is refused (its error
// says how to remove the password). The public half must belong to the private key.
Parsed<SecretKey> parseSecretKeyFile(std::string_view text);

// The key id as minisign prints it: 16 upper-case hex digits, last byte first.
std::string keyIdText(const KeyId& id);
// The public key's base64 line (what Config.ini's [Vendor] PublicKey= holds).
std::string publicKeyLine(const PublicKey& key);
// A public key file: "untrusted comment: minisign public key KEYID" and the base64 line.
std::string publicKeyFileText(const PublicKey& key);
std::string signatureFileText(const SignatureFile& signature);
// The secret key file. It holds the secret: the caller wipes it (wipeText) once written.
std::string secretKeyFileText(const SecretKey& key);
