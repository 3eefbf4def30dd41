// Unsigned decimal numbers in text.
#include "platform/decimal.h"

#include <limits>

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::optional<LeadingDecimal> leadingDecimal(std::string_view text) {
  LeadingDecimal result;
  constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();
  for (char c : text) {
    if (!isDigit(c)) break;
    int digit = c - '0';
    if (result.value > (kLargest - digit) / 10) return std::nullopt;
    result.value = result.value * 10 + digit;
    ++result.length;
  }
  if (result.length == 0) return std::nullopt;
  return result;
}

std::optional<int64_t> parseDecimal(std::string_view text) {
  std::optional<LeadingDecimal> number = leadingDecimal(text);
  if (!number || number->length != text.size()) return std::nullopt;
  return number->value;
}

std::optional<uint32_t> leadingDecimalModulo(std::string_view text, uint32_t modulus) {
  if (text.empty() || !isDigit(text.front()) || modulus == 0) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (!isDigit(c)) break;
    value = (value * 10 + static_cast<uint64_t>(c - '0')) % modulus;
  }
  return static_cast<uint32_t>(value);
}
