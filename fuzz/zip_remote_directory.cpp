// Reads arbitrary bytes as the last bytes of an archive fetched from a server (a delta): the
// first 8 bytes say how many bytes of the archive come before the held ones, the rest are
// held. Whatever they are, locating and parsing the central directory must not crash or read
// outside the held bytes, and what is accepted must be consistent: a directory within the
// archive, entry spans that tile the archive up to it, and a delta table over those spans
// that covers the archive exactly once.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "transfer/task_delta.h"
#include "zip/entry_spans.h"
#include "zip/zip_directory.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t before = 0;
  if (size >= 8) {
    std::memcpy(&before, data, 8);
    data += 8;
    size -= 8;
  }
  before %= uint64_t{1} << 40;
  const std::string_view held(reinterpret_cast<const char*>(data), size);
  const ArchiveTail tail{held, before, before + size};
  const std::optional<DirectoryExtent> extent = locateCentralDirectory(tail);
  if (extent && (extent->offset > tail.fileSize || tail.fileSize - extent->offset < extent->size)) {
    std::abort();
  }
  const std::optional<CentralDirectory> directory = parseCentralDirectory(tail);
  if (!directory) return 0;
  if (!extent || directory->offset != extent->offset || directory->offset < before) std::abort();
  const std::optional<std::vector<EntrySpan>> spans = entrySpans(*directory);
  if (!spans) return 0;
  if (spans->size() != directory->entries.size()) std::abort();
  std::vector<ReusedRange> reused;
  for (const EntrySpan& span : *spans) {
    if (span.begin >= span.end || span.end > directory->offset) std::abort();
    reused.push_back({0, static_cast<int64_t>(span.begin), static_cast<int64_t>(span.length())});
  }
  const int64_t total = static_cast<int64_t>(tail.fileSize);
  const int64_t heldFrom = static_cast<int64_t>(directory->offset);
  const DeltaLayout layout = layoutDelta(total, heldFrom, reused, 20);
  int64_t reached = 0;
  for (const Segment& segment : layout.segments) {
    if (segment.start != reached || segment.done > segment.length || segment.done < 0) {
      std::abort();
    }
    reached = segment.end();
  }
  if (reached != total || layout.segments.size() > 20) std::abort();
  return 0;
}
