#include "zip/zip_layout.h"

#include <algorithm>
#include <string>

namespace {

constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kWindowSize = 16384;

// Reads below `limit` through a window of the archive, so the headers of many small
// entries that lie close together cost one read between them.
class WindowReader {
 public:
  WindowReader(int fd, uint64_t limit) : fd_(fd), limit_(limit) {}

  bool read(uint64_t at, char* buffer, size_t size) {
    if (at > limit_ || limit_ - at < size) return false;
    if (size > kWindowSize) return readAt(fd_, at, buffer, size);
    if (at < windowAt_ || at + size > windowAt_ + window_.size()) {
      window_.resize(static_cast<size_t>(std::min<uint64_t>(kWindowSize, limit_ - at)));
      windowAt_ = at;
      if (!readAt(fd_, at, window_.data(), window_.size())) {
        window_.clear();
        return false;
      }
    }
    std::copy_n(window_.data() + (at - windowAt_), size, buffer);
    return true;
  }

 private:
  int fd_;
  uint64_t limit_;
  uint64_t windowAt_ = 0;
  std::string window_;
};

struct Span {
  uint64_t begin;
  uint64_t end;
};

// Reads one local header; the span from the header to the end of the data, or nothing.
std::optional<Span> readLocalHeader(WindowReader& reader, uint64_t limit, ZipEntryRecord& record) {
  char head[kLocalHeaderSize];
  const uint64_t at = record.localHeaderOffset;
  if (!reader.read(at, head, sizeof head)) return std::nullopt;
  if (head[0] != 'P' || head[1] != 'K' || head[2] != 3 || head[3] != 4) return std::nullopt;
  const uint64_t nameSize = le16(head + 26), extraSize = le16(head + 28);
  if (nameSize != record.rawName.size()) return std::nullopt;
  const uint64_t dataAt = at + kLocalHeaderSize + nameSize + extraSize;
  if (dataAt > limit || limit - dataAt < record.compressedSize) return std::nullopt;
  record.localMethod = le16(head + 8);
  record.localExtra.resize(extraSize);
  if (!reader.read(at + kLocalHeaderSize + nameSize, record.localExtra.data(), extraSize)) {
    return std::nullopt;
  }
  record.dataOffset = dataAt;
  return Span{at, dataAt + record.compressedSize};
}

}  // namespace

bool locateEntryData(int fd, CentralDirectory& directory) {
  std::vector<Span> spans;
  spans.reserve(directory.entries.size());
  WindowReader reader(fd, directory.offset);
  for (ZipEntryRecord& record : directory.entries) {
    std::optional<Span> span = readLocalHeader(reader, directory.offset, record);
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
