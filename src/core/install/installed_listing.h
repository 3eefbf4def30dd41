#pragma once
// What the last install of a package put in a root: each file's path below the root, the size
// and CRC-32 the archive declared for it, and its path in the archive. It is kept in the root
// (".下载器备份/PACKAGE/installed") and written by the install's transaction like the files
// themselves, so a rollback brings back the one before. validate compares a root with it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct InstalledFile {
  std::string path;  // below the root, in the letter case found there
  uint64_t size = 0;
  uint32_t crc = 0;
  std::string archivePath;  // below the staging folder
  friend bool operator==(const InstalledFile&, const InstalledFile&) = default;
};

// The listing's path for `package`, relative to a root.
std::string installedListingPath(const std::string& package);

std::string encodeInstalledListing(const std::vector<InstalledFile>& files);
// Nothing when the text is not such a listing.
std::optional<std::vector<InstalledFile>> parseInstalledListing(std::string_view text);
