#include "install/plugin_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

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

// False for a link to a FIFO, socket or device (a list in name only), found without opening
// it; true for a link to a regular file or to nothing (a missing list), and for the rest.
bool leadsToRegularFileOrNothing(const Destination& list) {
  if (list.kind != DestinationKind::Link) return true;
  struct stat target {};
  if (::stat(list.path.c_str(), &target) != 0) return errno == ENOENT;
  return S_ISREG(target.st_mode);
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
  if (list.kind == DestinationKind::Other || !leadsToRegularFileOrNothing(list)) return false;
  // A link is read through (reading the operator's list changes nothing) but never written
  // through: the new list replaces the link. It gets no more permission bits than the file
  // that was read, so a link to a private file does not publish its lines.
  mode_t permissions = 0;
  std::string stored = readRegularFile(path, &permissions);
  stored.resize(textLength(stored));
  std::optional<std::string> rewritten = rewritePluginList(stored, names);
  if (!rewritten) return true;
  ReplacementFile file;
  return file.create(list, permissions & 0666) &&
         writeAll(file.fd(), rewritten->data(), rewritten->size()) && file.commit();
}
