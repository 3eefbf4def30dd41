#pragma once
// The window's zip component: extracts a whole archive into a folder.
#include <string>

class ZIP {
 public:
  // 1 every entry written; 0 the target cannot be created, the file is no zip archive or an
  // entry cannot be written; -1 an argument is empty or the archive does not exist.
  int extract(const std::string& archive, const std::string& target);
};
