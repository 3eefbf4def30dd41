// Encoding and decoding the snapshot byte array.
#include "download/snapshot_format.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kEntrySize = 28;
constexpr size_t kProtocolBlockSize = 28 + 24 + 16 + 36 + 4;  // with the second total size
constexpr size_t kCrcSize = 2;

// Where each protocol value sits, in 32-bit words from the start of the protocol blocks:
// text slots 0..6 and integers 0..18 in ProtocolSnapshot order.
constexpr int kTextWord[7] = {1, 2, 3, 4, 6, 13, 17};
constexpr int kIntegerWord[19] = {0,  5,  7,  8,  9,  10, 11, 12, 14, 15,
                                  16, 18, 19, 20, 21, 22, 23, 24, 25};

void put32(std::vector<uint8_t>& out, size_t offset, int64_t value) {
  uint32_t word = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) out[offset + i] = static_cast<uint8_t>(word >> (8 * i));
}

int32_t get32(const uint8_t* data, size_t offset) {
  uint32_t word = 0;
  for (int i = 0; i < 4; ++i) word |= static_cast<uint32_t>(data[offset + i]) << (8 * i);
  return static_cast<int32_t>(word);
}

bool fits32(int64_t value) {
  return value >= std::numeric_limits<int32_t>::min() &&
         value <= std::numeric_limits<int32_t>::max();
}

}  // namespace

uint16_t crc16Arc(const uint8_t* data, size_t length) {
  uint16_t crc = 0;
  for (size_t i = 0; i < length; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

std::optional<std::vector<uint8_t>> encodeSnapshot(const SnapshotContent& content) {
  size_t count = content.segments.size();
  size_t capacity = static_cast<size_t>(std::max<int32_t>(content.capacity, 0));
  if (capacity < count) capacity = (count + 9) / 10 * 10;
  if (capacity > kSnapshotLimit / kEntrySize || !fits32(content.totalSize)) return std::nullopt;
  size_t fixed = kHeaderSize + kEntrySize * capacity + kProtocolBlockSize;
  size_t textBytes = 0;
  for (const auto& text : content.protocol.texts) {
    if (text) textBytes += text->size() + 1;
  }
  size_t total = fixed + textBytes + kCrcSize;
  if (total > kSnapshotLimit) return std::nullopt;

  std::vector<uint8_t> out(total, 0);
  put32(out, 0, static_cast<int64_t>(count));
  put32(out, 4, static_cast<int64_t>(capacity));
  put32(out, 8, content.totalSize);
  for (size_t i = 0; i < count; ++i) {
    const Segment& segment = content.segments[i];
    if (!fits32(segment.start) || !fits32(segment.length) || !fits32(segment.done)) {
      return std::nullopt;
    }
    size_t at = kHeaderSize + kEntrySize * i;
    put32(out, at, segment.busy ? 1 : 0);
    put32(out, at + 4, segment.split ? 1 : 0);
    put32(out, at + 12, segment.start);
    put32(out, at + 16, segment.length);
    put32(out, at + 20, segment.done);
  }
  size_t blocks = kHeaderSize + kEntrySize * capacity;
  for (int i = 0; i < 19; ++i)
    put32(out, blocks + 4 * kIntegerWord[i], content.protocol.integers[i]);
  put32(out, blocks + 104, content.totalSize);
  size_t textAt = fixed;
  for (int i = 0; i < 7; ++i) {
    const auto& text = content.protocol.texts[i];
    if (!text) continue;
    put32(out, blocks + 4 * kTextWord[i], static_cast<int64_t>(textAt));
    std::memcpy(out.data() + textAt, text->data(), text->size());
    textAt += text->size() + 1;
  }
  uint16_t crc = crc16Arc(out.data(), total - kCrcSize);
  out[total - 2] = static_cast<uint8_t>(crc);
  out[total - 1] = static_cast<uint8_t>(crc >> 8);
  return out;
}

int32_t snapshotCapacityLimit(const ProtocolSnapshot& protocol) {
  size_t used = kHeaderSize + kProtocolBlockSize + kCrcSize;
  for (const auto& text : protocol.texts) {
    if (text) used += text->size() + 1;
  }
  if (used >= kSnapshotLimit) return 0;
  size_t entries = std::min((kSnapshotLimit - used) / kEntrySize, kSnapshotLimit / kEntrySize);
  return static_cast<int32_t>(entries / 10 * 10);
}

std::optional<SnapshotContent> decodeSnapshot(const uint8_t* data, size_t length) {
  if (data == nullptr || length < kHeaderSize + kProtocolBlockSize + kCrcSize ||
      length > kSnapshotLimit || data[0] == 0) {
    return std::nullopt;
  }
  uint16_t stored = static_cast<uint16_t>(data[length - 2] | (data[length - 1] << 8));
  if (stored != crc16Arc(data, length - kCrcSize)) return std::nullopt;
  int32_t count = get32(data, 0);
  int32_t capacity = get32(data, 4);
  if (count <= 0 || capacity < count ||
      static_cast<size_t>(capacity) >
          (length - kHeaderSize - kProtocolBlockSize - kCrcSize) / kEntrySize) {
    return std::nullopt;
  }
  SnapshotContent content;
  content.totalSize = get32(data, 8);
  content.capacity = capacity;
  for (int32_t i = 0; i < count; ++i) {
    size_t at = kHeaderSize + kEntrySize * static_cast<size_t>(i);
    Segment segment;
    segment.split = get32(data, at + 4) != 0;
    segment.start = get32(data, at + 12);
    segment.length = get32(data, at + 16);
    segment.done = get32(data, at + 20);
    content.segments.push_back(segment);
  }
  size_t blocks = kHeaderSize + kEntrySize * static_cast<size_t>(capacity);
  size_t fixed = blocks + kProtocolBlockSize;
  for (int i = 0; i < 19; ++i)
    content.protocol.integers[i] = get32(data, blocks + 4 * kIntegerWord[i]);
  for (int i = 0; i < 7; ++i) {
    int32_t offset = get32(data, blocks + 4 * kTextWord[i]);
    if (offset == 0) continue;
    if (offset < 0 || static_cast<size_t>(offset) < fixed ||
        static_cast<size_t>(offset) >= length - kCrcSize) {
      return std::nullopt;
    }
    const char* text = reinterpret_cast<const char*>(data + offset);
    size_t room = length - kCrcSize - static_cast<size_t>(offset);
    size_t size = strnlen(text, room);
    if (size == room) return std::nullopt;  // no terminator before the CRC
    content.protocol.texts[i] = std::string(text, size);
  }
  return content;
}
