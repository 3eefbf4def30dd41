// The snapshot byte format: CRC, bounds, damaged and foreign arrays.
#include "download/snapshot_format.h"

#include <gtest/gtest.h>

#include "download/download.h"

namespace {

SnapshotContent sample() {
  SnapshotContent content;
  content.totalSize = 100003;
  content.capacity = 10;
  for (int i = 0; i < 4; ++i) {
    Segment segment;
    segment.start = 25000 * i;
    segment.length = i == 3 ? 25003 : 25000;
    segment.done = 100 * i;
    content.segments.push_back(segment);
  }
  content.protocol.texts[1] = "h:80";
  content.protocol.texts[6] = "127.0.0.1";
  content.protocol.integers[0] = 80;
  return content;
}

}  // namespace

TEST(SnapshotFormat, CrcIsArc) {
  const char check[] = "123456789";
  EXPECT_EQ(crc16Arc(reinterpret_cast<const uint8_t*>(check), 9), 0xBB3D);
}

TEST(SnapshotFormat, RoundTripAndQueries) {
  auto bytes = encodeSnapshot(sample());
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 16 + 28 * 10 + 108u + 5 + 10 + 2);
  auto decoded = decodeSnapshot(bytes->data(), bytes->size());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->protocol.texts[1], "h:80");
  EXPECT_FALSE(decoded->protocol.texts[0]);
  EXPECT_EQ(decoded->protocol.integers[0], 80);
  EXPECT_EQ(Download::querySnapshot(*bytes, SnapshotQuery::TotalSize, 0), 100003);
  EXPECT_EQ(Download::querySnapshot(*bytes, SnapshotQuery::BytesDone, 0), 600);
  EXPECT_EQ(Download::querySnapshot(*bytes, SnapshotQuery::SegmentCount, 0), 4);
  EXPECT_EQ(Download::querySnapshot(*bytes, SnapshotQuery::SegmentLength, 4), 25003);
  EXPECT_EQ(Download::querySnapshot(*bytes, SnapshotQuery::SegmentDone, 3), 200);
}

TEST(SnapshotFormat, DamagedOrForeignArraysQueryMinusOne) {
  std::vector<uint8_t> bytes = *encodeSnapshot(sample());
  EXPECT_EQ(Download::querySnapshot({}, SnapshotQuery::TotalSize, 0), -1);
  std::vector<uint8_t> crc = bytes;
  crc[crc.size() - 2] ^= 1;
  EXPECT_EQ(Download::querySnapshot(crc, SnapshotQuery::TotalSize, 0), -1);
  std::vector<uint8_t> lowByteZero = bytes;
  lowByteZero[0] = 0;
  EXPECT_EQ(Download::querySnapshot(lowByteZero, SnapshotQuery::SegmentCount, 0), -1);
  std::vector<uint8_t> longer = bytes;
  longer.resize(2049, 0xAA);
  EXPECT_EQ(Download::querySnapshot(longer, SnapshotQuery::TotalSize, 0), -1);
  // A well-closed array whose capacity points past its end is refused too.
  std::vector<uint8_t> wideCap = bytes;
  wideCap[4] = 200;
  uint16_t fixed = crc16Arc(wideCap.data(), wideCap.size() - 2);
  wideCap[wideCap.size() - 2] = static_cast<uint8_t>(fixed);
  wideCap[wideCap.size() - 1] = static_cast<uint8_t>(fixed >> 8);
  EXPECT_EQ(Download::querySnapshot(wideCap, SnapshotQuery::TotalSize, 0), -1);
}

TEST(SnapshotFormat, WriterRefusesMoreThan2048Bytes) {
  SnapshotContent content = sample();
  content.protocol.texts[2] = std::string(1700, 'u');
  EXPECT_FALSE(encodeSnapshot(content));
  SnapshotContent wide = sample();
  wide.capacity = 70;
  EXPECT_FALSE(encodeSnapshot(wide));
  wide.capacity = 60;
  ASSERT_TRUE(encodeSnapshot(wide));
  EXPECT_LE(encodeSnapshot(wide)->size(), kSnapshotLimit);
}
