#pragma once
// Server trees come from a case-insensitive file system: below a server root, a directory
// or file that exists in another letter case is the one used.
#include <string>
#include <unordered_map>
#include <unordered_set>

// The name to use for `name` inside `directory` (which ends with "/"): `name` itself when
// something of that name exists or nothing matches, otherwise the existing entry whose
// name equals it regardless of ASCII letter case (the first in byte order when several do).
std::string existingNameIgnoringCase(const std::string& directory, const std::string& name);

// The same lookup for a whole job: each folder is listed at most once and kept, so placing
// N files costs time linear in N. Names the caller creates are reported through added().
// The folders are assumed to change only through the caller while the object is used.
// One thread at a time.
class CaseInsensitiveNames {
 public:
  // As existingNameIgnoringCase, from the kept listing of `directory`.
  std::string find(const std::string& directory, const std::string& name);
  // Records that `name` now exists inside `directory`.
  void added(const std::string& directory, const std::string& name);
  // Records that `directory` was just created (empty), so it is never listed.
  void created(const std::string& directory);

 private:
  struct Folder {
    std::unordered_set<std::string> names;
    std::unordered_map<std::string, std::string> byUpper;  // the least name in byte order
    void add(const std::string& name);
  };
  Folder& listing(const std::string& directory);

  std::unordered_map<std::string, Folder> folders_;
};
