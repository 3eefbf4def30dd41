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
//
// The partial file is claimed (platform/file_claim.h) while this object has it open: an
// advisory lock held from before the file is created or reused until close(), so two
// downloads into one target never share a partial file. The file is never opened through a
// symbolic link, and only a regular file is written. The controller renames the finished file
// to its target before it closes it, so the claim covers the rename.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <string>

#include "platform/file_claim.h"
#include "platform/file_identity.h"
#include "platform/unique_fd.h"

// The partial file of a target: its path with ".part" appended.
std::string partialPathOf(const std::string& target);
// The control file of a target's partial file (the state a stopped transfer resumes from):
// the partial file's path with ".state" appended.
std::string controlPathOf(const std::string& target);

// Why the output file could not be had.
struct OutputFileError {
  ClaimProblem problem = ClaimProblem::None;  // System: errno in `error`
  int error = 0;
  pid_t holder = 0;  // Busy: the process writing it, 0 when unknown
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Makes a new file at `path` of exactly `size` bytes. A regular file already there (the
  // partial file of an earlier attempt) is claimed and replaced; `describedBy` (the control
  // file that describes it, may be empty) is removed first, while the claim is held, so that
  // it never comes to describe the new file. False when the path is taken by another
  // download, is a link or no regular file, the file cannot be created, the disk has no room
  // for it, or the size does not fit 31 bits; `why` (when given) then says which.
  bool create(const std::string& path, int64_t size, const std::string& describedBy = {},
              OutputFileError* why = nullptr);
  // Claims the existing file at `path` (resuming): a regular file with no other name that
  // holds at least `size` bytes, which no other download has.
  bool openExisting(const std::string& path, int64_t size, OutputFileError* why = nullptr);
  // Stores `length` bytes at `position`; false when the file is closed, the range falls
  // outside the file or the write fails, with the reason in `error` (when given).
  bool write(int64_t position, const uint8_t* data, size_t length, int* error = nullptr);
  // Reads `length` bytes at `position` back (bytes written before); false when the file is
  // closed, the range falls outside it or the read fails, with the reason in `error`.
  bool read(int64_t position, uint8_t* data, size_t length, int* error = nullptr) const;
  // The identity of the open file (platform/file_identity.h); none when it is closed.
  std::optional<FileIdentity> identity() const;
  // Closes the file and lets go of its claim; later writes are refused.
  void close();
  // Closes the file as if it had never been opened (the task starts over with a new one).
  void discard();

  bool isOpen() const;
  // True once the file was opened, also after it was closed.
  bool wasOpened() const;

 private:
  static bool reserve(int fd, int64_t size);
  static bool refuse(OutputFileError* why, ClaimProblem problem, int error, pid_t holder = 0);
  bool adopt(UniqueFd fd, int64_t size);

  mutable std::shared_mutex mutex_;
  UniqueFd fd_;
  int64_t size_ = 0;
  bool open_ = false;
  bool opened_ = false;
};
