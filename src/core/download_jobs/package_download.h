#pragma once
// The four package download jobs: a click starts a transfer of the package's archive into
// the program directory; the progress line shows status, progress and speed; the end of the
// transfer re-hashes the archives and runs the update check.
//
// Threads: startPackageDownload and everything that touches controls or the state run on
// the window thread. The window thread fills the task parameters; a short starter thread
// only hands a copy of them to Download::start. The transfer's status events arrive on the
// engine's controller thread, which posts their effect to the window thread in order; the
// same-name question (code 18) is answered 2 (replace the old archive once the new one is
// complete) at once on the worker thread.
//
// The archive replaces the old one only when its MD5 equals the manifest's: the engine hashes
// the bytes while they are written and checks them before the rename. Bytes that do not match
// are discarded, the old archive stays, and the status line says "ARCHIVE MD5与远程配置不符".
#include <cstdint>

#include "shell/packages.h"

struct Globals;

// Text of the message shown when the engine refuses to start a transfer.
inline constexpr const char kDownloadCannotStart[] = "下载无法开始";
// A package's 下载 button reads kStopButtonText while its download runs.
inline constexpr const char kDownloadButtonText[] = "下载";
inline constexpr const char kStopButtonText[] = "停止";

// The click on a package's 下载 button: starts its download; while that download runs, stops
// it. A click on another package's button while one runs does nothing.
void startPackageDownload(Globals& g, const PackageInfo& package);
// Stops the running download without waiting on the window thread; its final event ends
// the job.
void stopPackageDownload(Globals& g);
// Shows the progress line with `text` as its status.
void showDownloadStatus(Globals& g, const char* text);
// Waits for the starter thread of the last job, if any. Window thread, or shutdown.
void joinDownloadStarter(Globals& g);
