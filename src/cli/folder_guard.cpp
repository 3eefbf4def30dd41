#include "folder_guard.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "exit_status.h"
#include "shell/program_folder.h"
#include "transaction/recovery.h"

namespace {

void say(std::string_view command, const std::string& text) {
  std::fprintf(stderr, "downloader-cli %.*s: %s\n", static_cast<int>(command.size()),
               command.data(), text.c_str());
}

// What an interrupted install left is put right before the command does anything else.
void recoverInterruptedInstalls(std::string_view command, std::string programDir) {
  if (programDir.empty() || programDir.back() != '/') programDir += '/';
  for (const RecoveryReport& report : recoverInterruptedTransactions(programDir)) {
    const std::string text = describeRecovery(report);
    if (!text.empty()) say(command, text);
  }
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
      recoverInterruptedInstalls(command, programDir);
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
