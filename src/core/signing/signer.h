#pragma once
// Making keys and signatures in minisign's formats, for the vendor's commands. Any thread.
#include <optional>
#include <string>
#include <string_view>

#include "signing/minisign_format.h"

struct KeyPair {
  PublicKey publicKey;
  SecretKey secretKey;
};

// A new key pair with a random key id; nothing when the random generator fails.
std::optional<KeyPair> generateKeyPair();

// The trusted comment minisign writes by default: "timestamp:SECONDS\tfile:NAME", followed by
// "\thashed" for a prehashed signature.
std::string defaultTrustedComment(int64_t unixSeconds, std::string_view fileName,
                                  SignatureAlgorithm algorithm);

// The signature file of `file` by `key` with `trustedComment` (one line: no CR or LF);
// nothing when signing fails or the comment is not one line.
std::optional<std::string> signFile(const SecretKey& key, std::string_view file,
                                    std::string_view trustedComment,
                                    SignatureAlgorithm algorithm = SignatureAlgorithm::Prehashed);
