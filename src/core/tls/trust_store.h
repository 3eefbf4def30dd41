#pragma once
// Where the certificates of trusted authorities come from, for every TLS client of the
// program (the transfer engine and the manifest fetch), so that both trust the same ones.
//
// OpenSSL's default store is used, and SSL_CERT_FILE (a file of PEM certificates) and
// SSL_CERT_DIR (a hashed directory) replace it when set: that is how a private CA is trusted.
#include <optional>
#include <string>

struct TrustLocations {
  std::optional<std::string> caFile;       // SSL_CERT_FILE, when set and not empty
  std::optional<std::string> caDirectory;  // SSL_CERT_DIR, when set and not empty
  bool systemDefault() const { return !caFile && !caDirectory; }
};

// Read from the environment on every call (cheap; a test may change it).
TrustLocations trustLocations();
