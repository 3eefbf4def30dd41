#include "install/installed_listing.h"

#include <cstdio>
#include <cstdlib>

#include "platform/decimal.h"
#include "transaction/generations.h"
#include "transaction/journal_text.h"

namespace {

constexpr char kMagic[] = "下载器 installed 1";

std::optional<uint32_t> parseCrc(const std::string& text) {
  if (text.size() != 8 || text.find_first_not_of("0123456789abcdef") != std::string::npos) {
    return std::nullopt;
  }
  return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 16));
}

}  // namespace

std::string installedListingPath(const std::string& package) {
  return packageBackupFolder(package) + "/installed";
}

std::string encodeInstalledListing(const std::vector<InstalledFile>& files) {
  std::string text = std::string(kMagic) + "\n";
  for (const InstalledFile& file : files) {
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", file.crc);
    text += joinFields({"file", file.path, std::to_string(file.size), crc, file.archivePath});
    text += '\n';
  }
  return text;
}

std::optional<std::vector<InstalledFile>> parseInstalledListing(std::string_view text) {
  const std::string_view magic = kMagic;
  if (!text.starts_with(magic) || text.substr(magic.size(), 1) != "\n") return std::nullopt;
  std::vector<InstalledFile> files;
  size_t at = magic.size() + 1;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (end == std::string_view::npos) return std::nullopt;
    std::optional<std::vector<std::string>> fields = splitFields(text.substr(at, end - at));
    at = end + 1;
    if (!fields || fields->size() != 5 || (*fields)[0] != "file") return std::nullopt;
    std::optional<int64_t> size = parseDecimal((*fields)[2]);
    std::optional<uint32_t> crc = parseCrc((*fields)[3]);
    if (!size || *size < 0 || !crc || (*fields)[1].empty()) return std::nullopt;
    files.push_back({(*fields)[1], static_cast<uint64_t>(*size), *crc, (*fields)[4]});
  }
  return files;
}
