#include "install/zip_layout.h"

#include <algorithm>

namespace {

constexpr size_t kLocalHeaderSize = 30;

struct Span {
  uint64_t begin;
  uint64_t end;
};

// Reads one local header; the span from the header to the end of the data, or nothing.
std::optional<Span> readLocalHeader(int fd, uint64_t limit, ZipEntryRecord& record) {
  char head[kLocalHeaderSize];
  const uint64_t at = record.localHeaderOffset;
  if (at > limit || limit - at < kLocalHeaderSize) return std::nullopt;
  if (!readAt(fd, at, head, sizeof head)) return std::nullopt;
  if (head[0] != 'P' || head[1] != 'K' || head[2] != 3 || head[3] != 4) return std::nullopt;
  const uint64_t nameSize = le16(head + 26), extraSize = le16(head + 28);
  if (nameSize != record.rawName.size()) return std::nullopt;
  const uint64_t dataAt = at + kLocalHeaderSize + nameSize + extraSize;
  if (dataAt > limit || limit - dataAt < record.compressedSize) return std::nullopt;
  record.localMethod = le16(head + 8);
  record.localExtra.resize(extraSize);
  if (!readAt(fd, at + kLocalHeaderSize + nameSize, record.localExtra.data(), extraSize)) {
    return std::nullopt;
  }
  record.dataOffset = dataAt;
  return Span{at, dataAt + record.compressedSize};
}

}  // namespace

bool locateEntryData(int fd, CentralDirectory& directory) {
  std::vector<Span> spans;
  spans.reserve(directory.entries.size());
  for (ZipEntryRecord& record : directory.entries) {
    std::optional<Span> span = readLocalHeader(fd, directory.offset, record);
    if (!span) return false;
    spans.push_back(*span);
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.begin < b.begin; });
  for (size_t k = 1; k < spans.size(); ++k) {
    if (spans[k].begin < spans[k - 1].end) return false;
  }
  return true;
}
