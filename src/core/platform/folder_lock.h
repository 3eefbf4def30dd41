#pragma once
// One writer per folder: an advisory lock (flock) on a lock file in the folder.
//
// The kernel releases the lock when the holder's descriptor is closed, also when its process
// dies, so a crash never leaves the folder locked. The holder writes its process id into the
// file so that a process that finds the folder taken can name it. The lock file stays when
// the lock is released (emptied): removing it would let a waiter lock a file that no longer
// has the name while a newcomer locks a new one.
//
// The lock belongs to the open file, not to the process: two FolderLocks on one folder
// exclude each other even in one process. Children started with exec do not inherit it.
// A FolderLock is used by one thread at a time.
#include <sys/types.h>

#include <chrono>
#include <string>

#include "platform/unique_fd.h"

struct FolderLockResult;

// The lock file's name in the locked folder.
inline constexpr char kFolderLockFileName[] = "下载器.lock";

// Holds the lock of one folder until destroyed or released; move-only.
class FolderLock {
 public:
  FolderLock() = default;
  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() { release(); }

  bool held() const { return static_cast<bool>(fd_); }
  // Empties the lock file (its process id is no longer true) and lets go; does nothing when
  // nothing is held.
  void release();

 private:
  friend FolderLockResult lockFolder(const std::string& folder, std::chrono::milliseconds wait);
  FolderLock(UniqueFd fd, bool writable) : fd_(std::move(fd)), writable_(writable) {}

  UniqueFd fd_;
  bool writable_ = false;  // the holder's id was written, and is emptied on release
};

enum class FolderLockState {
  Taken,        // `lock` holds the folder
  Busy,         // another holder kept it for the whole wait
  Unavailable,  // the lock file cannot be opened or locked (`error` says why)
};

struct FolderLockResult {
  FolderLockState state = FolderLockState::Unavailable;
  FolderLock lock;   // held when Taken
  pid_t holder = 0;  // Busy: the holder's process id as it wrote it; 0 when it is not known
  int error = 0;     // Unavailable: the errno of the failed step
  std::string path;  // the lock file
};

// Takes the lock of `folder` (with or without a trailing "/"), trying again until `wait` has
// passed while another holds it. The lock file is created (0644) when missing and opened
// without following a link; anything but a regular file in its place is Unavailable
// (ELOOP, EISDIR or EINVAL). A lock file this process may read but not write still locks;
// the holder's id is then not written.
FolderLockResult lockFolder(const std::string& folder, std::chrono::milliseconds wait);
