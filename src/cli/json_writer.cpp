#include "json_writer.h"

#include <cmath>
#include <cstdio>

namespace {

// Bytes of the well-formed UTF-8 character at `at`, or 0 when the byte there starts none
// (overlong forms, surrogates and values past U+10FFFF included).
size_t utf8Length(std::string_view text, size_t at) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  unsigned char least = 0x80;
  unsigned char most = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) least = 0xA0;
    if (lead == 0xED) most = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) least = 0x90;
    if (lead == 0xF4) most = 0x8F;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  if (byte(1) < least || byte(1) > most) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  }
  return length;
}

}  // namespace

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    const size_t length = utf8Length(text, at);
    if (length == 0) {
      out += "\\ufffd";
      ++at;
      continue;
    }
    if (length > 1) {
      out.append(text.substr(at, length));
      at += length;
      continue;
    }
    ++at;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          out += escaped;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

void JsonWriter::beforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (!empty_.empty()) {
    if (!empty_.back()) out_ += ',';
    empty_.back() = false;
  }
}

void JsonWriter::beginObject() {
  beforeValue();
  out_ += '{';
  empty_.push_back(true);
}

void JsonWriter::endObject() {
  out_ += '}';
  empty_.pop_back();
}

void JsonWriter::beginArray() {
  beforeValue();
  out_ += '[';
  empty_.push_back(true);
}

void JsonWriter::endArray() {
  out_ += ']';
  empty_.pop_back();
}

void JsonWriter::key(std::string_view name) {
  beforeValue();
  out_ += jsonString(name);
  out_ += ':';
  afterKey_ = true;
}

void JsonWriter::string(std::string_view text) {
  beforeValue();
  out_ += jsonString(text);
}

void JsonWriter::number(int64_t value) {
  beforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::number(double value, int decimals) {
  beforeValue();
  if (!std::isfinite(value)) {
    out_ += "null";  // JSON has no infinities
    return;
  }
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  out_ += text;
}

void JsonWriter::boolean(bool value) {
  beforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::null() {
  beforeValue();
  out_ += "null";
}

void JsonWriter::member(std::string_view name, const std::vector<std::string>& texts) {
  key(name);
  beginArray();
  for (const std::string& text : texts) string(text);
  endArray();
}
