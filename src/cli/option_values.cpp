#include "option_values.h"

#include <algorithm>

std::vector<std::string> splitOptionValues(const std::vector<std::string>& arguments,
                                           std::span<const std::string_view> valueOptions) {
  std::vector<std::string> split;
  split.reserve(arguments.size());
  for (const std::string& argument : arguments) {
    const size_t equals = argument.find('=');
    const std::string_view name = std::string_view(argument).substr(0, equals);
    const bool known =
        std::find(valueOptions.begin(), valueOptions.end(), name) != valueOptions.end();
    if (equals == std::string::npos || argument.rfind("--", 0) != 0 || !known) {
      split.push_back(argument);
      continue;
    }
    split.emplace_back(name);
    split.push_back(argument.substr(equals + 1));
  }
  return split;
}
