#pragma once
// Whether the vendor's key vouches for a manifest. With a public key configured, a manifest
// is accepted only when its signature (at the manifest's address + ".minisig") is valid and
// made by that key, its Serial is not lower than the highest one accepted before, and its
// Expires has not passed. Without a key every manifest is taken as it comes. Any thread.
#include <cstdint>
#include <string>
#include <string_view>

#include "transfer/task_outcome.h"
#include "update/http_text.h"

enum class ManifestRefusal {
  None,
  Signature,  // missing, not minisign's, made by another key, or not matching the manifest
  Expired,    // Expires has passed (or is no date)
  Rollback,   // Serial lower than the one accepted before (or no number)
};

// The status line's text of a refusal: "远程配置签名无效", "远程配置已过期", "远程配置版本回退".
const char* refusalText(ManifestRefusal refusal);

struct ManifestVerdict {
  ManifestRefusal refusal = ManifestRefusal::None;
  bool verified = false;  // a key was configured and the manifest passed every test
  // Security for a refusal; Network when the signature could not be fetched at all.
  FailureKind kind = FailureKind::None;
  std::string reason;  // for people: which test failed and why
  int64_t serial = 0;  // the manifest's Serial; 0 when it gives none
};

// The signature's address: the manifest's, ".minisig" appended.
std::string signatureUrlOf(const std::string& manifestUrl);

// Judges the manifest `body` (the bytes as served, which the signature covers) whose text
// is `text` (manifestText of the body) against `publicKey` (Config.ini's base64 line; empty:
// no verification) and `acceptedSerial`, with the signature's fetch and the time now.
ManifestVerdict judgeManifest(const std::string& publicKey, int64_t acceptedSerial,
                              std::string_view body, const std::string& text,
                              const HttpTextResult& signature, int64_t nowUnixSeconds);
