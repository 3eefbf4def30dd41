#pragma once
// Exclusive use of one regular file between processes: an advisory lock (flock) on the file
// itself, taken without waiting. The kernel drops the lock when the holder closes the file or
// dies, so nothing is left behind and no lock file is needed beside the file.
//
// A claim never follows a symbolic link and never opens anything but a regular file. It holds
// the file that is at the path when it returns: a file renamed or removed by its previous
// holder between the open and the lock is noticed (its inode is no longer the path's) and
// the claim is tried again.
#include <sys/types.h>

#include <optional>
#include <string>

#include "platform/unique_fd.h"

enum class ClaimProblem {
  None,        // claimed: fd holds the lock
  Missing,     // no file at the path (and none was to be created)
  NotRegular,  // a symbolic link, a folder, a device, a pipe or a socket
  Linked,      // (with soleName) a regular file with other names: writing it changes them too
  Busy,        // another open file holds the lock (holder: its process, when known)
  System,      // a system call failed (error)
};

struct FileClaim {
  UniqueFd fd;  // open read/write, locked; empty unless problem is None
  ClaimProblem problem = ClaimProblem::System;
  int error = 0;         // errno for System
  pid_t holder = 0;      // for Busy: the holding process, 0 when unknown
  bool created = false;  // the claim made the file (it is empty)
};

enum class ClaimMode {
  Existing,        // open the file at the path; Missing when there is none
  CreateIfMissing  // create it (mode 0644) when there is none, else open it
};

// Claims the file at `path`. With `soleName`, a file that has other names (hard links) is
// refused. Every refusal leaves the file as it was.
FileClaim claimFile(const std::string& path, ClaimMode mode, bool soleName = false);

// The process that holds a flock on the file at `path` (not following a link), read from
// /proc/locks without taking any lock; nothing when there is no such lock or it cannot be told.
std::optional<pid_t> lockHolderOf(const std::string& path);
