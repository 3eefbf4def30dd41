#pragma once
// Decodes one entry's data into a file. The compressed data are read with positioned
// reads, so decoders on several threads can share one archive descriptor. A decoder keeps
// its inflate state and buffers from entry to entry; use one per thread.
#include <zlib.h>

#include <vector>

#include "zip/zip_directory.h"

class EntryDecoder {
 public:
  EntryDecoder();
  ~EntryDecoder();
  EntryDecoder(const EntryDecoder&) = delete;
  EntryDecoder& operator=(const EntryDecoder&) = delete;

  // Whether the entry's data can be decoded at all: not encrypted, stored or deflated.
  static bool canDecode(const ZipEntryRecord& entry);

  // Writes the decoded data of `entry` (located: dataOffset known) to `out`. True when all
  // of it was written and its length and CRC-32 match the record. Never writes more than
  // the recorded size: data that decode to more fail. False without writing anything when
  // the entry cannot be decoded (canDecode) or the local header names another method.
  bool decode(int archiveFd, const ZipEntryRecord& entry, int out);

  // Decodes the entry's data without writing them: true when their length and CRC-32 match
  // the record (the same checks as decode).
  bool verify(int archiveFd, const ZipEntryRecord& entry);

  // Bytes read from the archive at a time.
  static constexpr size_t kInputBlock = 65536;

 private:
  bool copyStored(int archiveFd, const ZipEntryRecord& entry, int out, uLong& crc);
  bool inflateData(int archiveFd, const ZipEntryRecord& entry, int out, uLong& crc);

  z_stream stream_{};
  bool streamReady_ = false;
  std::vector<char> input_;
  std::vector<char> output_;
};
