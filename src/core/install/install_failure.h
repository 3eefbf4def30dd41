#pragma once
// Why placing a package into a server root failed. The window's message and the command
// line both show it, so it is a value, never parsed from a text.
#include <optional>
#include <string>

enum class InstallProblem {
  NoSpace,         // the root's file system lacks room for the package's files (path: the root)
  ReadOnly,        // the destination has no write permission bit at all, so it is left alone
                   // even where the folder would let it be replaced (root included)
  NotAFile,        // the destination (or the source) is a folder, FIFO, socket or device
  NotText,         // the plugin list is no text of the system's code page
  SystemError,     // a system call failed with `error`
  Stopped,         // the install was stopped (a quit, SIGINT or SIGTERM) and the root put back
                   // (path: the root)
  Cancelled,       // the caller declined before the first change (path: the root)
  ArchiveDiffers,  // the archive does not hold the files last installed (path: the archive)
  Unfinished,      // an interrupted install in this root could not be undone yet (path: its
                   // journal in the program folder)
};

struct InstallFailure {
  InstallProblem problem = InstallProblem::SystemError;
  std::string path;  // the file that failed (the root for NoSpace)
  int error = 0;     // errno, for SystemError
};

// "PATH: REASON": the system's message for an errno (NoSpace gives that of ENOSPC), or the
// system's own words for the rest ("只读文件" for ReadOnly).
std::string describeInstallFailure(const InstallFailure& failure);

// The outcome of one step of an install: done, or the failure that stopped it. Converts to
// true when done.
struct InstallResult {
  std::optional<InstallFailure> failure;
  explicit operator bool() const { return !failure.has_value(); }
};

// A failed step: `problem` at `path`, with `error` for a SystemError.
InstallResult installFailed(InstallProblem problem, std::string path, int error = 0);
