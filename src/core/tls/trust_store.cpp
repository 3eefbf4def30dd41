// The trusted authorities' locations, read from the environment.
#include "tls/trust_store.h"

#include <cstdlib>

namespace {

std::optional<std::string> environmentText(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
}

}  // namespace

TrustLocations trustLocations() {
  TrustLocations locations;
  locations.caFile = environmentText("SSL_CERT_FILE");
  locations.caDirectory = environmentText("SSL_CERT_DIR");
  return locations;
}
