#pragma once
// Replacing a file that other programs may hold open or mapped (a live server's files, its
// plugin list). The new content is written to a temporary file in the destination's folder
// and renamed over the destination only when complete, so a program that maps the old file
// keeps reading the old contents, and a failure leaves the old file exactly as it was.
//
// The data are not flushed to disk (no fsync): the replacement is atomic for running
// programs, not a durability guarantee across a power failure.
#include <sys/stat.h>

#include <string>

#include "platform/unique_fd.h"

// What lies at a destination path, found without opening it (so a FIFO never blocks).
enum class DestinationKind { Missing, Regular, Other };

struct Destination {
  DestinationKind kind = DestinationKind::Missing;
  // The path to replace: the given one, or for a symbolic link the file it leads to (the
  // file is replaced, as writing through the link did; the link stays).
  std::string path;
  struct stat state {};  // valid for Regular
};

// Looks at `path`: Missing when nothing is there; Regular for a regular file or a link to
// one; Other for anything else (a directory, FIFO, socket, device, a dangling link or a
// path that cannot be examined).
Destination examineDestination(const std::string& path);

// A temporary file beside a destination. Not copyable; removes the temporary file when it
// goes unless commit() renamed it. One thread at a time.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the temporary file (a new, unique name, opened with O_EXCL) in the folder of
  // `destination.path`. When the destination is Regular, the file gets its owner (where
  // permitted) and permission bits; otherwise the usual 0666 less the umask. False when it
  // cannot be created.
  bool create(const Destination& destination);
  // The temporary file, open for writing.
  int fd() const { return fd_.get(); }
  // Closes the temporary file and renames it over the destination. False (temporary file
  // removed, destination untouched) when either step fails.
  bool commit();

 private:
  UniqueFd fd_;
  std::string temporary_;
  std::string destination_;
};

// Replaces the regular or missing file at `path` with `bytes` through a ReplacementFile.
// False when the destination is of another kind or any step fails.
bool replaceFileContents(const std::string& path, const std::string& bytes);

// The content of the regular file at `path`, read through a descriptor opened without
// blocking (a FIFO swapped in meanwhile gives nothing instead of a hang); empty when it is
// missing, unreadable or not a regular file.
std::string readRegularFile(const std::string& path);

// Writes all of `size` bytes; false on an error.
bool writeAll(int fd, const char* data, size_t size);
