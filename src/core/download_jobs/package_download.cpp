#include "download_jobs/package_download.h"

#include <chrono>
#include <string>
#include <vector>

#include "download/download.h"
#include "download/speed_text.h"
#include "platform/files.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/window.h"
#include "update/update_check.h"

namespace {

const DownloadRow kRows[] = {
    {control::按钮_下载三端, "三端", "三端下载地址为空", "三端.zip", "正在下载三端文件:"},
    {control::按钮_下载功能, "功能", "功能下载地址为空", "功能.zip", "正在下载功能文件:"},
    {control::按钮_下载反挂, "反挂", "反挂下载地址为空", "反挂.zip", "正在下载反挂文件:"},
    {control::按钮_下载工具, "其他", "工具下载地址为空", "工具.zip", "正在下载工具文件:"},
};

PackageEntry& packageOf(const DownloadRow& row) {
  Globals& g = *globals;
  if (&row == &kRows[0]) return *g.serverPackage;
  if (&row == &kRows[1]) return *g.pluginPackage;
  if (&row == &kRows[2]) return *g.antiCheatPackage;
  return *g.toolsPackage;
}

// Sizes of the running task, read on the controller thread while the task is alive.
struct Progress {
  int32_t total = 0;
  int32_t done = 0;
};

Progress readProgress() {
  if (globals == nullptr) return {};
  DownloadProgress now = globals->downloadObject->progress();
  return {static_cast<int32_t>(now.total), static_cast<int32_t>(now.received)};
}

// Window thread: the effect of one data event.
void showProgress(Progress progress) {
  Globals& g = *globals;
  g.doneBytes = progress.done;
  uint64_t now = currentTick();
  if (atLeast(static_cast<double>(now) - static_cast<double>(g.lastSpeedTick), 1000.0)) {
    int32_t received = g.downloadObject->takeReceivedBytes();
    std::string text = speedText(static_cast<double>(received));
    g.lastSpeedTick = currentTick();
    g.window->setText(control::标签_每秒速度, text);
  }
  g.totalBytes = progress.total;
  int position = 0;
  if (g.totalBytes != 0) {
    position = static_cast<int>(static_cast<double>(g.doneBytes) / g.totalBytes * 100.0);
  }
  g.window->setProgress(control::进度条1, position);
}

// Window thread: the end of the transfer, whatever its outcome.
void finishDownload() {
  Globals& g = *globals;
  // The controller releases the task right after its final event; wait for that so a new
  // download can start as soon as this returns.
  g.downloadObject->waitUntilIdle(std::chrono::seconds(5));
  joinDownloadStarter();
  g.downloadBusy = 0;
  computeLocalDigests();
  checkForUpdates();
  resetProgressDisplay();
}

// Window thread: the engine refused the task, so no event will ever end this job.
void abandonDownload() {
  joinDownloadStarter();
  globals->downloadBusy = 0;
  resetProgressDisplay();
  globals->window->messageBox(kDownloadCannotStart, BoxOwner::MainWindow);
}

}  // namespace

const DownloadRow& serverDownloadRow() {
  return kRows[0];
}
const DownloadRow& pluginDownloadRow() {
  return kRows[1];
}
const DownloadRow& antiCheatDownloadRow() {
  return kRows[2];
}
const DownloadRow& toolsDownloadRow() {
  return kRows[3];
}

void joinDownloadStarter() {
  if (globals != nullptr && globals->downloadStarter.joinable()) globals->downloadStarter.join();
}

void startPackageDownload(const DownloadRow& row) {
  Globals& g = *globals;
  if (g.downloadBusy != 0) return;
  g.downloadBusy = 1;
  const PackageEntry& package = packageOf(row);
  if (package.url.empty()) {
    g.window->messageBox(row.emptyUrlMessage, BoxOwner::MainWindow);
    g.downloadBusy = 0;
    return;
  }
  g.downloadTargetPath = g.programDir + row.archive;
  deleteFile(g.downloadTargetPath);  // a file that stays is met by the same-name question
  g.downloadUrl = package.url;
  joinDownloadStarter();
  g.downloadStarter = std::thread(runDownloadTask);
  showDownloadStatus(row.statusText);
}

void showDownloadStatus(const char* text) {
  Window& window = *globals->window;
  window.setText(control::标签_提示内容, text);
  window.setVisible(control::标签_提示内容, true);
  window.setVisible(control::标签_每秒速度, true);
  window.setVisible(control::进度条1, true);
  window.setProgress(control::进度条1, 0);
}

void runDownloadTask() {
  Globals& g = *globals;
  TaskParam& p = *g.taskParams;
  p.flags = kDirectionDownload;
  p.referer = std::string();
  p.connectionCount = g.processorCount;
  p.localPath = g.downloadTargetPath;
  p.url = g.downloadUrl;
  p.connectTimeout = p.sendTimeout = p.receiveTimeout = 5000;
  p.speedLimit = 0;
  p.statusCallback = onTaskEvent;
  Window* window = g.window;
  if (!g.downloadObject->start(p)) window->postToWindowThread(abandonDownload);
}

int32_t onTaskEvent(TaskStatus code, Worker*, int32_t, int32_t, TransferTask*) {
  if (code == TaskStatus::NameClash || globals == nullptr) return 0;
  Window* window = globals->window;
  if (code == TaskStatus::SizeKnown) {
    Progress progress = readProgress();
    window->postToWindowThread([total = progress.total] { globals->totalBytes = total; });
  } else if (code == TaskStatus::Data) {
    Progress progress = readProgress();
    window->postToWindowThread([progress] { showProgress(progress); });
  } else if (code == TaskStatus::TaskEnded) {
    window->postToWindowThread(finishDownload);
  }
  return 0;
}
