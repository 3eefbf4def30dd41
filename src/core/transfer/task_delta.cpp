// The segment tables of a delta.
#include "transfer/task_delta.h"

#include <algorithm>

namespace {

struct Range {
  int64_t from;
  int64_t to;
};

// One segment per missing range, each starting where the one before ended; a last finished
// segment for done bytes after the last missing range.
std::vector<Segment> segmentsFor(int64_t total, const std::vector<Range>& missing) {
  std::vector<Segment> segments;
  int64_t reached = 0;
  for (const Range& range : missing) {
    Segment segment;
    segment.start = reached;
    segment.length = range.to - reached;
    segment.done = range.from - reached;
    segments.push_back(segment);
    reached = range.to;
  }
  if (reached < total || segments.empty()) {
    Segment rest;
    rest.start = reached;
    rest.length = total - reached;
    rest.done = rest.length;
    segments.push_back(rest);
  }
  return segments;
}

// The ranges of [0, total) that `done` (sorted, disjoint) leaves out.
std::vector<Range> gapsBetween(int64_t total, const std::vector<Range>& done) {
  std::vector<Range> gaps;
  int64_t reached = 0;
  for (const Range& range : done) {
    if (range.from > reached) gaps.push_back({reached, range.from});
    reached = std::max(reached, range.to);
  }
  if (reached < total) gaps.push_back({reached, total});
  return gaps;
}

}  // namespace

int64_t DeltaLayout::reusedBytes() const {
  int64_t sum = 0;
  for (const ReusedRange& range : reused) sum += range.length;
  return sum;
}

DeltaLayout layoutDelta(int64_t total, int64_t heldFrom, std::vector<ReusedRange> reused,
                        int32_t limit) {
  heldFrom = std::clamp<int64_t>(heldFrom, 0, total);
  std::erase_if(reused, [heldFrom](const ReusedRange& range) {
    return range.length <= 0 || range.offset < 0 || range.end() > heldFrom;
  });
  std::sort(reused.begin(), reused.end(),
            [](const ReusedRange& a, const ReusedRange& b) { return a.offset < b.offset; });
  // Overlapping ranges would count bytes twice: keep the first of any that overlap.
  std::vector<ReusedRange> disjoint;
  for (const ReusedRange& range : reused) {
    if (disjoint.empty() || disjoint.back().end() <= range.offset) disjoint.push_back(range);
  }
  std::vector<Range> done;
  for (const ReusedRange& range : disjoint) done.push_back({range.offset, range.end()});
  if (heldFrom < total) done.push_back({heldFrom, total});
  std::vector<Range> missing = gapsBetween(total, done);

  // The stretches between two missing ranges; the shortest are fetched until the table fits.
  const size_t room = static_cast<size_t>(std::max(limit, 1) - 1);
  if (missing.size() > std::max<size_t>(room, 1)) {
    std::vector<size_t> order(missing.size() - 1);
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&missing](size_t a, size_t b) {
      return missing[a + 1].from - missing[a].to < missing[b + 1].from - missing[b].to;
    });
    std::vector<bool> filled(order.size(), false);
    size_t excess = missing.size() - std::max<size_t>(room, 1);
    for (size_t k = 0; k < excess; ++k) filled[order[k]] = true;
    std::vector<Range> joined;
    for (size_t k = 0; k < missing.size(); ++k) {
      if (k > 0 && filled[k - 1]) {
        joined.back().to = missing[k].to;
      } else {
        joined.push_back(missing[k]);
      }
    }
    missing = std::move(joined);
    std::erase_if(disjoint, [&missing](const ReusedRange& range) {
      return std::any_of(missing.begin(), missing.end(), [&range](const Range& gap) {
        return range.offset < gap.to && range.end() > gap.from;
      });
    });
  }
  return DeltaLayout{segmentsFor(total, missing), std::move(disjoint)};
}

std::vector<Segment> refetchLayout(int64_t total, const std::vector<ReusedRange>& reused) {
  std::vector<Range> missing;
  for (const ReusedRange& range : reused) {
    if (!missing.empty() && missing.back().to == range.offset) {
      missing.back().to = range.end();
    } else {
      missing.push_back({range.offset, range.end()});
    }
  }
  return segmentsFor(total, missing);
}
