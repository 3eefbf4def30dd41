#pragma once
// A zip archive opened through minizip, walked in central-directory order. One entry is
// current at a time; its data is read after openEntry. Not copyable; closes the archive
// (and an entry left open) when it goes.
#include <cstdint>
#include <string>

// One central-directory record as stored.
struct ZipEntryRecord {
  std::string rawName;  // the name bytes exactly as stored (may hold any byte)
  uint32_t flags = 0;   // general-purpose bit flags
  uint32_t method = 0;  // compression method
  uint32_t externalAttributes = 0;
  uint32_t dosDateTime = 0;  // DOS date in the high half, DOS time in the low half
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
};

class ZipReader {
 public:
  ZipReader() = default;
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Opens the archive (end-of-central-directory record found and read); false otherwise.
  bool open(const std::string& path);
  // Entries the end-of-central-directory record declares.
  uint64_t declaredEntries() const { return declared_; }

  // Moving to an entry: Entry when its record was read into current(); End after the
  // last declared entry; Damaged when a record cannot be read.
  enum class Step { Entry, End, Damaged };
  Step first();
  Step next();
  const ZipEntryRecord& current() const { return current_; }

  // Opens the current entry's data (stored or deflated, not encrypted) and gives its local
  // extra field; false when the entry cannot be read.
  bool openEntry(std::string& localExtra);
  // Reads up to `size` bytes of decoded data: the count, 0 at the end, negative on error.
  int read(char* buffer, unsigned size);
  // Closes the entry; false when minizip found the data's CRC-32 wrong.
  bool closeEntry();

 private:
  Step readCurrent(int moveResult);

  void* handle_ = nullptr;
  bool entryOpen_ = false;
  uint64_t declared_ = 0;
  uint64_t position_ = 0;
  ZipEntryRecord current_;
};
