#pragma once
// What happens when the local file already exists, and the automatic renaming rule.
#include <optional>
#include <string>
#include <string_view>

class Worker;

// Most automatic renaming attempts before giving up.
inline constexpr int kRenameAttempts = 99;

// A file name that can be created inside the target folder: not empty, not "." or "..",
// without "/" or NUL.
bool isUsableFileName(std::string_view name);

// The next automatic name for `path`: the file name (after the last "/") is split at its
// first "." into base and extension; a base ending in "(k)" with k one or two characters
// that read as a number from 1 gets k+1, a "(k)" whose k reads as 0 or is no number stays,
// any other base gets "(1)". So a.zip → a(1).zip → a(2).zip, a.b.zip → a(1).b.zip. Nothing
// when the parentheses hold more than two characters, k+1 would pass 99, or the new path
// would reach kLocalPathLimit bytes.
std::optional<std::string> nextAutomaticName(const std::string& path);

// Checks the task's local path before the output file is created (on the worker thread).
// When a file exists there, asks the status callback (NameClash; no callback answers 0) and
// acts on the answer: 0 renames automatically, 2 keeps the path the callback set (the same
// path: the file is replaced when the download is complete), 1 and any other answer give
// up. Logs as the system does; true when the worker may go on.
bool settleNameClash(Worker& worker);
