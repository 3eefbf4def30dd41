#include "platform/text.h"

namespace {

unsigned char byteAt(std::string_view text, size_t at) {
  return static_cast<unsigned char>(text[at]);
}

// Length of the well-formed UTF-8 sequence at `at`, or 1 when the bytes there form none.
size_t utf8SequenceLength(std::string_view text, size_t at) {
  unsigned char lead = byteAt(text, at);
  size_t length = lead < 0x80         ? 1
                  : (lead >> 5) == 6  ? 2
                  : (lead >> 4) == 14 ? 3
                  : (lead >> 3) == 30 ? 4
                                      : 0;
  if (length <= 1 || at + length > text.size()) return 1;
  unsigned code = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    unsigned char next = byteAt(text, at + k);
    if ((next & 0xC0) != 0x80) return 1;
    code = (code << 6) | (next & 0x3F);
  }
  static const unsigned kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kMinimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 1;
  return length;
}

bool isAsciiLower(unsigned char c) {
  return c >= 'a' && c <= 'z';
}

unsigned char asciiUpper(unsigned char c) {
  return isAsciiLower(c) ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

bool matchesAt(std::string_view text, size_t at, std::string_view sought, bool ignoreCase) {
  if (text.size() - at < sought.size()) return false;
  for (size_t k = 0; k < sought.size(); ++k) {
    unsigned char a = byteAt(text, at + k);
    unsigned char b = byteAt(sought, k);
    if (ignoreCase ? asciiUpper(a) != asciiUpper(b) : a != b) return false;
  }
  return true;
}

}  // namespace

size_t characterLength(std::string_view text, size_t at, CodePage page) {
  if (at >= text.size()) return 1;
  if (page == CodePage::Utf8) return utf8SequenceLength(text, at);
  unsigned char lead = byteAt(text, at);
  return lead >= 0x81 && lead <= 0xFE && at + 1 < text.size() ? 2 : 1;
}

int findText(std::string_view text, std::string_view sought, bool ignoreCase, CodePage page) {
  if (sought.empty()) return -1;
  for (size_t at = 0; at < text.size(); at += characterLength(text, at, page)) {
    if (matchesAt(text, at, sought, ignoreCase)) return static_cast<int>(at + 1);
  }
  return -1;
}

std::vector<std::string> splitText(std::string_view text, std::string_view delimiter,
                                   CodePage page) {
  std::vector<std::string> pieces;
  if (text.empty()) return pieces;
  if (delimiter.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  size_t pieceStart = 0;
  size_t at = 0;
  while (at < text.size()) {
    if (matchesAt(text, at, delimiter, false)) {
      pieces.emplace_back(text.substr(pieceStart, at - pieceStart));
      at += delimiter.size();
      pieceStart = at;
    } else {
      at += characterLength(text, at, page);
    }
  }
  if (pieceStart < text.size()) pieces.emplace_back(text.substr(pieceStart));
  return pieces;
}

std::vector<std::string> splitLines(std::string_view text) {
  std::string joined;
  joined.reserve(text.size());
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') continue;
    joined.push_back(text[at]);
  }
  return splitText(joined, "\n");
}

std::string rightText(std::string_view text, long long n) {
  if (n <= 0) return {};
  if (static_cast<unsigned long long>(n) >= text.size()) return std::string(text);
  return std::string(text.substr(text.size() - static_cast<size_t>(n)));
}

size_t textLength(std::string_view text) {
  size_t end = text.find('\0');
  return end == std::string_view::npos ? text.size() : end;
}

std::string toUpperAscii(std::string_view text, CodePage page) {
  std::string upper(text);
  for (size_t at = 0; at < upper.size(); at += characterLength(text, at, page)) {
    upper[at] = static_cast<char>(asciiUpper(byteAt(text, at)));
  }
  return upper;
}
