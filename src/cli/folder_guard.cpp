#include "folder_guard.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "exit_status.h"
#include "shell/program_folder.h"

namespace {

void say(std::string_view command, const std::string& text) {
  std::fprintf(stderr, "downloader-cli %.*s: %s\n", static_cast<int>(command.size()),
               command.data(), text.c_str());
}

}  // namespace

CommandFolderLock lockProgramFolder(std::string_view command, const std::string& programDir,
                                    int waitSeconds) {
  CommandFolderLock taken;
  FolderLockResult result = lockFolder(programDir, std::chrono::milliseconds(0));
  if (result.state == FolderLockState::Busy && waitSeconds > 0) {
    say(command, programFolderBusyText(result.holder) + ": " + programDir + "; waiting up to " +
                     std::to_string(waitSeconds) + " s");
    result = lockFolder(programDir, std::chrono::seconds(waitSeconds));
  }
  switch (result.state) {
    case FolderLockState::Taken:
      taken.lock = std::move(result.lock);
      return taken;
    case FolderLockState::Busy:
      taken.reason =
          programFolderBusyText(result.holder) + ": " + programDir +
          (waitSeconds > 0 ? "; gave up waiting" : " (--wait SECONDS waits for it to finish)");
      break;
    case FolderLockState::Unavailable:
      taken.reason =
          result.path + ": cannot lock the program folder: " + std::strerror(result.error);
      break;
  }
  say(command, taken.reason);
  taken.exitStatus = kExitLocalFile;
  return taken;
}

std::optional<FolderLock> lockProgramFolderIfFree(const std::string& programDir) {
  FolderLockResult result = lockFolder(programDir, std::chrono::milliseconds(0));
  if (result.state != FolderLockState::Taken) return std::nullopt;
  return std::move(result.lock);
}
