#pragma once
// Lines of the journal and of the files kept beside the backups: fields separated by tabs,
// with backslash, tab, CR and LF written as "\\", "\t", "\r" and "\n", so that any file name
// fits in one field of one line.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

std::string escapeField(std::string_view text);

// The fields of `fields` escaped and joined with tabs (no line ending).
std::string joinFields(const std::vector<std::string>& fields);

// The fields of one line (without its line ending), unescaped; nothing when a field holds a
// backslash that starts none of the four escapes.
std::optional<std::vector<std::string>> splitFields(std::string_view line);
