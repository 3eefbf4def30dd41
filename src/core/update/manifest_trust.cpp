#include "update/manifest_trust.h"

#include "platform/decimal.h"
#include "platform/ini.h"
#include "signing/signature_check.h"
#include "update/manifest_fields.h"

namespace {

ManifestVerdict refused(ManifestRefusal refusal, std::string reason,
                        FailureKind kind = FailureKind::Security) {
  ManifestVerdict verdict;
  verdict.refusal = refusal;
  verdict.kind = kind;
  verdict.reason = std::move(reason);
  return verdict;
}

// The signature's text, or the refusal that its fetch already decides.
std::optional<ManifestVerdict> unfetched(const HttpTextResult& signature) {
  if (signature.failure == FailureKind::Network) {
    return refused(ManifestRefusal::Signature,
                   "the signature cannot be fetched: " + signature.reason, FailureKind::Network);
  }
  if (signature.failure != FailureKind::None) {
    return refused(ManifestRefusal::Signature,
                   "the signature cannot be fetched: " + signature.reason);
  }
  if (signature.status >= 400) {
    return refused(ManifestRefusal::Signature,
                   "no signature: HTTP " + std::to_string(signature.status));
  }
  if (signature.body.empty())
    return refused(ManifestRefusal::Signature, "no signature: empty reply");
  return std::nullopt;
}

}  // namespace

const char* refusalText(ManifestRefusal refusal) {
  switch (refusal) {
    case ManifestRefusal::Signature:
      return "远程配置签名无效";
    case ManifestRefusal::Expired:
      return "远程配置已过期";
    case ManifestRefusal::Rollback:
      return "远程配置版本回退";
    case ManifestRefusal::None:
      break;
  }
  return "";
}

std::string signatureUrlOf(const std::string& manifestUrl) {
  return manifestUrl + ".minisig";
}

ManifestVerdict judgeManifest(const std::string& publicKey, int64_t acceptedSerial,
                              std::string_view body, const std::string& text,
                              const HttpTextResult& signature, int64_t nowUnixSeconds) {
  if (publicKey.empty()) return {};
  Parsed<PublicKey> key = parsePublicKey(publicKey);
  if (!key.value) {
    return refused(ManifestRefusal::Signature,
                   "Config.ini [Vendor] PublicKey= is not a minisign public key: " + key.error);
  }
  if (std::optional<ManifestVerdict> verdict = unfetched(signature)) return *verdict;
  SignatureCheck check = checkSignature(*key.value, body, signature.body);
  if (check.verdict != SignatureVerdict::Valid) {
    return refused(ManifestRefusal::Signature, check.reason);
  }

  const std::string serialText = iniReadText(text, kManifestSection, kSerialKey, "");
  std::optional<int64_t> serial = serialText.empty() ? 0 : parseDecimal(serialText);
  if (!serial) {
    return refused(ManifestRefusal::Rollback, "Serial=" + serialText + " is not a decimal counter");
  }
  if (*serial < acceptedSerial) {
    return refused(ManifestRefusal::Rollback,
                   "Serial " + std::to_string(*serial) + " is lower than " +
                       std::to_string(acceptedSerial) + ", accepted before");
  }
  const std::string expiresText = iniReadText(text, kManifestSection, kExpiresKey, "");
  if (!expiresText.empty()) {
    std::optional<int64_t> expiry = expiryOf(expiresText);
    if (!expiry) {
      return refused(ManifestRefusal::Expired,
                     "Expires=" + expiresText + " is not an ISO 8601 date");
    }
    if (nowUnixSeconds >= *expiry) {
      return refused(ManifestRefusal::Expired, "it expired at " + isoUtcText(*expiry));
    }
  }
  ManifestVerdict verdict;
  verdict.verified = true;
  verdict.serial = *serial;
  return verdict;
}
