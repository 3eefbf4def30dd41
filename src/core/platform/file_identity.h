#pragma once
// Which file a path names, and in which state: device, inode, size and the modification and
// change times to the nanosecond. Any write, rename or attribute change gives another
// identity, so a value computed from the file's bytes (a digest) can be reused while the
// identity stays the same.
#include <cstdint>
#include <optional>
#include <string>

struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;

  bool operator==(const FileIdentity&) const = default;
};

// The identity of an open file; none when fstat fails.
std::optional<FileIdentity> fileIdentityOf(int fd);
// The identity of the regular file at `path` (links followed); none when there is none.
std::optional<FileIdentity> fileIdentityAt(const std::string& path);
