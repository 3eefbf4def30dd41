#include "platform/ini.h"

#include <optional>
#include <vector>

#include "platform/files.h"

namespace {

std::string_view skipLeadingControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  return text;
}

std::string_view trimBlanks(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

// One line of the text, without its line break; `end` is where the next line starts.
struct Line {
  size_t begin;
  size_t contentEnd;
  size_t end;
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  // A UTF-8 byte-order mark belongs to no line; a write keeps it where it is.
  size_t begin = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  while (begin < text.size()) {
    size_t newline = text.find('\n', begin);
    size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
    size_t contentEnd = newline == std::string_view::npos ? text.size() : newline;
    if (contentEnd > begin && text[contentEnd - 1] == '\r') --contentEnd;
    lines.push_back({begin, contentEnd, end});
    begin = end;
  }
  return lines;
}

// The section name of a header line, or nothing when the line is no header.
std::optional<std::string_view> sectionName(std::string_view line) {
  line = trimBlanks(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trimBlanks(line.substr(1, close - 1));
}

// Where a key was found, or where the section lies.
struct Location {
  std::optional<size_t> sectionLine;  // header line index
  std::optional<size_t> keyLine;      // line index of the key inside that section
  size_t lastSectionLine = 0;         // last non-blank line belonging to the section
};

Location locate(std::string_view text, const std::vector<Line>& lines, std::string_view section,
                std::string_view key) {
  Location where;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = text.substr(lines[i].begin, lines[i].contentEnd - lines[i].begin);
    if (auto name = sectionName(line)) {
      if (inSection) break;  // the section has ended
      if (sameName(*name, section)) {
        inSection = true;
        where.sectionLine = i;
        where.lastSectionLine = i;
      }
      continue;
    }
    if (!inSection) continue;
    if (!trimBlanks(line).empty()) where.lastSectionLine = i;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (sameName(trimBlanks(line.substr(0, equals)), key)) {
      where.keyLine = i;
      break;
    }
  }
  return where;
}

std::string readValue(std::string_view text, std::string_view section, std::string_view key,
                      std::string_view defaultValue) {
  std::vector<Line> lines = splitLines(text);
  Location where = locate(text, lines, section, key);
  std::string_view value = defaultValue;
  if (where.keyLine) {
    const Line& line = lines[*where.keyLine];
    std::string_view content = text.substr(line.begin, line.contentEnd - line.begin);
    value = content.substr(content.find('=') + 1);
  }
  value = trimBlanks(value);
  if (where.keyLine && value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);  // one pair of quotes around a value is dropped
  }
  if (value.size() > kIniValueLimit) value = value.substr(0, kIniValueLimit);
  return std::string(value);
}

}  // namespace

std::string iniReadText(std::string_view text, std::string_view section, std::string_view key,
                        std::string_view defaultValue) {
  section = trimBlanks(skipLeadingControls(section));
  key = trimBlanks(skipLeadingControls(key));
  if (section.empty() || key.empty()) return {};
  return readValue(text, section, key, defaultValue);
}

std::string iniRead(std::string_view file, std::string_view section, std::string_view key,
                    std::string_view defaultValue) {
  file = skipLeadingControls(file);
  section = trimBlanks(skipLeadingControls(section));
  key = trimBlanks(skipLeadingControls(key));
  if (file.empty() || section.empty() || key.empty()) return {};
  std::string path(file);
  if (!fileExists(path)) return readValue({}, section, key, defaultValue);
  return readValue(readWholeFile(path), section, key, defaultValue);
}

std::string iniWriteText(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value) {
  section = trimBlanks(skipLeadingControls(section));
  key = trimBlanks(skipLeadingControls(key));
  std::string entry = std::string(key) + "=" + std::string(value);
  std::vector<Line> lines = splitLines(text);
  Location where = locate(text, lines, section, key);
  std::string result(text);
  if (where.keyLine) {
    const Line& line = lines[*where.keyLine];
    result.replace(line.begin, line.contentEnd - line.begin, entry);
  } else if (where.sectionLine) {
    const Line& last = lines[where.lastSectionLine];
    std::string insert = entry + "\r\n";
    if (last.end == last.contentEnd) insert = "\r\n" + insert;  // last line had no break
    result.insert(last.end, insert);
  } else {
    if (!result.empty() && result.back() != '\n') result += "\r\n";
    result += "[" + std::string(section) + "]\r\n" + entry + "\r\n";
  }
  return result;
}

bool iniWrite(std::string_view file, std::string_view section, std::string_view key,
              std::string_view value) {
  file = skipLeadingControls(file);
  if (file.empty() || trimBlanks(skipLeadingControls(section)).empty() ||
      trimBlanks(skipLeadingControls(key)).empty()) {
    return false;
  }
  std::string path(file);
  std::string text = readWholeFile(path);
  return writeWholeFile(path, iniWriteText(text, section, key, value));
}
