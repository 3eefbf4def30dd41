// Any bytes as a snapshot: every query answers a value or -1 without reading outside the
// array, and a snapshot that decodes encodes back to bytes that give the same answers. The
// same bytes as a control file: the check accepts only segments that tile the file, and what
// it accepts encodes and checks again.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "download/control_file.h"
#include "download/download.h"
#include "download/snapshot_format.h"

namespace {

void checkAsControlFile(const uint8_t* data, size_t size) {
  // The URL the corpus files name; any other makes the check refuse them.
  const std::string url = "http://127.0.0.1/f.bin";
  ControlFileCheck check = checkControlFile(data, size, url);
  if (!check.content) {
    if (check.problem.empty()) __builtin_trap();
    return;
  }
  int64_t reached = 0;
  for (const Segment& segment : check.content->segments) {
    if (segment.start != reached || segment.done < 0 || segment.done > segment.length) {
      __builtin_trap();
    }
    reached += segment.length;
  }
  if (reached != check.content->totalSize) __builtin_trap();
  SnapshotContent merged = *check.content;
  merged.segments = mergedSegments(merged.segments);
  merged.capacity = 0;
  std::optional<std::vector<uint8_t>> again = encodeSnapshot(merged);
  if (again && !checkControlFile(again->data(), again->size(), url).content) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  checkAsControlFile(data, size);
  std::vector<uint8_t> bytes(data, data + size);
  int32_t count = Download::querySnapshot(bytes, SnapshotQuery::SegmentCount, 0);
  for (int32_t kind = 0; kind <= 7; ++kind) {
    for (int32_t index : {-1, 0, 1, 2, count, count + 1}) {
      Download::querySnapshot(bytes, static_cast<SnapshotQuery>(kind), index);
    }
  }
  std::optional<SnapshotContent> content = decodeSnapshot(data, size);
  if (!content) {
    if (count != -1) __builtin_trap();
    return 0;
  }
  if (count != static_cast<int32_t>(content->segments.size())) __builtin_trap();
  std::optional<std::vector<uint8_t>> again = encodeSnapshot(*content);
  if (!again) return 0;  // texts shared by two slots may not fit once laid out apart
  if (again->size() > kSnapshotLimit) __builtin_trap();
  for (int32_t kind = 1; kind <= 6; ++kind) {
    auto query = static_cast<SnapshotQuery>(kind);
    if (Download::querySnapshot(*again, query, 1) != Download::querySnapshot(bytes, query, 1)) {
      __builtin_trap();
    }
  }
  return 0;
}
