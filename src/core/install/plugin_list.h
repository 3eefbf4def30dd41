#pragma once
// The engine's plugin list "mir200/PlugList.txt" below a server root: one plugin file name
// per line, lines ended by "\r\n".
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The list after the edit, or nothing when the stored text is empty. Lines naming a plugin
// of the removal list (compared as ASCII upper case, whole line, no trimming) and empty
// lines go; the other lines stay in order, byte for byte, each followed by "\r\n"; then
// each of `names` that no kept line equals byte for byte is appended with "\r\n".
std::optional<std::string> rewritePluginList(std::string_view stored,
                                             const std::vector<std::string>& names);

// Edits the list below `root` (ending with "/" or not). The folder and file are found
// regardless of letter case. The stored text counts up to its first NUL; a missing,
// unreadable or empty list is left as it is (never created). A failed write is not
// reported.
void updatePluginList(const std::string& root, const std::vector<std::string>& names);
