#include "install/install_records.h"

#include <algorithm>

#include "platform/text.h"

namespace {

// The next component of `path` from `at` on, and whether it is the last.
std::string_view componentAt(std::string_view path, size_t at, bool& last) {
  const size_t slash = path.find('/', at);
  last = slash == std::string_view::npos;
  return path.substr(at, last ? std::string_view::npos : slash - at);
}

}  // namespace

bool listingLess(std::string_view a, std::string_view b) {
  size_t atA = 0, atB = 0;
  for (;;) {
    bool lastA = false, lastB = false;
    const std::string_view nameA = componentAt(a, atA, lastA);
    const std::string_view nameB = componentAt(b, atB, lastB);
    if (lastA != lastB) return lastA;  // a folder's files before its folders
    if (nameA != nameB) {
      const std::string upperA = toUpperAscii(nameA), upperB = toUpperAscii(nameB);
      return upperA != upperB ? upperA < upperB : nameA < nameB;
    }
    if (lastA) return false;  // the same path
    atA += nameA.size() + 1;
    atB += nameB.size() + 1;
  }
}

std::vector<InstallRecord> buildInstallRecords(std::string_view staging,
                                               const std::vector<ZipFileInfo>& files,
                                               const std::vector<std::string>& markers) {
  while (staging.size() > 1 && staging.back() == '/') staging.remove_suffix(1);
  std::vector<const ZipFileInfo*> ordered;
  for (const ZipFileInfo& file : files) ordered.push_back(&file);
  std::stable_sort(ordered.begin(), ordered.end(), [](const ZipFileInfo* a, const ZipFileInfo* b) {
    return listingLess(a->path, b->path);
  });
  std::vector<InstallRecord> records;
  for (const ZipFileInfo* file : ordered) {
    const std::string below = "/" + file->path;
    for (const std::string& marker : markers) {
      const int position = findText(below, marker, true);
      if (position == -1) continue;
      const long long after = static_cast<long long>(textLength(below)) - position;
      records.push_back({std::string(staging) + below, rightText(below, after), file->path,
                         file->size, file->crc});
    }
  }
  return records;
}
