#pragma once
// Verifying a minisign signature of a file: the key id, the signature over the file (or over
// its BLAKE2b-512 digest) and the global signature over the signature and its trusted
// comment. Any thread.
#include <string>
#include <string_view>

#include "signing/minisign_format.h"

enum class SignatureVerdict {
  Valid,
  Malformed,       // the text is not a signature file
  OtherKey,        // made by a key other than the one given
  Invalid,         // the signature does not match the file
  CommentInvalid,  // the trusted comment is not the one that was signed
};

struct SignatureCheck {
  SignatureVerdict verdict = SignatureVerdict::Malformed;
  std::string reason;          // why it is not Valid; empty when it is
  std::string trustedComment;  // when Valid
};

SignatureCheck checkSignature(const PublicKey& key, std::string_view file,
                              std::string_view signatureText);
