// Segment layout, taking, splitting, and a split racing the owner's progress.
#include "transfer/segment_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "transfer/engine_tuning.h"

TEST(SegmentTable, LayoutGivesTheRemainderToTheLast) {
  SegmentTable table;
  table.layout(100003, 4);
  ASSERT_EQ(table.count(), 4);
  EXPECT_EQ(table.capacity(), 10);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(table.at(i).start, 25000 * i);
    EXPECT_EQ(table.at(i).length, 25000);
  }
  EXPECT_EQ(table.at(3).start, 75000);
  EXPECT_EQ(table.at(3).length, 25003);
  EXPECT_EQ(table.unfinishedCount(), 4);
}

TEST(SegmentTable, NeverMoreSegmentsThanTheFileCanFill) {
  SegmentTable table;
  table.layout(100000, 8);
  EXPECT_EQ(table.count(), 4);  // 100000 / 20480
  table.layout(20479, 4);
  EXPECT_EQ(table.count(), 1);
  table.layout(INT32_MAX, INT32_MAX);
  EXPECT_EQ(table.count(), INT32_MAX / 20480);
  EXPECT_EQ(table.capacity() % 10, 0);
}

TEST(SegmentTable, SmallAndEmptyFilesHaveOneSegment) {
  SegmentTable table;
  table.layout(4095, 8);
  EXPECT_EQ(table.count(), 1);
  table.layout(0, 4);
  ASSERT_EQ(table.count(), 1);
  EXPECT_TRUE(table.allFinished());
  EXPECT_EQ(table.takeFree(nullptr), -1);
}

TEST(SegmentTable, TakesFreeSegmentsInOrderThenSplitsTheWidest) {
  SegmentTable table;
  table.layout(200000, 2);
  EXPECT_EQ(table.takeFree(nullptr), 0);
  EXPECT_EQ(table.takeFree(nullptr), 1);
  EXPECT_EQ(table.takeFree(nullptr), -1);
  table.commit(0, 1000);  // segment 0 has 99000 left, segment 1 100000
  int32_t tail = table.takeOrSplit(nullptr);
  ASSERT_EQ(tail, 2);
  EXPECT_EQ(table.at(1).length, 50000);
  EXPECT_TRUE(table.at(1).split);
  EXPECT_EQ(table.at(2).start, 150000);
  EXPECT_EQ(table.at(2).length, 50000);
  EXPECT_TRUE(table.at(2).busy);
}

TEST(SegmentTable, SplitIsRefusedBelowTwiceTheBuffer) {
  SegmentTable table;
  table.layout(kSplitThreshold * 2 - 2, 2);  // each segment one byte short of the threshold
  table.takeFree(nullptr);
  table.takeFree(nullptr);
  EXPECT_EQ(table.takeOrSplit(nullptr), -1);
  table.layout(kSplitThreshold, 1);
  table.takeFree(nullptr);
  EXPECT_EQ(table.takeOrSplit(nullptr), 1);
}

TEST(SegmentTable, CommitNeverPassesTheLength) {
  SegmentTable table;
  table.layout(10000, 1);
  EXPECT_EQ(table.commit(0, 6000), 6000);
  EXPECT_EQ(table.commit(0, 6000), 4000);
  EXPECT_EQ(table.commit(0, 1), 0);
  EXPECT_EQ(table.commit(5, 1), 0);
  EXPECT_TRUE(table.allFinished());
}

// The owner advances a buffer at a time while the controller keeps splitting its segment:
// no byte may be owned twice or lost, and the owner's buffered bytes always stay inside
// its (shrinking) segment.
TEST(SegmentTable, SplitsWhileTheOwnerAdvancesStayConsistent) {
  constexpr int64_t kTotal = 64 << 20;
  SegmentTable table;
  table.layout(kTotal, 1);
  ASSERT_EQ(table.takeFree(nullptr), 0);
  std::atomic<bool> ownerDone{false};
  std::atomic<bool> outOfBounds{false};
  std::thread owner([&] {
    while (true) {
      Segment segment = table.at(0);
      if (segment.finished()) break;
      int64_t chunk = std::min<int64_t>(kTransferBufferSize, segment.end() - segment.position());
      // The bytes are "buffered" now; a split may happen before they are committed.
      std::this_thread::yield();
      if (segment.position() + chunk > table.at(0).end()) outOfBounds = true;
      table.commit(0, chunk);
    }
    ownerDone = true;
  });
  int splits = 0;
  while (!ownerDone && splits < 200) {
    if (table.takeOrSplit(nullptr) >= 0) ++splits;
  }
  owner.join();
  EXPECT_FALSE(outOfBounds);
  std::vector<Segment> entries = table.entries();
  int64_t covered = 0;
  std::sort(entries.begin(), entries.end(),
            [](const Segment& x, const Segment& y) { return x.start < y.start; });
  for (const Segment& segment : entries) {
    EXPECT_EQ(segment.start, covered);
    covered += segment.length;
  }
  EXPECT_EQ(covered, kTotal);
}

// A worker that finished its segment shares the work of an owner without a connection: the
// whole rest of one that waits to retry, the tail half of one that reconnects (when that
// half is worth a connection), and nothing of one that receives.
TEST(SegmentTable, MovingOnSharesTheRangeOfAnOwnerWithoutAConnection) {
  Worker* a = reinterpret_cast<Worker*>(0x10);
  Worker* b = reinterpret_cast<Worker*>(0x20);
  SegmentTable table;
  table.layout(200000, 2);
  ASSERT_EQ(table.takeFree(a), 0);
  ASSERT_EQ(table.takeFree(b), 1);
  table.commit(0, 100000);
  table.commit(1, 10000);
  EXPECT_EQ(table.moveOn(0, a), -1);  // b is at work: nothing to take
  table.setOwnerLink(1, OwnerLink::Reconnecting);
  EXPECT_EQ(table.moveOn(0, a, false), -1);  // only a worker that finished may share
  int32_t tail = table.moveOn(0, a);
  ASSERT_EQ(tail, 2);
  EXPECT_EQ(table.at(1).end(), 155000);  // b keeps the first half of its 90000 bytes left
  EXPECT_FALSE(table.at(1).finished());
  EXPECT_EQ(table.at(2).start, 155000);
  EXPECT_EQ(table.at(2).length, 45000);
  EXPECT_EQ(table.at(2).owner, a);
  EXPECT_FALSE(table.at(0).busy);  // a let go of its finished segment

  // b now waits to retry: the next free worker takes all it has left.
  table.commit(2, 45000);
  table.setOwnerLink(1, OwnerLink::Waiting);
  int32_t rest = table.moveOn(2, a);
  ASSERT_EQ(rest, 3);
  EXPECT_EQ(table.at(1).length, 10000);  // cut where b stands: finished, b moves on
  EXPECT_TRUE(table.at(1).finished());
  EXPECT_EQ(table.at(3).start, 110000);
  EXPECT_EQ(table.at(3).length, 45000);

  // An owner that reconnects with less than twice a buffer left keeps all of it.
  table.commit(3, 45000 - kSplitThreshold + 1);
  table.setOwnerLink(3, OwnerLink::Reconnecting);
  ASSERT_EQ(table.takeFree(b), -1);
  EXPECT_EQ(table.moveOn(1, b), -1);
  EXPECT_EQ(table.sumDone() + table.at(3).length - table.at(3).done, 200000);
}
