#pragma once
// The engine's plugin list "mir200/PlugList.txt" below a server root: one plugin file name
// per line, lines ended by "\r\n" (or by "\n" in a list written that way).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install/case_path.h"
#include "install/install_failure.h"

// The edit of a stored list.
struct PluginListEdit {
  enum class Result {
    LeftAlone,  // the stored text is empty: nothing is written (a list is never created)
    NotText,    // a NUL byte or a UTF-16 byte-order mark: no list of this code page; left
                // untouched
    Rewritten,  // `text` is the new list
  } result = Result::LeftAlone;
  std::string text;
};

// Edits the stored text of a list. The list's own line ending is kept: "\r\n" when the
// text holds one, else "\n"; lines are split at it. Lines naming a plugin of the removal
// list (compared as ASCII upper case, whole line, no trimming) and empty lines go; the
// other lines stay in order, byte for byte, each followed by the line ending; then each of
// `names` is appended with the line ending unless a kept line already names it (equal
// after dropping the blanks around both and ignoring ASCII letter case).
PluginListEdit rewritePluginList(std::string_view stored, const std::vector<std::string>& names);

// What the edit of the list below `root` needs, found without writing anything: nothing (a
// missing, unreadable or empty list, or one that already reads as the edit would write it), a
// new text for the list at `path`, or a failure (as updatePluginList fails). `mode` is the
// permission bits for a new list that replaces a link: no more than the file read.
struct PluginListPlan {
  std::optional<InstallFailure> failure;
  bool rewrite = false;
  std::string path;
  std::string text;
  unsigned mode = 0666;
};
PluginListPlan planPluginList(const std::string& root, const std::vector<std::string>& names,
                              CaseInsensitiveNames* lookup = nullptr);

// Edits the list below `root` (ending with "/" or not). The folder and file are found
// regardless of letter case (through `names` when given, which the job keeps for this
// root), and its text edited as rewritePluginList says; a missing, unreadable or empty
// list, and one that already reads as the edit would write it, are left as they are (a
// list is never created). The new list replaces the old one through a temporary file
// beside it (replace_file.h), so the old list stays whole until the new one is. A list that
// is a symbolic link is read through the link, and the new list replaces the link itself
// with no more permission bits than the file read; the file the link leads to is never
// written.
//
// Fails, naming the list, when it exists but is neither a regular file nor a link to one
// (NotAFile: a FIFO, a folder, ...; found without opening it, so nothing blocks), is no
// text of this code page (NotText, left untouched), needs a change but has no write
// permission bit (ReadOnly, left untouched), or the new list cannot be written (the
// system's error).
InstallResult updatePluginList(const std::string& root, const std::vector<std::string>& names,
                               CaseInsensitiveNames* lookup = nullptr);
