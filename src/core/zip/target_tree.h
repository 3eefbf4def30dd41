#pragma once
// The extraction target as an open directory. Paths below it are resolved relative to it
// without following any symbolic link (openat2 with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS,
// or a walk one component at a time where the kernel lacks it), so nothing is ever
// created or written outside the target, not even through a link that already lies below
// it. Paths are given as their components.
//
// After open(), the const members may be called from several threads at once.
#include <string>
#include <vector>

#include "platform/unique_fd.h"

using PathComponents = std::vector<std::string>;

// Creates `path` with every missing parent: for each "/" in the path (one is added at the
// end), the prefix up to it is created when nothing of that name exists. False when a
// creation fails.
bool createDirectoryPath(const std::string& path);

class TargetTree {
 public:
  // Opens the target directory; links in the target's own path are followed (the caller
  // chose it). False when it is not an openable directory.
  bool open(const std::string& target);

  // Creates each missing directory of the path, appending each one it created to
  // `created` (outermost first). False when a creation fails or an existing inner
  // component is not a real directory (a link included). An existing last component of
  // another kind is left as it is.
  bool makeDirectories(const PathComponents& path, std::vector<PathComponents>& created) const;

  // Creates a new file for writing. Invalid with errno EEXIST when something exists at the
  // path (a link included, which is never followed); invalid too when a parent is not a
  // real directory.
  UniqueFd createNew(const PathComponents& path) const;

  // What exists at the path, the last component not followed.
  enum class Kind { Missing, Directory, Other };
  Kind kindOf(const PathComponents& path) const;

  // A new temporary file in the folder of `path`; its name (in that folder) goes to
  // `name`.
  UniqueFd createTemporary(const PathComponents& path, std::string& name) const;
  // Renames the temporary file `name` (from createTemporary) over `path`, replacing a
  // file or link there.
  bool replaceWith(const PathComponents& path, const std::string& name) const;
  // Removes the file (or link) at `path`, or the temporary `name` beside it when given.
  void removeFile(const PathComponents& path, const std::string& name = {}) const;
  // Removes the directory at `path` if it is empty.
  void removeEmptyDirectory(const PathComponents& path) const;

 private:
  // The folder holding the path's last component, opened; invalid on failure.
  UniqueFd openParent(const PathComponents& path) const;
  // The directory named by the first `count` components; invalid on failure.
  UniqueFd openDirectory(const PathComponents& path, size_t count) const;

  UniqueFd root_;
};
