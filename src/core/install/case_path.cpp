#include "install/case_path.h"

#include <dirent.h>
#include <sys/stat.h>

#include "platform/text.h"

std::string existingNameIgnoringCase(const std::string& directory, const std::string& name) {
  if (name.empty() || name == "." || name == "..") return name;
  struct stat info {};
  if (::lstat((directory + name).c_str(), &info) == 0) return name;
  CaseInsensitiveNames names;
  return names.find(directory, name);
}

void CaseInsensitiveNames::Folder::add(const std::string& name) {
  names.insert(name);
  auto [at, inserted] = byUpper.try_emplace(toUpperAscii(name), name);
  if (!inserted && name < at->second) at->second = name;
}

CaseInsensitiveNames::Folder& CaseInsensitiveNames::listing(const std::string& directory) {
  auto [at, inserted] = folders_.try_emplace(directory);
  if (!inserted) return at->second;
  DIR* dir = ::opendir(directory.empty() ? "." : directory.c_str());
  if (dir == nullptr) return at->second;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") at->second.add(name);
  }
  ::closedir(dir);
  return at->second;
}

std::string CaseInsensitiveNames::find(const std::string& directory, const std::string& name) {
  if (name.empty() || name == "." || name == "..") return name;
  Folder& folder = listing(directory);
  if (folder.names.count(name) != 0) return name;
  auto match = folder.byUpper.find(toUpperAscii(name));
  return match == folder.byUpper.end() ? name : match->second;
}

void CaseInsensitiveNames::added(const std::string& directory, const std::string& name) {
  listing(directory).add(name);
}

void CaseInsensitiveNames::created(const std::string& directory) {
  folders_.try_emplace(directory);
}
