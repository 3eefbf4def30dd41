#include "shell/program_folder.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "shell/window.h"
#include "transaction/recovery.h"

std::string programFolderBusyText(pid_t holder) {
  if (holder <= 0) return "另一个下载器正在使用此目录";
  return "另一个下载器(进程 " + std::to_string(holder) + ")正在使用此目录";
}

void recoverUnderLock(Window& window, const std::string& programDir) {
  std::string folder = programDir;
  if (folder.empty() || folder.back() != '/') folder += '/';
  for (const RecoveryReport& report : recoverInterruptedTransactions(folder)) {
    const std::string text = describeRecovery(report);
    if (!text.empty()) window.messageBox(text, BoxOwner::MainWindow);
  }
}

bool claimProgramFolder(Window& window, const std::string& programDir, FolderLock& lock) {
  FolderLockResult result = lockFolder(programDir, std::chrono::milliseconds(0));
  switch (result.state) {
    case FolderLockState::Taken:
      lock = std::move(result.lock);
      recoverUnderLock(window, programDir);
      return true;
    case FolderLockState::Busy:
      window.messageBox(programFolderBusyText(result.holder), BoxOwner::MainWindow);
      return false;
    case FolderLockState::Unavailable:
      break;
  }
  if (result.error == EACCES || result.error == EROFS) return true;
  window.messageBox("无法锁定此目录: " + result.path + ": " + std::strerror(result.error),
                    BoxOwner::MainWindow);
  return false;
}
