#pragma once
// The file-system steps a transaction is made of. Each reports failure through errno (or
// returns it), never by exception.
#include <sys/stat.h>

#include <deque>
#include <string>

#include "platform/unique_fd.h"

// "a/b/c" -> "a/b/"; "c" -> "".
std::string folderOf(const std::string& path);
// "a/b/c" -> "c".
std::string nameOf(const std::string& path);

// The temporary file beside `destination` that transaction `id` writes before renaming it
// over the destination: ".~NAME.ID" in the same folder. Its name is fixed by the id, so an
// interrupted transaction's temporary files are found again and removed.
std::string temporaryPathFor(const std::string& destination, const std::string& id);

// Flushes a folder's entries to disk (fsync on the folder); false (errno set) on failure.
bool syncFolder(const std::string& folder);

// Creates `path` and every missing folder above it, never through a symbolic link (a link in
// its place is an error). False with errno set.
bool makeOwnFolders(const std::string& path);

// Keeps what lies at `file` (a regular file or a symbolic link) at `backup`, whose folder
// exists: a hard link when the two are on one file system and the system allows it (no byte is
// copied), a copy otherwise. A copy is written beside the backup as a temporary file named for
// `id`, flushed, and renamed into place, so a backup that exists is always whole. 0, or the
// errno of the failed step.
int keepBackup(const std::string& file, const std::string& backup, const std::string& id);

// Puts a copy of what lies at `from` (a regular file, with its permission bits and times, or a
// symbolic link) at `to`: written to a temporary file beside `to` named for `id`, flushed, and
// renamed over whatever is at `to`. 0, or the errno of the failed step.
int copyOver(const std::string& from, const std::string& to, const std::string& id);

// Creates the file `path` (which must not exist; never through a link) with `bytes`, flushed.
// 0, or the errno of the failed step.
int writeNewFileFlushed(const std::string& path, const std::string& bytes);

// Copies the rest of `in` to `out`; 0, or the errno of the failed step (EIO for a source that
// ends early is not reported: the copy ends where the source does).
int copyContent(int in, int out);

// Removes a file or symbolic link; true when it is gone (also when nothing was there).
bool removeIfPresent(const std::string& path);

// Flushes written files to disk with few waits: each file handed in has its write-back
// started at once, and is flushed (fsync) and closed when more than a few files wait, or at
// drain(). One thread at a time.
class FlushWindow {
 public:
  // Starts the file's write-back and keeps it; false (errno set) when flushing an older file
  // failed.
  bool add(UniqueFd file);
  // Flushes and closes every file still kept; false (errno set) when one failed.
  bool drain();

 private:
  bool flushOldest();

  std::deque<UniqueFd> files_;
};
