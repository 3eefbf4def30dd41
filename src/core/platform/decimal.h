#pragma once
// Reading unsigned decimal numbers out of protocol text and command lines: one digit loop for
// every parser of the program, with its overflow check in one place.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

struct LeadingDecimal {
  int64_t value = 0;
  size_t length = 0;  // digits read
};

// The run of decimal digits that starts `text`. Nothing when `text` does not start with a
// digit or the value does not fit 63 bits.
std::optional<LeadingDecimal> leadingDecimal(std::string_view text);

// `text` is one unsigned decimal number and nothing else: no sign, no blanks. Nothing
// otherwise, or when the value does not fit 63 bits.
std::optional<int64_t> parseDecimal(std::string_view text);

// The digits that start `text`, their value taken modulo `modulus` (as a URL's port wraps
// at 65536), however many there are. Nothing when `text` does not start with a digit.
std::optional<uint32_t> leadingDecimalModulo(std::string_view text, uint32_t modulus);
