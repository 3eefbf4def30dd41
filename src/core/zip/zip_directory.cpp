#include "zip/zip_directory.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

namespace {

// Reads exactly `size` bytes at an archive offset; false when they cannot be had.
using ByteReader = std::function<bool(uint64_t at, char* buffer, size_t size)>;

constexpr size_t kEndSize = 22;
constexpr size_t kMaxComment = 65535;
constexpr size_t kLocatorSize = 20;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kRecordSize = 46;
constexpr uint32_t kSaturated32 = 0xFFFFFFFF;
constexpr uint16_t kSaturated16 = 0xFFFF;

// What the end records declare.
struct Declared {
  uint64_t entries = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
  uint64_t end = 0;  // where the central directory must end
  bool zip64 = false;
};

bool hasSignature(const char* bytes, char third, char fourth) {
  return bytes[0] == 'P' && bytes[1] == 'K' && bytes[2] == third && bytes[3] == fourth;
}

// The position of the last end-of-central-directory signature, searched in the last
// 64 KiB + 22 bytes (the record plus the longest comment).
std::optional<uint64_t> findEndRecord(const ByteReader& read, uint64_t fileSize) {
  if (fileSize < kEndSize) return std::nullopt;
  const uint64_t span = std::min<uint64_t>(fileSize, kEndSize + kMaxComment);
  std::string tail(span, '\0');
  if (!read(fileSize - span, tail.data(), span)) return std::nullopt;
  for (size_t at = span - kEndSize + 1; at-- > 0;) {
    if (hasSignature(&tail[at], 5, 6)) return fileSize - span + at;
  }
  return std::nullopt;
}

// The zip64 end record through its locator just before the end record, when there is one.
// False when a locator is there but what it points to is not sound.
bool readZip64End(const ByteReader& read, uint64_t endAt, Declared& declared) {
  if (endAt < kLocatorSize) return true;
  char locator[kLocatorSize];
  if (!read(endAt - kLocatorSize, locator, sizeof locator)) return false;
  if (!hasSignature(locator, 6, 7)) return true;
  if (le32(locator + 4) != 0 || le32(locator + 16) > 1) return false;  // one disk only
  const uint64_t at = le64(locator + 8);
  const uint64_t locatorAt = endAt - kLocatorSize;
  if (at > locatorAt || locatorAt - at < kZip64EndSize) return false;
  char record[kZip64EndSize];
  if (!read(at, record, sizeof record) || !hasSignature(record, 6, 6)) return false;
  if (le64(record + 4) > locatorAt - at - 12) return false;  // runs into the locator
  if (le32(record + 16) != 0 || le32(record + 20) != 0) return false;
  if (le64(record + 24) != le64(record + 32)) return false;
  declared.entries = le64(record + 32);
  declared.size = le64(record + 40);
  declared.offset = le64(record + 48);
  declared.end = at;
  declared.zip64 = true;
  return true;
}

std::optional<Declared> readDeclared(const ByteReader& read, uint64_t fileSize) {
  std::optional<uint64_t> endAt = findEndRecord(read, fileSize);
  if (!endAt) return std::nullopt;
  char end[kEndSize];
  if (!read(*endAt, end, sizeof end)) return std::nullopt;
  Declared declared;
  declared.entries = le16(end + 10);
  declared.size = le32(end + 12);
  declared.offset = le32(end + 16);
  declared.end = *endAt;
  if (!readZip64End(read, *endAt, declared)) return std::nullopt;
  // Several disks are not supported; a zip64 archive may leave these fields saturated.
  const bool oneDisk = le16(end + 4) == 0 && le16(end + 6) == 0 && le16(end + 8) == le16(end + 10);
  if (!oneDisk && !declared.zip64) return std::nullopt;
  if (declared.offset > declared.end || declared.end - declared.offset != declared.size) {
    return std::nullopt;
  }
  return declared;
}

// Takes the 64-bit values that the zip64 extra field holds for the saturated fields, in
// the order the format gives: uncompressed size, compressed size, local header offset.
bool applyZip64Extra(const char* extra, size_t size, ZipEntryRecord& record) {
  uint64_t* const fields[] = {&record.uncompressedSize, &record.compressedSize,
                              &record.localHeaderOffset};
  bool needed[3];
  bool anyNeeded = false;
  for (int k = 0; k < 3; ++k) {
    needed[k] = *fields[k] == kSaturated32;
    anyNeeded = anyNeeded || needed[k];
  }
  if (!anyNeeded) return true;
  for (size_t at = 0; at + 4 <= size;) {
    const uint16_t tag = le16(extra + at), length = le16(extra + at + 2);
    const size_t dataAt = at + 4;
    if (length > size - dataAt) break;
    if (tag == 0x0001) {
      size_t read = 0;
      for (int k = 0; k < 3; ++k) {
        if (!needed[k]) continue;
        if (read + 8 > length) return false;
        *fields[k] = le64(extra + dataAt + read);
        read += 8;
      }
      return true;
    }
    at = dataAt + length;
  }
  return false;
}

// Parses the record at `at`; the record's length, or 0 when it is not a sound record.
size_t parseRecord(const std::string& bytes, size_t at, ZipEntryRecord& record) {
  if (bytes.size() - at < kRecordSize) return 0;
  const char* head = bytes.data() + at;
  if (!hasSignature(head, 1, 2)) return 0;
  const size_t nameSize = le16(head + 28), extraSize = le16(head + 30);
  const size_t length = kRecordSize + nameSize + extraSize + le16(head + 32);
  if (bytes.size() - at < length) return 0;
  record.flags = le16(head + 8);
  record.method = le16(head + 10);
  record.dosDateTime = le16(head + 14) << 16 | le16(head + 12);
  record.crc = le32(head + 16);
  record.compressedSize = le32(head + 20);
  record.uncompressedSize = le32(head + 24);
  record.externalAttributes = le32(head + 38);
  record.localHeaderOffset = le32(head + 42);
  record.rawName.assign(head + kRecordSize, nameSize);
  if (!applyZip64Extra(head + kRecordSize + nameSize, extraSize, record)) return 0;
  return length;
}

bool countAgrees(uint64_t found, const Declared& declared) {
  if (found == declared.entries) return true;
  if (declared.zip64 || found < kSaturated16) return false;
  return declared.entries == kSaturated16 || declared.entries == found % 65536;
}

// The records of the directory `declared` names, each checked, their count against the
// declared one.
std::optional<CentralDirectory> readRecords(const ByteReader& read, const Declared& declared) {
  std::string bytes(declared.size, '\0');
  if (!read(declared.offset, bytes.data(), bytes.size())) return std::nullopt;
  CentralDirectory directory;
  directory.offset = declared.offset;
  directory.size = declared.size;
  for (size_t at = 0; at < bytes.size();) {
    ZipEntryRecord record;
    const size_t length = parseRecord(bytes, at, record);
    if (length == 0) return std::nullopt;
    directory.entries.push_back(std::move(record));
    at += length;
  }
  if (!countAgrees(directory.entries.size(), declared)) return std::nullopt;
  return directory;
}

ByteReader fileReader(int fd) {
  return [fd](uint64_t at, char* buffer, size_t size) { return readAt(fd, at, buffer, size); };
}

// Reads within the held bytes only: anything before the tail's start is not there.
ByteReader tailReader(const ArchiveTail& tail) {
  return [&tail](uint64_t at, char* buffer, size_t size) {
    if (at < tail.start || at > tail.fileSize || tail.fileSize - at < size) return false;
    const uint64_t from = at - tail.start;
    if (from > tail.bytes.size() || tail.bytes.size() - from < size) return false;
    std::memcpy(buffer, tail.bytes.data() + from, size);
    return true;
  };
}

bool tailIsSound(const ArchiveTail& tail) {
  return tail.start <= tail.fileSize && tail.fileSize - tail.start == tail.bytes.size();
}

}  // namespace

