// Which TLS failures a retry cannot change.
#include "tls/tls_refusal.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

// Alerts a server sends when it will not talk to us as we are. An internal error, a closed
// connection or a bad record MAC (damage in transit) are left out: another try may do.
bool refusingAlert(int alert) {
  switch (alert) {
    case SSL_AD_HANDSHAKE_FAILURE:
    case SSL_AD_BAD_CERTIFICATE:
    case SSL_AD_UNSUPPORTED_CERTIFICATE:
    case SSL_AD_CERTIFICATE_REVOKED:
    case SSL_AD_CERTIFICATE_EXPIRED:
    case SSL_AD_CERTIFICATE_UNKNOWN:
    case SSL_AD_ILLEGAL_PARAMETER:
    case SSL_AD_UNKNOWN_CA:
    case SSL_AD_ACCESS_DENIED:
    case SSL_AD_PROTOCOL_VERSION:
    case SSL_AD_INSUFFICIENT_SECURITY:
    case SSL_AD_INAPPROPRIATE_FALLBACK:
    case SSL_AD_MISSING_EXTENSION:
    case SSL_AD_UNSUPPORTED_EXTENSION:
    case SSL_AD_UNRECOGNIZED_NAME:
    case SSL_AD_CERTIFICATE_REQUIRED:
    case SSL_AD_NO_APPLICATION_PROTOCOL:
      return true;
    default:
      return false;
  }
}

// Our own side's findings about what the server offered.
bool refusingReason(int reason) {
  switch (reason) {
    case SSL_R_UNSUPPORTED_PROTOCOL:
    case SSL_R_NO_PROTOCOLS_AVAILABLE:
    case SSL_R_VERSION_TOO_LOW:
    case SSL_R_NO_CIPHERS_AVAILABLE:
    case SSL_R_NO_SHARED_CIPHER:
    case SSL_R_WRONG_CIPHER_RETURNED:
    case SSL_R_NO_SUITABLE_SIGNATURE_ALGORITHM:
    case SSL_R_WRONG_SIGNATURE_TYPE:
    case SSL_R_DH_KEY_TOO_SMALL:
    case SSL_R_EE_KEY_TOO_SMALL:
    case SSL_R_CA_KEY_TOO_SMALL:
    case SSL_R_CA_MD_TOO_WEAK:
    case SSL_R_UNSAFE_LEGACY_RENEGOTIATION_DISABLED:
    case SSL_R_INAPPROPRIATE_FALLBACK:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::optional<std::string> pendingTlsRefusal() {
  // The queue usually holds one entry; when it holds more, the first or the last names it.
  for (unsigned long code : {ERR_peek_error(), ERR_peek_last_error()}) {
    if (code == 0 || ERR_GET_LIB(code) != ERR_LIB_SSL) continue;
    int reason = ERR_GET_REASON(code);
    int alert = reason - SSL_AD_REASON_OFFSET;
    if (!(alert > 0 && alert < 256 ? refusingAlert(alert) : refusingReason(reason))) continue;
    if (const char* text = ERR_reason_error_string(code)) return std::string(text);
    char whole[256];
    ERR_error_string_n(code, whole, sizeof whole);
    return std::string(whole);
  }
  return std::nullopt;
}
