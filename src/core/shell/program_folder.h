#pragma once
// One writer per program folder: the window for its whole life, and every command that
// changes the folder (downloads, installs), take the folder's lock (platform/folder_lock.h)
// before they write anything there, and hold it until they end.
#include <sys/types.h>

#include <string>

#include "platform/folder_lock.h"

class Window;

// What a second writer is told: "另一个下载器(进程 PID)正在使用此目录", without the
// parenthesis when the holder is not known (0).
std::string programFolderBusyText(pid_t holder);

// The window's start (window thread, after the main window is shown and before anything is
// written): takes the lock of `programDir` into `lock`, kept for the window's life, and then
// recovers the installs that an interrupted run left unfinished (recoverUnderLock). False
// when the window must close at once, having changed nothing: another program holds the
// folder (the message box names it), or something that is not a lock file sits in the lock
// file's place (the message box names the path and the system's reason). A folder in which
// this user may create nothing opens unlocked: such a window cannot write there anyway.
bool claimProgramFolder(Window& window, const std::string& programDir, FolderLock& lock);

// Runs first under the program folder's lock: every install or rollback that an interrupted
// run left unfinished in a root is completed or undone (transaction/recovery.h), and each root
// that was put back is told in a message box ("ROOT/ 已恢复到安装前的状态", or why it could not
// be).
void recoverUnderLock(Window& window, const std::string& programDir);
