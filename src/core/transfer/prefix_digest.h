#pragma once
// The digests of a transfer's bytes, computed while they are written: a running hash over the
// part of the file that is written without a gap from byte 0. Whichever worker writes the
// next bytes of that prefix hashes them from its own buffer; bytes that other workers wrote
// further on are read back from the partial file once the prefix reaches them. So on the
// common path no byte is read twice and no pass over the whole file follows the download.
//
// Threads: advance() is called by workers, concurrently; one of them hashes at a time and the
// others return at once (the one hashing picks up what they wrote). finish() is called by the
// controller once every worker has ended. Bytes that stop counting as written (a new layout, a
// fall-back to one connection) start the hash afresh (SegmentTable::writtenPrefix).
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "transfer/expected_content.h"

class OutputFile;
class SegmentTable;

class PrefixDigest {
 public:
  // `sha256`: whether the digests include the SHA-256 (ContentHasher).
  PrefixDigest(const SegmentTable& table, const OutputFile& file, bool sha256);
  PrefixDigest(const PrefixDigest&) = delete;
  PrefixDigest& operator=(const PrefixDigest&) = delete;

  // A worker wrote `length` bytes at `position` (still held in `data`) and committed them.
  void advance(int64_t position, const uint8_t* data, size_t length);
  // The digests of the first `total` bytes, once they are all written and read; none when
  // they are not (or the partial file could not be read back, `readError` then holds errno).
  // Every worker has ended. The digest starts afresh afterwards.
  std::optional<ContentDigests> finish(int64_t total, int* readError = nullptr);

 private:
  // Hashes the written prefix as far as it reaches; `data` (may be null) holds the bytes at
  // `position`. Only the one marked busy calls it.
  void catchUp(int64_t position, const uint8_t* data, size_t length);
  bool hashRange(int64_t from, int64_t to, int64_t position, const uint8_t* data, size_t length);
  void acquire();
  // False (still busy) when another worker asked meanwhile: the caller catches up again.
  bool release();

  const SegmentTable& table_;
  const OutputFile& file_;

  std::mutex mutex_;
  std::condition_variable idle_;
  bool busy_ = false;
  bool again_ = false;

  // Used only by the one that is busy.
  ContentHasher hasher_;
  int64_t hashed_ = 0;
  uint64_t rewinds_ = 0;
  bool fresh_ = true;  // nothing hashed since the hasher started
  int readError_ = 0;
  std::unique_ptr<uint8_t[]> scratch_;
};
