#pragma once
// The output file of a transfer.
//
// The bytes go to a partial file beside the target (partialPathOf), which is renamed over
// the target only once every byte is written: nothing under the target's name is ever
// incomplete. A stopped or failed transfer leaves its partial file.
//
// The file is created at its full size, its blocks allocated up front, and kept open;
// workers store received data with positional writes into the page cache. (A shared memory mapping
// written with memcpy was measured here to cost two to five times the CPU of positional writes once
// the page cache has been recycled: every fresh page of a mapping is faulted in and zero-filled
// before it is copied into.) Any worker may write while another closes the file: a write after
// close() is refused (false), never a fault. A file of size 0 is created empty.
#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <string>

#include "platform/unique_fd.h"

// The partial file of a target: its path with ".part" appended.
std::string partialPathOf(const std::string& target);
// The control file of a target's partial file (the state a stopped transfer resumes from):
// the partial file's path with ".state" appended.
std::string controlPathOf(const std::string& target);

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the file new (failing when it exists) at exactly `size` bytes. False when the
  // file exists, cannot be created, the disk has no room for it, or the size does not fit
  // 31 bits; `error` (when given) then holds the reason as an errno value.
  bool create(const std::string& path, int64_t size, int* error = nullptr);
  // Opens an existing file of at least `size` bytes (resuming).
  bool openExisting(const std::string& path, int64_t size, int* error = nullptr);
  // Stores `length` bytes at `position`; false when the file is closed, the range falls
  // outside the file or the write fails, with the reason in `error` (when given).
  bool write(int64_t position, const uint8_t* data, size_t length, int* error = nullptr);
  // Closes the file; later writes are refused.
  void close();

  bool isOpen() const;
  // True once the file was opened, also after it was closed.
  bool wasOpened() const;

 private:
  static bool reserve(int fd, int64_t size);
  bool adopt(UniqueFd fd, int64_t size);

  mutable std::shared_mutex mutex_;
  UniqueFd fd_;
  int64_t size_ = 0;
  bool open_ = false;
  bool opened_ = false;
};
