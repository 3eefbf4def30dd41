#include "signing/minisign_format.h"

#include <cstring>
#include <vector>

#include "signing/base64.h"

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";
constexpr char kLegacyAlgorithm[] = "Ed";
constexpr char kPrehashedAlgorithm[] = "ED";
constexpr char kNoKdf[] = {0, 0};
constexpr char kScryptKdf[] = "Sc";
constexpr char kChecksumAlgorithm[] = "B2";

constexpr size_t kPublicKeyBytes = 2 + 8 + 32;
constexpr size_t kSignatureBytes = 2 + 8 + 64;
constexpr size_t kSecretKeyBytes = 2 + 2 + 2 + 32 + 8 + 8 + 8 + 32 + 32 + 32;
constexpr size_t kKeyIdAt = 54;
constexpr size_t kSeedAt = 62;
constexpr size_t kSecretPublicAt = 94;
constexpr size_t kChecksumAt = 126;

// The text's lines without their line breaks ("\n" or "\r\n"); a last empty line (after a
// final break) is dropped.
std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
  }
  return lines;
}

std::string_view trimmed(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool bytesAre(const uint8_t* bytes, const char* expected) {
  return std::memcmp(bytes, expected, 2) == 0;
}

template <size_t N>
void copyOut(const uint8_t* from, std::array<uint8_t, N>& to) {
  std::memcpy(to.data(), from, N);
}

// A comment line: the text after `prefix`, or an error naming `what`.
std::optional<std::string_view> commentOf(std::string_view line, std::string_view prefix,
                                          size_t limit, std::string& error) {
  if (!startsWith(line, prefix)) {
    error = "a line starting with \"" + std::string(prefix) + "\" is missing";
    return std::nullopt;
  }
  std::string_view comment = line.substr(prefix.size());
  if (comment.size() > limit) {
    error = "the comment is longer than " + std::to_string(limit) + " bytes";
    return std::nullopt;
  }
  return comment;
}

}  // namespace

Parsed<PublicKey> parsePublicKey(std::string_view text) {
  Parsed<PublicKey> parsed;
  std::vector<std::string_view> lines = linesOf(trimmed(text));
  if (!lines.empty() && startsWith(lines.front(), kUntrustedPrefix)) lines.erase(lines.begin());
  if (lines.size() != 1) {
    parsed.error = "a public key is one base64 line";
    return parsed;
  }
  std::array<uint8_t, kPublicKeyBytes> bytes{};
  if (!base64DecodeInto(trimmed(lines.front()), bytes.data(), bytes.size())) {
    parsed.error = "the public key is not 42 bytes of base64";
    return parsed;
  }
  if (!bytesAre(bytes.data(), kLegacyAlgorithm)) {
    parsed.error = "the public key is not an Ed25519 key";
    return parsed;
  }
  PublicKey key;
  copyOut(bytes.data() + 2, key.keyId);
  copyOut(bytes.data() + 10, key.key);
  parsed.value = key;
  return parsed;
}

Parsed<SignatureFile> parseSignatureFile(std::string_view text) {
  Parsed<SignatureFile> parsed;
  if (text.size() > kSignatureFileLimit) {
    parsed.error =
        "the signature file is longer than " + std::to_string(kSignatureFileLimit) + " bytes";
    return parsed;
  }
  std::vector<std::string_view> lines = linesOf(text);
  while (!lines.empty() && trimmed(lines.back()).empty()) lines.pop_back();
  if (lines.size() != 4) {
    parsed.error = "a signature file has four lines, this one " + std::to_string(lines.size());
    return parsed;
  }
  SignatureFile file;
  std::optional<std::string_view> untrusted =
      commentOf(lines[0], kUntrustedPrefix, kUntrustedCommentLimit, parsed.error);
  std::optional<std::string_view> trusted =
      untrusted ? commentOf(lines[2], kTrustedPrefix, kTrustedCommentLimit, parsed.error)
                : std::nullopt;
  if (!trusted) return parsed;
  std::array<uint8_t, kSignatureBytes> bytes{};
  if (!base64DecodeInto(trimmed(lines[1]), bytes.data(), bytes.size())) {
    parsed.error = "the signature line is not 74 bytes of base64";
    return parsed;
  }
  if (bytesAre(bytes.data(), kPrehashedAlgorithm)) {
    file.algorithm = SignatureAlgorithm::Prehashed;
  } else if (bytesAre(bytes.data(), kLegacyAlgorithm)) {
    file.algorithm = SignatureAlgorithm::Legacy;
  } else {
    parsed.error = "the signature's algorithm is neither ED nor Ed";
    return parsed;
  }
  if (!base64DecodeInto(trimmed(lines[3]), file.globalSignature.data(),
                        file.globalSignature.size())) {
    parsed.error = "the trusted comment's signature is not 64 bytes of base64";
    return parsed;
  }
  copyOut(bytes.data() + 2, file.keyId);
  copyOut(bytes.data() + 10, file.signature);
  file.untrustedComment = std::string(*untrusted);
  file.trustedComment = std::string(*trusted);
  parsed.value = std::move(file);
  return parsed;
}

