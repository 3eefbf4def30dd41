#pragma once
// The central directory of a zip archive (PKWARE application note), found through the end
// record and, when there is one, the zip64 end record. It is read whole and checked
// against what the end record declares before anything is extracted, so an archive whose
// directory was cut short or padded is refused rather than half extracted.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One central-directory record as stored. Sizes and the local header's offset come from
// the zip64 extra field (tag 0x0001) where the record holds 0xFFFFFFFF in their place.
struct ZipEntryRecord {
  std::string rawName;  // the name bytes exactly as stored (may hold any byte)
  uint32_t flags = 0;   // general-purpose bit flags
  uint32_t method = 0;  // compression method
  uint32_t externalAttributes = 0;
  uint32_t dosDateTime = 0;  // DOS date in the high half, DOS time in the low half
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  uint64_t localHeaderOffset = 0;
  uint32_t localMethod = 0;  // as the local header says (zip_layout.h)
  uint64_t dataOffset = 0;   // where the entry's data start (zip_layout.h)
  std::string localExtra;    // the local header's extra field (zip_layout.h)
};

struct CentralDirectory {
  uint64_t offset = 0;  // of the first record
  uint64_t size = 0;    // of all records together
  std::vector<ZipEntryRecord> entries;
};

// Reads the central directory of the archive open at `fd`, which is `fileSize` bytes
// long. Nothing when there is no end record, when the archive spans several disks, or
// when the directory is not whole: it must end where the (zip64) end record begins, its
// records must fill exactly the declared size, and their number must be the declared
// count (a count of 0xFFFF, or one that wrapped at 65536, stands for more records in an
// archive without a zip64 end record). Each record must be complete, with every zip64
// field it calls for.
std::optional<CentralDirectory> readCentralDirectory(int fd, uint64_t fileSize);

// The last bytes of an archive held in memory (fetched from a server): `bytes` are the
// archive's bytes from offset `start` to its end, `fileSize`.
struct ArchiveTail {
  std::string_view bytes;
  uint64_t start = 0;
  uint64_t fileSize = 0;
};

// Where the central directory of an archive lies.
struct DirectoryExtent {
  uint64_t offset = 0;
  uint64_t size = 0;
};

// Where the end records held in `tail` place the central directory, with the same checks as
// readCentralDirectory (one disk, a sound zip64 end record, a directory that ends where the
// end records begin). The directory itself need not be held yet. Nothing when the end records
// are not in the held bytes or are not sound.
std::optional<DirectoryExtent> locateCentralDirectory(const ArchiveTail& tail);
// The central directory of an archive from held bytes that include it, checked exactly as
// readCentralDirectory checks a file's. Nothing when a byte it needs is not held.
std::optional<CentralDirectory> parseCentralDirectory(const ArchiveTail& tail);

// Reads exactly `size` bytes at `offset`; false on an error or a short read. Safe to call
// from several threads on one descriptor.
bool readAt(int fd, uint64_t offset, char* buffer, size_t size);

// Little-endian fields.
uint16_t le16(const char* bytes);
uint32_t le32(const char* bytes);
uint64_t le64(const char* bytes);
