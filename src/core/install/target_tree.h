#pragma once
// The extraction target as an open directory. Paths below it are walked one component at a
// time, each relative to its parent and without following symbolic links, so nothing is
// ever created or written outside the target, not even through a link that already lies
// below it.
#include <string>
#include <vector>

#include "platform/unique_fd.h"

// Creates `path` with every missing parent: for each "/" in the path (one is added at the
// end), the prefix up to it is created when nothing of that name exists. False when a
// creation fails.
bool createDirectoryPath(const std::string& path);

class TargetTree {
 public:
  // Opens the target directory; links in the target's own path are followed (the caller
  // chose it). False when it is not an openable directory.
  bool open(const std::string& target);

  // Creates each missing directory of the path. False when a creation fails or an
  // existing inner component is not a real directory (a link included). An existing last
  // component of another kind is left as it is.
  bool makeDirectories(const std::vector<std::string>& components);

  // Creates the file for writing, replacing a file or link of that name (a link is removed,
  // never written through). Its parents must be real directories; missing ones are created
  // only with createParents. An invalid descriptor on failure.
  UniqueFd createFile(const std::vector<std::string>& components, bool createParents);

 private:
  // The directory named by the first `count` components, opened; missing ones created when
  // `create`. Invalid on failure.
  UniqueFd openDirectory(const std::vector<std::string>& components, size_t count, bool create);

  UniqueFd root_;
};
