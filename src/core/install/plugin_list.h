#pragma once
// The engine's plugin list "mir200/PlugList.txt" below a server root: one plugin file name
// per line, lines ended by "\r\n".
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install/case_path.h"

// The list after the edit, or nothing when the stored text is empty. Lines naming a plugin
// of the removal list (compared as ASCII upper case, whole line, no trimming) and empty
// lines go; the other lines stay in order, byte for byte, each followed by "\r\n"; then
// each of `names` that no kept line equals byte for byte is appended with "\r\n".
std::optional<std::string> rewritePluginList(std::string_view stored,
                                             const std::vector<std::string>& names);

// Edits the list below `root` (ending with "/" or not). The folder and file are found
// regardless of letter case (through `names` when given, which the job keeps for this
// root). The stored text counts up to its first NUL; a missing, unreadable or empty list
// is left as it is (never created). The new list replaces the old one through a temporary
// file beside it (replace_file.h), so the old list stays whole until the new one is.
// A list that is a symbolic link is read through the link, and the new list replaces the
// link itself with no more permission bits than the file read; the file the link leads to
// is never written.
//
// False when the list exists but is neither a regular file nor a link to one (a FIFO, a
// folder, ...; found without opening it, so nothing blocks) or the new list could not be
// written; true when it was rewritten or left alone as described.
bool updatePluginList(const std::string& root, const std::vector<std::string>& names,
                      CaseInsensitiveNames* lookup = nullptr);
