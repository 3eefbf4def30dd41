// Any bytes as the reply to "PASV" or "EPSV": the parsers must refuse what is not six
// numbers of 0 to 255 (or a delimited port) in parentheses, and what they accept must be a
// usable address and port.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "ftp/ftp_passive.h"

namespace {

void checkExtended(std::string_view reply) {
  std::optional<uint16_t> port = parseExtendedPassiveReply(reply);
  if (!port) return;
  if (reply.size() >= kFtpPassiveReplyLimit || *port == 0) __builtin_trap();
  std::optional<uint16_t> again =
      parseExtendedPassiveReply("229 (|||" + std::to_string(*port) + "|)");
  if (again != port) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view reply(reinterpret_cast<const char*>(data), size);
  checkExtended(reply);
  std::optional<PassiveAddress> parsed = parsePassiveReply(reply);
  if (!parsed) return 0;
  if (size >= kFtpPassiveReplyLimit || parsed->port == 0) __builtin_trap();
  unsigned h[4];
  char end = 0;
  if (std::sscanf(parsed->address.c_str(), "%u.%u.%u.%u%c", &h[0], &h[1], &h[2], &h[3], &end) !=
      4) {
    __builtin_trap();
  }
  for (unsigned part : h) {
    if (part > 255) __builtin_trap();
  }
  // The same numbers written back read back the same.
  std::string again = "227 (" + std::to_string(h[0]) + "," + std::to_string(h[1]) + "," +
                      std::to_string(h[2]) + "," + std::to_string(h[3]) + "," +
                      std::to_string(parsed->port / 256) + "," +
                      std::to_string(parsed->port % 256) + ")";
  std::optional<PassiveAddress> second = parsePassiveReply(again);
  if (!second || second->address != parsed->address || second->port != parsed->port) {
    __builtin_trap();
  }
  return 0;
}
