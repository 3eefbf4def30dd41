#pragma once
// Whether a file system has room for files about to be written, with a reserve left over
// for the programs that keep writing to it (a live server's data and logs).
#include <cstdint>
#include <string>

// What a set of files needs: their data, and how many files and folders there are.
struct SpaceNeed {
  uint64_t bytes = 0;
  uint64_t files = 0;
  // Adds one file of `size` bytes (a folder is a file of 0 bytes). Saturates, never wraps.
  void add(uint64_t size);
};

// True when the file system holding `path` (an existing file or folder) can take `need`:
// the bytes, plus one block per file for partial blocks and folder entries, plus a
// reserve of 2% of the file system's size (at most 64 MiB) must fit in the space available
// to this user; and the free inodes, where the file system counts them, must cover the
// files. Also true when the file system cannot be examined, leaving the writes to fail.
bool hasRoomFor(const std::string& path, const SpaceNeed& need);
