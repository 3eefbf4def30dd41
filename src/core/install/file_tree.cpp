#include "install/file_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "install/event_pump.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace {

enum class EntryKind { File, Directory, Link, Other };

struct DirectoryEntry {
  std::string name;
  EntryKind kind;
};

EntryKind kindOfMode(mode_t mode) {
  if (S_ISLNK(mode)) return EntryKind::Link;
  if (S_ISDIR(mode)) return EntryKind::Directory;
  if (S_ISREG(mode)) return EntryKind::File;
  return EntryKind::Other;
}

// Every entry of the open directory but "." and "..", classified without following links,
// in name order (ASCII letters compared as upper case first, then the bytes).
std::vector<DirectoryEntry> readEntries(int directoryFd) {
  std::vector<DirectoryEntry> entries;
  int listingFd = ::dup(directoryFd);
  if (listingFd < 0) return entries;
  DIR* listing = ::fdopendir(listingFd);
  if (listing == nullptr) {
    ::close(listingFd);
    return entries;
  }
  ::rewinddir(listing);
  while (dirent* entry = ::readdir(listing)) {
    std::string name = entry->d_name;
    if (name.empty() || name == "." || name == "..") continue;
    struct stat info {};
    if (::fstatat(directoryFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    entries.push_back({std::move(name), kindOfMode(info.st_mode)});
  }
  ::closedir(listing);
  std::sort(entries.begin(), entries.end(), [](const DirectoryEntry& a, const DirectoryEntry& b) {
    std::string upperA = toUpperAscii(a.name), upperB = toUpperAscii(b.name);
    return upperA != upperB ? upperA < upperB : a.name < b.name;
  });
  return entries;
}

// Gives the owner full access to a directory so its entries can be removed; as the
// read-only attribute is cleared before a delete. Failures are ignored.
void makeDirectoryWritable(int directoryFd) {
  struct stat info {};
  if (::fstat(directoryFd, &info) != 0) return;
  if ((info.st_mode & S_IRWXU) != S_IRWXU) ::fchmod(directoryFd, info.st_mode | S_IRWXU);
}

// Removes everything inside the open directory. Each subdirectory is opened relative to
// its parent and without following links, so the walk cannot leave the tree even when
// the tree changes meanwhile.
void removeContents(int directoryFd) {
  makeDirectoryWritable(directoryFd);
  for (const DirectoryEntry& entry : readEntries(directoryFd)) {
    if (entry.kind == EntryKind::Directory) {
      UniqueFd child(::openat(directoryFd, entry.name.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (child) removeContents(child.get());
      ::unlinkat(directoryFd, entry.name.c_str(), AT_REMOVEDIR);
    } else {
      ::unlinkat(directoryFd, entry.name.c_str(), 0);
    }
  }
}

std::string withoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

bool matchPattern(std::string_view name, std::string_view pattern) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  size_t n = 0, p = 0;
  size_t starAt = std::string_view::npos, resumeAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeAt = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || upper(pattern[p]) == upper(name[n]))) {
      ++p;
      ++n;
    } else if (starAt != std::string_view::npos) {
      p = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// Lists one directory level and recurses; false once a quit request stops the listing.
bool listFiles(const std::string& directory, const std::vector<std::string>& patterns,
               std::vector<std::string>& list) {
  UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return true;
  std::vector<DirectoryEntry> entries = readEntries(fd.get());
  fd.reset();
  for (const std::string& pattern : patterns) {
    for (const DirectoryEntry& entry : entries) {
      if (entry.kind != EntryKind::File || !matchesFilePattern(entry.name, pattern)) continue;
      list.push_back(directory + entry.name);
      pumpMessages();
      if (quitRequested()) return false;
    }
  }
  for (const DirectoryEntry& entry : entries) {
    if (entry.kind != EntryKind::Directory) continue;
    if (!listFiles(directory + entry.name + "/", patterns, list)) return false;
    pumpMessages();
    if (quitRequested()) return false;
  }
  return true;
}

}  // namespace

bool isDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool removeTree(const std::string& path) {
  std::string directory = withoutTrailingSlashes(path);
  if (directory.empty() || directory == "/") return false;
  struct stat info {};
  if (::lstat(directory.c_str(), &info) != 0) return false;
  if (S_ISLNK(info.st_mode)) return ::unlink(directory.c_str()) == 0;
  if (!S_ISDIR(info.st_mode)) return false;
  UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return false;
  removeContents(fd.get());
  fd.reset();
  return ::rmdir(directory.c_str()) == 0;
}

bool matchesFilePattern(const std::string& name, const std::string& pattern) {
  if (pattern == "*.*") return true;
  return matchPattern(name, pattern);
}

int findFiles(const std::string& directory, const std::string& patterns,
              std::vector<std::string>& list) {
  if (directory.empty()) return static_cast<int>(list.size());
  std::string root = directory;
  if (root.back() != '/') root += '/';
  listFiles(root, splitText(patterns, "|"), list);
  return static_cast<int>(list.size());
}
