#pragma once
// The step every command that changes the program folder takes first: the folder's lock,
// held until the command ends, or a refusal that says why on standard error. Once the lock is
// taken, installs that an interrupted run left unfinished are completed or undone, each root
// put back being named on standard error.
#include <optional>
#include <string>
#include <string_view>

#include "platform/folder_lock.h"

struct CommandFolderLock {
  FolderLock lock;     // held when exitStatus is 0
  int exitStatus = 0;  // kExitLocalFile when refused
  std::string reason;  // when refused: what standard error was told, without the command
};

// Takes the lock of `programDir` for the command `command`. While another program holds it,
// waits up to `waitSeconds` (saying so on standard error), then refuses naming the holder's
// process id. A lock file that cannot be opened or locked is refused with the system's reason.
CommandFolderLock lockProgramFolder(std::string_view command, const std::string& programDir,
                                    int waitSeconds);

// For a command that only reads but may record something small (check's accepted Serial):
// the lock of `programDir` when it can be had at once, else nothing. Tells nothing: a folder
// held by another program is simply left to it.
std::optional<FolderLock> lockProgramFolderIfFree(const std::string& programDir);
