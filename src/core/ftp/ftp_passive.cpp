// Reading the address of a passive-mode reply.
#include "ftp/ftp_passive.h"

#include <array>

#include "platform/decimal.h"

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// A decimal of one to three digits, 0..255; -1 otherwise.
int byteValue(std::string_view text) {
  text = trimmed(text);
  std::optional<int64_t> value = parseDecimal(text);
  if (!value || text.size() > 3 || *value > 255) return -1;
  return static_cast<int>(*value);
}

}  // namespace

std::optional<PassiveAddress> parsePassiveReply(std::string_view reply) {
  if (reply.size() >= kFtpPassiveReplyLimit) return std::nullopt;
  size_t open = reply.find('(');
  if (open == std::string_view::npos) return std::nullopt;
  size_t close = reply.find(')', open + 1);
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view inside = reply.substr(open + 1, close - open - 1);

  std::array<int, 6> numbers{};
  size_t count = 0;
  while (true) {
    size_t comma = inside.find(',');
    if (count == numbers.size()) return std::nullopt;
    int value = byteValue(inside.substr(0, comma));
    if (value < 0) return std::nullopt;
    numbers[count++] = value;
    if (comma == std::string_view::npos) break;
    inside.remove_prefix(comma + 1);
  }
  if (count != numbers.size()) return std::nullopt;

  PassiveAddress result;
  result.address = std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                   std::to_string(numbers[2]) + "." + std::to_string(numbers[3]);
  result.port = static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
  if (result.port == 0) return std::nullopt;
  return result;
}

std::optional<uint16_t> parseExtendedPassiveReply(std::string_view reply) {
  if (reply.size() >= kFtpPassiveReplyLimit) return std::nullopt;
  size_t open = reply.find('(');
  if (open == std::string_view::npos || open + 4 > reply.size()) return std::nullopt;
  std::string_view inside = reply.substr(open + 1);
  char delimiter = inside[0];
  if (delimiter < 33 || delimiter > 126 || (delimiter >= '0' && delimiter <= '9')) {
    return std::nullopt;
  }
  if (inside[1] != delimiter || inside[2] != delimiter) return std::nullopt;
  inside.remove_prefix(3);
  size_t end = inside.find(delimiter);
  if (end == std::string_view::npos || end == 0 || end > 5) return std::nullopt;
  if (end + 1 >= inside.size() || inside[end + 1] != ')') return std::nullopt;
  std::optional<int64_t> port = parseDecimal(inside.substr(0, end));
  if (!port || *port < 1 || *port > 65535) return std::nullopt;
  return static_cast<uint16_t>(*port);
}
