#include "signing/base64.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The decoded length of `text`, or nothing when it is not canonical base64.
std::optional<size_t> decodedLength(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
    ++padding;
  }
  for (size_t i = 0; i + padding < text.size(); ++i) {
    if (valueOf(text[i]) < 0) return std::nullopt;
  }
  return text.size() / 4 * 3 - padding;
}

}  // namespace

std::string base64Encode(const uint8_t* data, size_t size) {
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  for (size_t i = 0; i < size; i += 3) {
    const uint32_t a = data[i];
    const uint32_t b = i + 1 < size ? data[i + 1] : 0;
    const uint32_t c = i + 2 < size ? data[i + 2] : 0;
    const uint32_t triple = (a << 16) | (b << 8) | c;
    text += kAlphabet[(triple >> 18) & 63];
    text += kAlphabet[(triple >> 12) & 63];
    text += i + 1 < size ? kAlphabet[(triple >> 6) & 63] : '=';
    text += i + 2 < size ? kAlphabet[triple & 63] : '=';
  }
  return text;
}

bool base64DecodeInto(std::string_view text, uint8_t* out, size_t size) {
  std::optional<size_t> length = decodedLength(text);
  if (!length || *length != size) return false;
  size_t written = 0;
  for (size_t i = 0; i < text.size(); i += 4) {
    uint32_t quad = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int value = text[i + k] == '=' ? 0 : valueOf(text[i + k]);
      quad = (quad << 6) | static_cast<uint32_t>(value);
    }
    const uint8_t bytes[3] = {static_cast<uint8_t>(quad >> 16), static_cast<uint8_t>(quad >> 8),
                              static_cast<uint8_t>(quad)};
    for (size_t k = 0; k < 3; ++k) {
      if (written < size) {
        out[written++] = bytes[k];
      } else if (bytes[k] != 0) {
        return false;  // bits under the padding must be zero
      }
    }
  }
  return true;
}

std::optional<std::vector<uint8_t>> base64Decode(std::string_view text) {
  std::optional<size_t> length = decodedLength(text);
  if (!length) return std::nullopt;
  std::vector<uint8_t> bytes(*length);
  if (!base64DecodeInto(text, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}
