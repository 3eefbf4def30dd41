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
enum class DestinationKind { Missing, Regular, Link, Other };

struct Destination {
  DestinationKind kind = DestinationKind::Missing;
  std::string path;      // the path examined
  struct stat state {};  // valid for Regular
  int error = 0;         // for Other: the errno when the path could not be examined
};

// Looks at `path` itself, never following a symbolic link there: Missing when nothing is
// there; Regular for a regular file; Link for a symbolic link that does not lead to a
// directory (to a file, to nothing, to a FIFO...), which a replacement replaces as a link,
// leaving what it leads to unopened and unchanged; Other for anything else (a directory or
// a link to one, a FIFO, socket, device, or a path that cannot be examined). Folders
// above the last component are followed as the path names them.
Destination examineDestination(const std::string& path);

// A temporary file beside a destination. Not copyable; removes the temporary file when it
// goes unless commit() renamed it. One thread at a time.
class ReplacementFile {
 public:
  ReplacementFile() = default;
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;

  // Creates the temporary file (a new, unique name, opened with O_EXCL and O_NOFOLLOW) in
  // the folder of `destination.path`. When the destination is Regular, the file gets its
  // owner (where permitted) and permission bits; otherwise `newFileMode` less the umask.
  // False (errno set) when it cannot be created.
  bool create(const Destination& destination, mode_t newFileMode = 0666);
  // The temporary file, open for writing.
  int fd() const { return fd_.get(); }
  // Closes the temporary file and renames it over the destination (a link there is
  // replaced itself). False (errno set; temporary file removed, destination untouched)
  // when either step fails.
  bool commit();

 private:
  UniqueFd fd_;
  std::string temporary_;
  std::string destination_;
};

// Replaces what lies at `path` (a regular file, a link that does not lead to a folder, or
// nothing) with `bytes` through a ReplacementFile. False when the destination is of another
// kind, or (errno set) when a step fails.
bool replaceFileContents(const std::string& path, const std::string& bytes);

// The content of the regular file at `path`, read through a descriptor opened without
// blocking (a FIFO swapped in meanwhile gives nothing instead of a hang); empty when it is
// missing, unreadable or not a regular file. A link at `path` is followed: this only reads.
// `permissions`, when given, receives the permission bits of the file that was read (0
// when nothing was).
std::string readRegularFile(const std::string& path, mode_t* permissions = nullptr);

// Writes all of `size` bytes; false (errno set) on an error.
bool writeAll(int fd, const char* data, size_t size);
