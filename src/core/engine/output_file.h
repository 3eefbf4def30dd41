#pragma once
// The memory-mapped output file of a transfer.
//
// Writes are memory copies into a shared mapping of the whole file. Any worker may write
// while another closes the view: a write after close() is refused (false), never a fault.
// A file of size 0 is created empty and has no mapping; it counts as open until closed.
#include <cstddef>
#include <cstdint>
#include <shared_mutex>
#include <string>

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the file new (failing when it exists) at exactly `size` bytes and maps it.
  // False when the file exists, cannot be created or sized, or the size does not fit.
  bool create(const std::string& path, int64_t size);
  // Opens an existing file and maps `size` bytes of it (resuming).
  bool openExisting(const std::string& path, int64_t size);
  // Copies `length` bytes to `position`; false when the view is closed or the range falls
  // outside the file.
  bool write(int64_t position, const uint8_t* data, size_t length);
  // Unmaps the view; later writes are refused.
  void close();

  bool isOpen() const;
  // True once a view was opened, also after it was closed.
  bool wasOpened() const;

 private:
  bool mapDescriptor(int fd, int64_t size);

  mutable std::shared_mutex mutex_;
  uint8_t* view_ = nullptr;
  size_t size_ = 0;
  bool open_ = false;
  bool opened_ = false;
};
