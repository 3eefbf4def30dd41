#pragma once
// Reading the address of a passive-mode reply: "227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)",
// and the port of an extended one: "229 Entering Extended Passive Mode (|||port|)".
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A reply of this many characters or more is not read.
inline constexpr size_t kFtpPassiveReplyLimit = 5121;

struct PassiveAddress {
  std::string address;  // "h1.h2.h3.h4"
  uint16_t port = 0;    // p1 * 256 + p2
};

// The text between the first "(" and the next ")" split at ",": exactly six decimal numbers
// of 0 to 255 (blanks around a number are allowed), and a port that is not 0. Nothing for
// anything else.
std::optional<PassiveAddress> parsePassiveReply(std::string_view reply);

// The port of an extended passive reply: after the first "(", a delimiter character (any
// printable one but a digit), two more of it, a decimal port of 1 to 65535, the delimiter,
// and ")". Nothing for anything else. An address between the delimiters is not accepted:
// the data connection goes to the control connection's server anyway.
std::optional<uint16_t> parseExtendedPassiveReply(std::string_view reply);
