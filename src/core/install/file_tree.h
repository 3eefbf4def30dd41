#pragma once
// Directory trees on byte paths: the directory test, removal of a whole tree, and the file
// listing of the install jobs. All run on the calling thread (the window thread).
#include <string>
#include <vector>

// True when `path` names an existing directory, or a symbolic link to one. False for an
// empty path, a missing path and every other kind of file.
bool isDirectory(const std::string& path);

// Removes the directory `path` with everything below it and returns whether the directory
// itself was removed. Read-only files and folders go too. Symbolic links are never
// followed: a link inside the tree is removed as a link, and a link given as `path` is
// removed itself, never what it points to. An empty path, the filesystem root, a missing
// path and a plain file remove nothing and give false.
bool removeTree(const std::string& path);

// Appends to `list` the full path of every file below `directory` (given with or without a
// trailing "/") whose name matches one of the "|"-separated `patterns`, and returns the
// number of entries in `list`. Patterns use "*" and "?"; ASCII letters match regardless of
// case, and "*.*" matches every name.
//
// Order: a directory's own files come first, pattern by pattern (a file matching two
// patterns is listed twice), each pattern's files in name order; then each subdirectory in
// name order, completed before the next one starts. Symbolic links are neither listed nor
// walked into. The window's pending events are handled after every file and every
// subdirectory (pumpMessages); once a quit request has been noted the listing stops, and
// the list is then incomplete.
int findFiles(const std::string& directory, const std::string& patterns,
              std::vector<std::string>& list);

// Whether `name` matches one file pattern, as findFiles matches them.
bool matchesFilePattern(const std::string& name, const std::string& pattern);
