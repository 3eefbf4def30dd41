#pragma once
// The snapshot byte array of a running task: all integers 32-bit little-endian, closed by a
// CRC-16/ARC of everything before it, at most kSnapshotLimit bytes.
//
//   0   segment count          4  capacity (cap)     8  total size     12 unused (0)
//   16  cap entries of seven integers: busy, split mark, 0, start, length, done, 0
//   then four blocks of protocol values (text slots hold a byte offset of a NUL-terminated
//   text after the fixed part, 0 for an absent text):
//       int, text, text, text, text, int, text  |  six ints  |  text, three ints
//       |  text, eight ints
//   then the total size again, the texts, and the CRC.
#include <cstdint>
#include <optional>
#include <vector>

#include "transfer/protocol.h"
#include "transfer/segment_table.h"

inline constexpr size_t kSnapshotLimit = 2048;

// CRC-16/ARC: reflected polynomial 0xA001, initial value 0, no final XOR.
uint16_t crc16Arc(const uint8_t* data, size_t length);

struct SnapshotContent {
  int64_t totalSize = 0;
  int32_t capacity = 0;
  std::vector<Segment> segments;
  ProtocolSnapshot protocol;
};

// The bytes of a snapshot; nothing when they would pass kSnapshotLimit or a size does not
// fit 32 bits.
std::optional<std::vector<uint8_t>> encodeSnapshot(const SnapshotContent& content);
// The largest capacity (a multiple of 10) that a snapshot with these protocol values still
// fits in kSnapshotLimit with; 0 when none does.
int32_t snapshotCapacityLimit(const ProtocolSnapshot& protocol);
// The content of a snapshot; nothing when it is empty, longer than kSnapshotLimit, its
// first byte is 0, its CRC does not match, or any count, offset or text is out of bounds.
std::optional<SnapshotContent> decodeSnapshot(const uint8_t* data, size_t length);
