#include "zip/zip_entry.h"

#include <algorithm>

#include "platform/codepage.h"

namespace {

constexpr uint32_t kUnixDirectoryFlag = 0x40000000;
constexpr uint32_t kUnixOwnerWriteFlag = 0x800000;
constexpr uint64_t kTicksPerSecond = 10000000;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t daysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

uint16_t readLe16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                               static_cast<unsigned char>(bytes[at + 1]) << 8);
}

int32_t readLe32(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (size_t k = 0; k < 4; ++k) {
    value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + k])) << (8 * k);
  }
  return static_cast<int32_t>(value);
}

void applyTimestampBlock(std::string_view block, ZipEntryInfo& info) {
  if (block.empty()) return;
  const auto flags = static_cast<unsigned char>(block[0]);
  uint64_t* const targets[] = {&info.writeTime, &info.accessTime, &info.creationTime};
  size_t at = 1;
  for (int bit = 0; bit < 3; ++bit) {
    if ((flags & (1u << bit)) == 0) continue;
    if (at + 4 > block.size()) return;
    *targets[bit] = unixTimeToFileTime(readLe32(block, at));
    at += 4;
  }
}

bool endsWithSeparator(std::string_view name) {
  return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

}  // namespace

uint32_t entryAttributes(uint32_t external) {
  using namespace zip_attribute;
  uint32_t attributes = kNormal;
  if ((external & kUnixDirectoryFlag) != 0 || (external & kDirectory) != 0) {
    attributes = kDirectory | kNormal;
  }
  if ((external & kArchive) != 0) attributes |= kArchive;
  if ((external & kHidden) != 0) attributes |= kHidden;
  if ((external & kSystem) != 0) attributes |= kSystem;
  if ((external & kReadOnly) != 0 || (external & kUnixOwnerWriteFlag) == 0) {
    attributes |= kReadOnly;
  }
  return attributes;
}

uint64_t dosDateTimeToFileTime(uint32_t dosDateTime) {
  const unsigned date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
  const unsigned year = 1980 + (date >> 9), month = (date >> 5) & 0x0F, day = date & 0x1F;
  const unsigned hour = time >> 11, minute = (time >> 5) & 0x3F, second = (time & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return 0;
  const int64_t seconds =
      daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return unixTimeToFileTime(seconds);
}

uint64_t unixTimeToFileTime(int64_t seconds) {
  const int64_t earliest = -static_cast<int64_t>(kUnixEpochAsFileTime / kTicksPerSecond);
  if (seconds < earliest) return 0;
  return static_cast<uint64_t>(seconds - earliest) * kTicksPerSecond;
}

void applyExtendedTimestamp(std::string_view extra, ZipEntryInfo& info) {
  if (extra.size() < 5) return;
  size_t at = 0;
  while (at + 4 <= extra.size()) {
    const uint16_t tag = readLe16(extra, at);
    const uint16_t size = readLe16(extra, at + 2);
    const size_t dataAt = at + 4;
    const size_t available = std::min<size_t>(size, extra.size() - dataAt);
    if (tag == 0x5455) {  // "UT"
      applyTimestampBlock(extra.substr(dataAt, available), info);
      return;
    }
    at = dataAt + size;
  }
}

std::string decodeEntryName(std::string_view raw, bool utf8Flag, UnflaggedNames unflagged) {
  const bool readAsUtf8 = utf8Flag || unflagged == UnflaggedNames::Utf8;
  if (readAsUtf8 && isValidUtf8(raw)) return std::string(raw);
  return gbkToUtf8(raw);
}

bool hasUtf8NameFlag(const ZipEntryRecord& record) {
  return (record.flags & 0x800) != 0;
}

ZipEntryInfo describeEntry(const ZipEntryRecord& record, int32_t index, UnflaggedNames unflagged) {
  ZipEntryInfo info;
  info.index = index;
  info.name = decodeEntryName(record.rawName, hasUtf8NameFlag(record), unflagged);
  info.attributes = entryAttributes(record.externalAttributes);
  if (endsWithSeparator(record.rawName)) info.attributes |= zip_attribute::kDirectory;
  info.writeTime = info.accessTime = info.creationTime = dosDateTimeToFileTime(record.dosDateTime);
  info.compressedSize = record.compressedSize;
  info.uncompressedSize = record.uncompressedSize;
  return info;
}