Parsed<SecretKey> parseSecretKeyFile(std::string_view text) {
  Parsed<SecretKey> parsed;
  std::vector<std::string_view> lines = linesOf(trimmed(text));
  if (lines.size() != 2 ||
      !commentOf(lines[0], kUntrustedPrefix, kUntrustedCommentLimit, parsed.error)) {
    if (parsed.error.empty()) parsed.error = "a secret key file has two lines";
    return parsed;
  }
  SecretBytes<kSecretKeyBytes> bytes;
  if (!base64DecodeInto(trimmed(lines[1]), bytes.data(), bytes.size())) {
    parsed.error = "the secret key is not 158 bytes of base64";
    return parsed;
  }
  const uint8_t* b = bytes.data();
  if (!bytesAre(b, kLegacyAlgorithm) || !bytesAre(b + 4, kChecksumAlgorithm)) {
    parsed.error = "the secret key is not an Ed25519 key of minisign";
    return parsed;
  }
  if (bytesAre(b + 2, kScryptKdf)) {
    parsed.error =
        "the secret key is protected by a password; remove it with minisign -C -W (and keep "
        "the file readable by its owner alone)";
    return parsed;
  }
  if (!bytesAre(b + 2, kNoKdf)) {
    parsed.error = "the secret key's key derivation is unknown";
    return parsed;
  }
  SecretKey key;
  copyOut(b + kKeyIdAt, key.keyId);
  std::memcpy(key.seed.data(), b + kSeedAt, key.seed.size());
  copyOut(b + kSecretPublicAt, key.publicKey);
  std::optional<Ed25519PublicKey> derived = ed25519PublicKeyOf(key.seed);
  if (!derived || *derived != key.publicKey) {
    parsed.error = "the secret key is damaged: its public half does not belong to it";
    return parsed;
  }
  parsed.value = std::move(key);
  return parsed;
}

std::string keyIdText(const KeyId& id) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = id.size(); i-- > 0;) {
    text += kDigits[id[i] >> 4];
    text += kDigits[id[i] & 15];
  }
  return text;
}

std::string publicKeyLine(const PublicKey& key) {
  std::array<uint8_t, kPublicKeyBytes> bytes{};
  std::memcpy(bytes.data(), kLegacyAlgorithm, 2);
  std::memcpy(bytes.data() + 2, key.keyId.data(), key.keyId.size());
  std::memcpy(bytes.data() + 10, key.key.data(), key.key.size());
  return base64Encode(bytes.data(), bytes.size());
}

std::string publicKeyFileText(const PublicKey& key) {
  return std::string(kUntrustedPrefix) + "minisign public key " + keyIdText(key.keyId) + "\n" +
         publicKeyLine(key) + "\n";
}

std::string signatureFileText(const SignatureFile& signature) {
  std::array<uint8_t, kSignatureBytes> bytes{};
  const bool prehashed = signature.algorithm == SignatureAlgorithm::Prehashed;
  std::memcpy(bytes.data(), prehashed ? kPrehashedAlgorithm : kLegacyAlgorithm, 2);
  std::memcpy(bytes.data() + 2, signature.keyId.data(), signature.keyId.size());
  std::memcpy(bytes.data() + 10, signature.signature.data(), signature.signature.size());
  return std::string(kUntrustedPrefix) + signature.untrustedComment + "\n" +
         base64Encode(bytes.data(), bytes.size()) + "\n" + std::string(kTrustedPrefix) +
         signature.trustedComment + "\n" +
         base64Encode(signature.globalSignature.data(), signature.globalSignature.size()) + "\n";
}

std::string secretKeyFileText(const SecretKey& key) {
  SecretBytes<kSecretKeyBytes> bytes;  // zero: salt, limits and checksum stay so
  uint8_t* b = bytes.data();
  std::memcpy(b, kLegacyAlgorithm, 2);
  std::memcpy(b + 2, kNoKdf, 2);
  std::memcpy(b + 4, kChecksumAlgorithm, 2);
  std::memcpy(b + kKeyIdAt, key.keyId.data(), key.keyId.size());
  std::memcpy(b + kSeedAt, key.seed.data(), key.seed.size());
  std::memcpy(b + kSecretPublicAt, key.publicKey.data(), key.publicKey.size());
  static_assert(kChecksumAt + 32 == kSecretKeyBytes);
  std::string line = base64Encode(b, bytes.size());
  const std::string comment = std::string(kUntrustedPrefix) + "minisign secret key " +
                              keyIdText(key.keyId) + " (no password)\n";
  std::string text;
  text.reserve(comment.size() + line.size() + 1);
  text += comment;
  text += line;
  text += '\n';
  wipeText(line);
  return text;
}
