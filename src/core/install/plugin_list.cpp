#include "install/plugin_list.h"

#include <algorithm>

#include "install/case_path.h"
#include "platform/replace_file.h"
#include "platform/text.h"

namespace {

const char* const kRemovedPlugins[] = {"TKM2PLUGIN.DLL", "RBVKEXTENDX86.DLL", "RBVKEXTENDX64.DLL",
                                       "JXQ.DLL",        "QZVM2.DLL",         "QZVM2LOAD.DLL"};

bool isRemovedPlugin(const std::string& line) {
  const std::string upper = toUpperAscii(line);
  return std::any_of(std::begin(kRemovedPlugins), std::end(kRemovedPlugins),
                     [&](const char* name) { return upper == name; });
}

}  // namespace

std::optional<std::string> rewritePluginList(std::string_view stored,
                                             const std::vector<std::string>& names) {
  if (stored.empty()) return std::nullopt;
  std::vector<std::string> kept;
  for (std::string& line : splitText(stored, "\r\n")) {
    if (!line.empty() && !isRemovedPlugin(line)) kept.push_back(std::move(line));
  }
  std::string out;
  for (const std::string& line : kept) out += line + "\r\n";
  for (const std::string& name : names) {
    if (std::find(kept.begin(), kept.end(), name) == kept.end()) out += name + "\r\n";
  }
  return out;
}

bool updatePluginList(const std::string& root, const std::vector<std::string>& names,
                      CaseInsensitiveNames* lookup) {
  CaseInsensitiveNames ownLookup;
  CaseInsensitiveNames& found = lookup != nullptr ? *lookup : ownLookup;
  std::string base = root;
  if (base.empty() || base.back() != '/') base += '/';
  const std::string folder = base + found.find(base, "mir200") + "/";
  const std::string path = folder + found.find(folder, "PlugList.txt");
  const Destination list = examineDestination(path);
  if (list.kind == DestinationKind::Missing) return true;
  if (list.kind == DestinationKind::Other) return false;
  std::string stored = readRegularFile(list.path);
  stored.resize(textLength(stored));
  std::optional<std::string> rewritten = rewritePluginList(stored, names);
  return !rewritten || replaceFileContents(list.path, *rewritten);
}
