#include "zip/entry_path.h"

namespace {

bool isSeparator(char c) {
  return c == '/' || c == '\\';
}

bool startsWithDriveLetter(std::string_view component) {
  if (component.size() < 2 || component[1] != ':') return false;
  const char letter = component[0];
  return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
}

}  // namespace

std::optional<std::vector<std::string>> entryPathComponents(std::string_view name) {
  if (!name.empty() && isSeparator(name.front())) return std::nullopt;
  std::vector<std::string> components;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !isSeparator(name[end])) ++end;
    std::string_view component = name.substr(start, end - start);
    if (component == "..") return std::nullopt;
    if (components.empty() && startsWithDriveLetter(component)) return std::nullopt;
    if (!component.empty() && component != ".") components.emplace_back(component);
    start = end + 1;
  }
  return components;
}

std::string joinComponents(const std::vector<std::string>& components) {
  std::string joined;
  for (const std::string& component : components) {
    if (!joined.empty()) joined += '/';
    joined += component;
  }
  return joined;
}