uint16_t le16(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}

uint32_t le32(const char* bytes) {
  return le16(bytes) | static_cast<uint32_t>(le16(bytes + 2)) << 16;
}

uint64_t le64(const char* bytes) {
  return le32(bytes) | static_cast<uint64_t>(le32(bytes + 4)) << 32;
}

bool readAt(int fd, uint64_t offset, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::optional<CentralDirectory> readCentralDirectory(int fd, uint64_t fileSize) {
  ByteReader read = fileReader(fd);
  std::optional<Declared> declared = readDeclared(read, fileSize);
  if (!declared) return std::nullopt;
  return readRecords(read, *declared);
}

std::optional<DirectoryExtent> locateCentralDirectory(const ArchiveTail& tail) {
  if (!tailIsSound(tail)) return std::nullopt;
  std::optional<Declared> declared = readDeclared(tailReader(tail), tail.fileSize);
  if (!declared) return std::nullopt;
  return DirectoryExtent{declared->offset, declared->size};
}

std::optional<CentralDirectory> parseCentralDirectory(const ArchiveTail& tail) {
  if (!tailIsSound(tail)) return std::nullopt;
  ByteReader read = tailReader(tail);
  std::optional<Declared> declared = readDeclared(read, tail.fileSize);
  // Only held bytes are parsed: nothing is allocated for a directory that is not there.
  if (!declared || declared->offset < tail.start) return std::nullopt;
  return readRecords(read, *declared);
}
