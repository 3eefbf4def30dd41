#pragma once
// How the extraction sees one archive entry: its decoded name, platform attribute bits and
// file times, derived from the central-directory record and the local extra field.
#include <cstdint>
#include <string>
#include <string_view>

#include "zip/zip_directory.h"

// File attribute bits of the entry description.
namespace zip_attribute {
inline constexpr uint32_t kReadOnly = 0x01;
inline constexpr uint32_t kHidden = 0x02;
inline constexpr uint32_t kSystem = 0x04;
inline constexpr uint32_t kDirectory = 0x10;
inline constexpr uint32_t kArchive = 0x20;
inline constexpr uint32_t kNormal = 0x80;
}  // namespace zip_attribute

// File times count 100 ns units since 1601-01-01 UTC; 0 stands for "no time".
inline constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;

// How an archive's names without the UTF-8 flag are read: as UTF-8 when all of them are
// valid UTF-8 (some tools write UTF-8 without the flag), otherwise all as GBK. Deciding
// for the whole archive keeps a GBK folder name that happens to be valid UTF-8 (such as
// "目录") the same folder for every entry inside it.
enum class UnflaggedNames { Utf8, Gbk };

struct ZipEntryInfo {
  int32_t index = 0;  // position in the central directory, from 0
  std::string name;   // decoded to UTF-8 (see decodeEntryName)
  uint32_t attributes = 0;
  uint64_t accessTime = 0;
  uint64_t creationTime = 0;
  uint64_t writeTime = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  bool isDirectory() const { return (attributes & zip_attribute::kDirectory) != 0; }
};

// The description from the central-directory record. The entry is a directory when the
// external attributes carry the DOS directory bit or the Unix directory flag, or when the
// name ends with "/" or "\". All three times are the DOS date and time taken as UTC.
ZipEntryInfo describeEntry(const ZipEntryRecord& record, int32_t index, UnflaggedNames unflagged);

// Attribute bits from the external attributes: normal, plus directory (0x10 or the Unix
// directory flag 0x40000000), archive, hidden, system, and read-only when the DOS bit is
// set or the Unix owner-write flag (0x800000) is clear.
uint32_t entryAttributes(uint32_t externalAttributes);

// The DOS date (high half) and time (low half) as a file time, read as UTC; 0 when the
// fields name no valid instant.
uint64_t dosDateTimeToFileTime(uint32_t dosDateTime);

// Seconds since 1970 as a file time; 0 for instants before 1601.
uint64_t unixTimeToFileTime(int64_t seconds);

// Applies the first "UT" (extended timestamp) block of a local extra field, when the field
// is at least 5 bytes long: flag bit 0 sets writeTime, bit 1 accessTime, bit 2
// creationTime, each from a 32-bit count of seconds since 1970 that follows in that order.
// Blocks and times that run past the field's end are ignored.
void applyExtendedTimestamp(std::string_view localExtra, ZipEntryInfo& info);

// Entry names to UTF-8. General-purpose flag bit 11 means UTF-8; a name without it is read
// as `unflagged` says. A name that is not valid UTF-8 is always read as GBK, and bytes that
// are not GBK either become U+FFFD, so the result is always valid UTF-8.
std::string decodeEntryName(std::string_view raw, bool utf8Flag, UnflaggedNames unflagged);

// Whether this entry's name is marked as UTF-8 (general-purpose flag bit 11).
bool hasUtf8NameFlag(const ZipEntryRecord& record);
