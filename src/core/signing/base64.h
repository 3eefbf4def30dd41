#pragma once
// Standard base64 (RFC 4648, "+/" and "=" padding), as key and signature files carry it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

std::string base64Encode(const uint8_t* data, size_t size);
// Decodes canonical base64 only: a length that is a multiple of four, the alphabet, padding
// at the end alone and zero bits under it. Nothing for any other text (blanks included).
std::optional<std::vector<uint8_t>> base64Decode(std::string_view text);
// The same into `out`, which must be exactly as long as the decoded bytes; false otherwise.
// For secrets: nothing is decoded anywhere else.
bool base64DecodeInto(std::string_view text, uint8_t* out, size_t size);
