#include "transaction/journal_text.h"

std::string escapeField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string joinFields(const std::vector<std::string>& fields) {
  std::string line;
  for (size_t k = 0; k < fields.size(); ++k) {
    if (k > 0) line += '\t';
    line += escapeField(fields[k]);
  }
  return line;
}

std::optional<std::vector<std::string>> splitFields(std::string_view line) {
  std::vector<std::string> fields(1);
  for (size_t k = 0; k < line.size(); ++k) {
    const char c = line[k];
    if (c == '\t') {
      fields.emplace_back();
      continue;
    }
    if (c != '\\') {
      fields.back() += c;
      continue;
    }
    if (++k == line.size()) return std::nullopt;
    switch (line[k]) {
      case '\\':
        fields.back() += '\\';
        break;
      case 't':
        fields.back() += '\t';
        break;
      case 'r':
        fields.back() += '\r';
        break;
      case 'n':
        fields.back() += '\n';
        break;
      default:
        return std::nullopt;
    }
  }
  return fields;
}
