#include "install/plugin_list.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "install/case_path.h"
#include "install/file_copy.h"
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

// A list of this code page holds no NUL byte and does not open with a UTF-16 byte-order
// mark (UTF-16 text of CJK characters alone may hold no NUL).
bool isCodePageText(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return false;
  return !(text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF"));
}

// The text without the spaces and tabs around it.
std::string_view withoutBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
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

PluginListEdit rewritePluginList(std::string_view stored, const std::vector<std::string>& names) {
  if (stored.empty()) return {PluginListEdit::Result::LeftAlone, {}};
  if (!isCodePageText(stored)) return {PluginListEdit::Result::NotText, {}};
  const std::string_view lineEnd = stored.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  std::vector<std::string> kept;
  for (std::string& line : splitText(stored, lineEnd)) {
    if (!line.empty() && !isRemovedPlugin(line)) kept.push_back(std::move(line));
  }
  PluginListEdit edit{PluginListEdit::Result::Rewritten, {}};
  for (const std::string& line : kept) (edit.text += line) += lineEnd;
  for (const std::string& name : names) {
    const std::string wanted = toUpperAscii(withoutBlanks(name));
    const bool listed = std::any_of(kept.begin(), kept.end(), [&](const std::string& line) {
      return toUpperAscii(withoutBlanks(line)) == wanted;
    });
    if (!listed) (edit.text += name) += lineEnd;
  }
  return edit;
}

PluginListPlan planPluginList(const std::string& root, const std::vector<std::string>& names,
                              CaseInsensitiveNames* lookup) {
  CaseInsensitiveNames ownLookup;
  CaseInsensitiveNames& found = lookup != nullptr ? *lookup : ownLookup;
  std::string base = root;
  if (base.empty() || base.back() != '/') base += '/';
  const std::string folder = base + found.find(base, "mir200") + "/";
  PluginListPlan plan;
  plan.path = folder + found.find(folder, "PlugList.txt");
  const Destination list = examineDestination(plan.path);
  if (list.kind == DestinationKind::Missing) return plan;
  if (list.kind == DestinationKind::Other) {
    plan.failure = checkDestination(list).failure;
    return plan;
  }
  if (!leadsToRegularFileOrNothing(list)) {
    plan.failure = installFailed(InstallProblem::NotAFile, plan.path).failure;
    return plan;
  }
  // A link is read through (reading the operator's list changes nothing) but never written
  // through: the new list replaces the link. It gets no more permission bits than the file
  // that was read, so a link to a private file does not publish its lines.
  mode_t permissions = 0;
  const std::string stored = readRegularFile(plan.path, &permissions);
  PluginListEdit edit = rewritePluginList(stored, names);
  if (edit.result == PluginListEdit::Result::NotText) {
    plan.failure = installFailed(InstallProblem::NotText, plan.path).failure;
    return plan;
  }
  // A list that already reads as it should is not touched (a read-only one included).
  if (edit.result == PluginListEdit::Result::LeftAlone || edit.text == stored) return plan;
  if (InstallResult refused = checkDestination(list); !refused) {
    plan.failure = refused.failure;
    return plan;
  }
  plan.rewrite = true;
  plan.text = std::move(edit.text);
  plan.mode = permissions & 0666;
  return plan;
}

InstallResult updatePluginList(const std::string& root, const std::vector<std::string>& names,
                               CaseInsensitiveNames* lookup) {
  const PluginListPlan plan = planPluginList(root, names, lookup);
  if (plan.failure) return {plan.failure};
  if (!plan.rewrite) return {};
  ReplacementFile file;
  if (!file.create(examineDestination(plan.path), plan.mode) ||
      !writeAll(file.fd(), plan.text.data(), plan.text.size()) || !file.commit()) {
    return installFailed(InstallProblem::SystemError, plan.path, errno);
  }
  return {};
}
