// The segment table of a delta: done bytes count from each segment's start, every missing
// byte is fetched, and a table that would not fit gives up the shortest reused stretches.
#include <gtest/gtest.h>

#include "transfer/task_delta.h"

namespace {

// Bytes the table counts as missing, as [from, to) ranges.
std::vector<std::pair<int64_t, int64_t>> missingOf(const std::vector<Segment>& table) {
  std::vector<std::pair<int64_t, int64_t>> missing;
  for (const Segment& segment : table) {
    if (!segment.finished()) missing.push_back({segment.position(), segment.end()});
  }
  return missing;
}

bool tiles(const std::vector<Segment>& table, int64_t total) {
  int64_t reached = 0;
  for (const Segment& segment : table) {
    if (segment.start != reached || segment.done > segment.length) return false;
    reached = segment.end();
  }
  return reached == total;
}

}  // namespace

TEST(DeltaLayout, MissingRangesAreFetchedAndTheTableFitsItsLimit) {
  // 1000 bytes; the end from 900 held; reused: [0,100) [150,300) [310,320) [400,800).
  std::vector<ReusedRange> reused = {
      {0, 0, 100}, {1000, 150, 150}, {2000, 310, 10}, {3000, 400, 400}};
  DeltaLayout roomy = layoutDelta(1000, 900, reused, 50);
  EXPECT_TRUE(tiles(roomy.segments, 1000));
  using Gaps = std::vector<std::pair<int64_t, int64_t>>;
  EXPECT_EQ(missingOf(roomy.segments), (Gaps{{100, 150}, {300, 310}, {320, 400}, {800, 900}}));
  EXPECT_EQ(roomy.reusedBytes(), 660);

  // Three segments: two missing ranges and the held end. The shortest stretches between
  // missing ranges ([310,320), then [150,300)) are fetched instead.
  DeltaLayout tight = layoutDelta(1000, 900, reused, 3);
  EXPECT_TRUE(tiles(tight.segments, 1000));
  EXPECT_EQ(tight.segments.size(), 3u);
  EXPECT_EQ(missingOf(tight.segments), (Gaps{{100, 400}, {800, 900}}));
  ASSERT_EQ(tight.reused.size(), 2u);
  EXPECT_EQ(tight.reusedBytes(), 500);

  // Ranges reaching into the held end, or overlapping one before, are not taken.
  DeltaLayout odd = layoutDelta(1000, 900, {{0, 850, 100}, {0, 10, 50}, {0, 40, 30}}, 50);
  EXPECT_EQ(odd.reusedBytes(), 50);
  EXPECT_TRUE(tiles(odd.segments, 1000));

  // Fetching the reused ranges again leaves every other byte done.
  std::vector<Segment> again = refetchLayout(1000, roomy.reused);
  EXPECT_TRUE(tiles(again, 1000));
  EXPECT_EQ(missingOf(again), (Gaps{{0, 100}, {150, 300}, {310, 320}, {400, 800}}));
}
