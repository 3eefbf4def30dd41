#include "zip/entry_spans.h"

#include <algorithm>
#include <numeric>

namespace {

constexpr uint64_t kLocalHeaderSize = 30;

}  // namespace

std::optional<std::vector<EntrySpan>> entrySpans(const CentralDirectory& directory) {
  const std::vector<ZipEntryRecord>& entries = directory.entries;
  std::vector<size_t> order(entries.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::sort(order.begin(), order.end(), [&entries](size_t a, size_t b) {
    return entries[a].localHeaderOffset < entries[b].localHeaderOffset;
  });
  std::vector<EntrySpan> spans(entries.size());
  for (size_t k = 0; k < order.size(); ++k) {
    const ZipEntryRecord& entry = entries[order[k]];
    const uint64_t begin = entry.localHeaderOffset;
    const uint64_t end =
        k + 1 < order.size() ? entries[order[k + 1]].localHeaderOffset : directory.offset;
    if (begin >= end || end > directory.offset) return std::nullopt;
    const uint64_t least = kLocalHeaderSize + entry.rawName.size();
    if (end - begin < least || end - begin - least < entry.compressedSize) return std::nullopt;
    spans[order[k]] = EntrySpan{begin, end};
  }
  return spans;
}
