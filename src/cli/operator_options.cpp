#include "operator_options.h"

#include <algorithm>
#include <filesystem>
#include <limits>

#include "option_values.h"
#include "platform/decimal.h"

namespace {

constexpr int32_t kLongestSeconds = 86400;

enum class Kind { Flag, Text, List, Count };

struct OptionRow {
  std::string_view name;
  std::string_view shortName;
  Kind kind;
  std::string_view commands;  // the commands that take it, separated by blanks
  bool OperatorOptions::*flag = nullptr;
  std::string OperatorOptions::*text = nullptr;
  int32_t OperatorOptions::*count = nullptr;
  int32_t least = 0;
  int32_t most = 0;
};

constexpr std::string_view kEvery = "check download install update";

const OptionRow kOptions[] = {
    {"--dir", "", Kind::Text, "check download install update rollback validate", nullptr,
     &OperatorOptions::dir},
    {"--manifest", "", Kind::Text, "check download update"},
    {"--root", "", Kind::List, "install update rollback validate"},
    {"--json", "", Kind::Flag, kEvery, &OperatorOptions::json},
    {"--quiet", "-q", Kind::Flag, kEvery, &OperatorOptions::quiet},
    {"--dry-run", "", Kind::Flag, "update", &OperatorOptions::dryRun},
    {"--list", "", Kind::Flag, "rollback", &OperatorOptions::list},
    {"--repair", "", Kind::Flag, "validate", &OperatorOptions::repair},
    {"--no-delta", "", Kind::Flag, "download update", &OperatorOptions::noDelta},
    {"--notify", "", Kind::Text, "update", nullptr, &OperatorOptions::notify},
    {"--before-install", "", Kind::Text, "install update rollback validate"},
    {"--after-install", "", Kind::Text, "install update rollback validate"},
    {"--retries", "", Kind::Count, "download update", nullptr, nullptr, &OperatorOptions::retries,
     0, std::numeric_limits<int32_t>::max()},
    {"--timeout", "", Kind::Count, "download update", nullptr, nullptr,
     &OperatorOptions::timeoutSeconds, 1, kLongestSeconds},
    {"--wait", "", Kind::Count, "download install update rollback validate", nullptr, nullptr,
     &OperatorOptions::waitSeconds, 0, kLongestSeconds},
    {"--notify-timeout", "", Kind::Count, "update", nullptr, nullptr,
     &OperatorOptions::notifySeconds, 1, kLongestSeconds},
    {"--public-key", "", Kind::Text, "keygen", nullptr, &OperatorOptions::publicKeyFile},
    {"--secret-key", "", Kind::Text, "keygen sign publish", nullptr,
     &OperatorOptions::secretKeyFile},
    {"--trusted-comment", "", Kind::Text, "sign"},
    {"--expires", "", Kind::Count, "publish", nullptr, nullptr, &OperatorOptions::expiresDays, 1,
     kMostExpiresDays},
};

bool takes(const OptionRow& row, std::string_view command) {
  std::string_view list = row.commands;
  while (!list.empty()) {
    const size_t blank = std::min(list.find(' '), list.size());
    if (list.substr(0, blank) == command) return true;
    list.remove_prefix(std::min(blank + 1, list.size()));
  }
  return false;
}

const OptionRow* findOption(std::string_view command, std::string_view name) {
  for (const OptionRow& row : kOptions) {
    if ((name == row.name || (!row.shortName.empty() && name == row.shortName)) &&
        takes(row, command)) {
      return &row;
    }
  }
  return nullptr;
}

// A path from the command line, made absolute against the current folder, so that "prog"
// and "$PWD/prog" mean the same everywhere (archives, staging folder, messages).
std::string absolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  if (error) return path;
  return (current / path).lexically_normal().string();
}

// Applies one option with its value; the error, or empty.
std::string apply(const OptionRow& row, const std::string& value, OperatorOptions& options) {
  const std::string name(row.name);
  switch (row.kind) {
    case Kind::Flag:
      options.*(row.flag) = true;
      return {};
    case Kind::Count: {
      std::optional<int64_t> number = parseDecimal(value);
      if (!number || *number < row.least || *number > row.most) {
        return name + " takes a number from " + std::to_string(row.least) + " to " +
               std::to_string(row.most) + ", not '" + value + "'";
      }
      options.*(row.count) = static_cast<int32_t>(*number);
      return {};
    }
    case Kind::List:
      options.roots.push_back(absolutePath(value));
      return {};
    case Kind::Text:
      if (name == "--manifest") {
        options.manifest = value;
      } else if (name == "--trusted-comment") {
        options.trustedComment = value;
      } else if (name == "--before-install") {
        options.beforeInstall = value;
      } else if (name == "--after-install") {
        options.afterInstall = value;
      } else if (name == "--dir") {
        options.dir = absolutePath(value);
      } else {
        options.*(row.text) = value;
      }
      return {};
  }
  return {};
}

std::string addPackage(const std::string& name, PackageCount count, OperatorOptions& options) {
  if (count == PackageCount::Target) {
    if (!options.target.empty()) return "unexpected argument: " + name;
    options.target = name;
    return {};
  }
  const PackageInfo* package = findPackage(name);
  if (package == nullptr) {
    return "unknown package: " + name +
           " (三端, 功能, 反挂, 工具 or server, plugin, anticheat, tools)";
  }
  if (count == PackageCount::None || (count == PackageCount::One && !options.packages.empty())) {
    return "unexpected argument: " + name;
  }
  if (std::find(options.packages.begin(), options.packages.end(), package) ==
      options.packages.end()) {
    options.packages.push_back(package);
  }
  return {};
}

}  // namespace

ParsedOptions parseOperatorOptions(std::string_view command, PackageCount packages,
                                   const std::vector<std::string>& raw) {
  std::vector<std::string_view> valueNames;
  for (const OptionRow& row : kOptions) {
    if (row.kind != Kind::Flag && takes(row, command)) valueNames.push_back(row.name);
  }
  const std::vector<std::string> arguments = splitOptionValues(raw, valueNames);
  ParsedOptions parsed;
  OperatorOptions& options = parsed.options;
  for (size_t i = 0; i < arguments.size() && parsed.error.empty(); ++i) {
    const std::string& argument = arguments[i];
    const OptionRow* row = findOption(command, argument);
    if (row == nullptr) {
      parsed.error = argument.size() > 1 && argument[0] == '-'
                         ? "unknown option " + argument
                         : addPackage(argument, packages, options);
    } else if (row->kind != Kind::Flag && i + 1 >= arguments.size()) {
      parsed.error = argument + " needs a value";
    } else {
      parsed.error = apply(*row, row->kind == Kind::Flag ? "" : arguments[++i], options);
    }
  }
  if (parsed.error.empty() && packages == PackageCount::One && options.packages.empty()) {
    parsed.error = "a package name is needed";
  }
  return parsed;
}
