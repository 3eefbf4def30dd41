#include "install/case_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include "install/text.h"

std::string existingNameIgnoringCase(const std::string& directory, const std::string& name) {
  if (name.empty() || name == "." || name == "..") return name;
  struct stat info {};
  if (::lstat((directory + name).c_str(), &info) == 0) return name;
  DIR* listing = ::opendir(directory.empty() ? "." : directory.c_str());
  if (listing == nullptr) return name;
  const std::string wanted = toUpperAscii(name);
  std::string found;
  while (dirent* entry = ::readdir(listing)) {
    std::string candidate = entry->d_name;
    if (toUpperAscii(candidate) != wanted) continue;
    if (found.empty() || candidate < found) found = std::move(candidate);
  }
  ::closedir(listing);
  return found.empty() ? name : found;
}
