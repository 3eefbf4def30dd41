#pragma once
// The four package download jobs: a click starts a transfer of the package's archive into
// the program directory; the progress line shows status, progress and speed; the end of the
// transfer re-hashes the archives and runs the update check.
//
// Threads: startPackageDownload and everything that touches controls or globals run on the
// window thread. The transfer's status events arrive in onTaskEvent on the engine's controller
// thread, which posts their effect to the window thread in order; the same-name question
// (code 18) is answered 0 (rename automatically) at once on the worker thread.
#include <cstdint>
#include <thread>

#include "transfer/task_status.h"

class Worker;
struct TransferTask;

struct DownloadRow {
  const char* button;
  const char* section;  // manifest section of the package
  const char* emptyUrlMessage;
  const char* archive;
  const char* statusText;
};

const DownloadRow& serverDownloadRow();
const DownloadRow& pluginDownloadRow();
const DownloadRow& antiCheatDownloadRow();
const DownloadRow& toolsDownloadRow();

// Text of the message shown when the engine refuses to start a transfer.
inline constexpr const char kDownloadCannotStart[] = "下载无法开始";

void startPackageDownload(const DownloadRow& row);
void showDownloadStatus(const char* text);
// The starter thread's routine: fills the shared task parameters and starts the transfer.
void runDownloadTask();
int32_t onTaskEvent(TaskStatus code, Worker* worker, int32_t a, int32_t b, TransferTask* task);

// Waits for the starter thread of the last job, if any. Window thread, or shutdown.
void joinDownloadStarter();
