#include "download_jobs/package_download.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "download/download.h"
#include "download/speed_text.h"
#include "net/url_split.h"
#include "shell/controls.h"
#include "shell/globals.h"
#include "shell/window.h"
#include "update/update_check.h"

namespace {

// Window thread: the effect of one data event.
void showProgress(Globals& g, DownloadProgress progress) {
  g.doneBytes = progress.received;
  g.fetchedBytes = progress.fetched;
  g.reusedBytes = progress.reused;
  uint64_t now = g.now();
  if (atLeast(static_cast<double>(now) - static_cast<double>(g.lastSpeedTick), 1000.0)) {
    int32_t received = g.downloadObject->takeReceivedBytes();
    std::string text = speedText(static_cast<double>(received));
    if (progress.reused > 0) text += " " + reusedText(progress.reused);
    g.lastSpeedTick = g.now();
    g.window->setText(control::标签_每秒速度, text);
  }
  g.totalBytes = progress.total;
  int position = 0;
  if (g.totalBytes != 0) {
    position = static_cast<int>(static_cast<double>(g.doneBytes) / g.totalBytes * 100.0);
  }
  g.window->setProgress(control::进度条1, position);
}

// Window thread: the package's 下载 button goes back to its own text.
void endDownloadJob(Globals& g) {
  if (g.downloadingPackage) {
    g.window->setText(packageInfo(*g.downloadingPackage).downloadButton, kDownloadButtonText);
  }
  g.downloadingPackage.reset();
  g.downloadBusy = 0;
}

// Window thread: the end of the transfer, whatever its outcome. The update check that
// follows hashes the archives on its own thread (not the one just placed: its digest was
// computed while it was written) and then tells what the download left.
void finishDownload(Globals& g, std::string failureText, std::optional<KnownDigest> placed) {
  // The controller releases the task right after its final event; wait for that so a new
  // download can start as soon as this returns.
  g.downloadObject->waitUntilIdle(std::chrono::seconds(5));
  joinDownloadStarter(g);
  if (g.downloadingPackage) {
    g.finishedDownload = FinishedDownload{*g.downloadingPackage, failureText};
    if (placed) g.package(*g.downloadingPackage).placed = std::move(placed);
  }
  endDownloadJob(g);
  startUpdateCheck(g, true);
  resetProgressDisplay(g);
}

// Window thread: the engine refused the task, so no event will ever end this job.
void abandonDownload(Globals& g) {
  joinDownloadStarter(g);
  std::optional<UrlParts> url = splitUrl(g.downloadUrl);
  const bool known = url && (url->protocol == kProtocolHttp || url->protocol == kProtocolFtp);
  if (g.downloadingPackage) {
    // The message box keeps the program's own text; the status line says why.
    setStatusLine(g,
                  std::string(packageInfo(*g.downloadingPackage).name) + ": " +
                      (known ? "无法启动下载任务" : "不支持的下载地址"),
                  g.downloadingPackage);
  }
  endDownloadJob(g);
  resetProgressDisplay(g);
  g.window->messageBox(kDownloadCannotStart, BoxOwner::MainWindow);
}

// Controller thread, inside the final event: what the status line should say about a
// download that did not deliver its whole file (empty when it did). The line is 184 pixels
// wide, so it names the kind of failure only; the command line prints the engine's words.
std::string failureText(const PackageInfo& package, const TaskOutcome& outcome) {
  if (outcome.ending == TaskEnding::Complete) return std::string();
  std::string text = std::string(package.name);
  if (outcome.ending == TaskEnding::Stopped) return text + "下载已停止";
  // Every byte arrived, but not the archive the manifest vouches for: it was discarded.
  if (!outcome.mismatches.empty()) {
    return std::string(package.archive) + " " + outcome.mismatches.front().what + "与远程配置不符";
  }
  switch (outcome.kind) {
    case FailureKind::ServerReply:
      text += "下载失败: 服务器拒绝";
      break;
    case FailureKind::Network:
      text += "下载失败: 网络不通";
      break;
    case FailureKind::LocalFile:
      text += "下载失败: 无法写入本地文件";
      break;
    case FailureKind::Integrity:
      text += "下载失败: 数据与服务器不符";
      break;
    case FailureKind::Security:
      text += "下载失败: 服务器身份无法验证";
      break;
    case FailureKind::None:
      text += "下载未完成";
      break;
  }
  return text;
}

// Controller thread (and worker thread for the name question): turns engine events into
// window work. `g` outlives the task: freeGlobals stops the download and waits for it first.
int32_t onTaskEvent(Globals& g, const PackageInfo& package, TaskStatus code) {
  // The old archive stays under its name, for the checks and the install button, until the
  // new one is complete and renamed over it.
  if (code == TaskStatus::NameClash) return 2;
  Window* window = g.window;
  if (code == TaskStatus::SizeKnown) {
    // A resumed download's progress line starts at the bytes already there.
    DownloadProgress progress = g.downloadObject->progress();
    window->postToWindowThread([&g, progress] {
      g.totalBytes = progress.total;
      showProgress(g, progress);
    });
  } else if (code == TaskStatus::Data) {
    DownloadProgress progress = g.downloadObject->progress();
    window->postToWindowThread([&g, progress] { showProgress(g, progress); });
  } else if (code == TaskStatus::TaskEnded) {
    TaskOutcome outcome = g.downloadObject->outcome();
    std::string text = failureText(package, outcome);
    window->postToWindowThread([&g, fetched = outcome.fetchedBytes, reused = outcome.reusedBytes] {
      g.fetchedBytes = fetched;
      g.reusedBytes = reused;
    });
    std::optional<KnownDigest> placed;
    if (outcome.ending == TaskEnding::Complete && outcome.placedFile && outcome.digests) {
      const ContentDigests& digests = *outcome.digests;
      placed = KnownDigest{*outcome.placedFile, {digests.md5, digests.sha256, digests.size}};
    }
    window->postToWindowThread([&g, text, placed] { finishDownload(g, text, placed); });
  }
  return 0;
}

// Window thread: the parameters of a package download, in the state's record.
TaskParam& fillTaskParams(Globals& g, const PackageInfo& package) {
  TaskParam& p = *g.taskParams;
  p.flags = kDirectionDownload;
  p.referer = std::string();
  p.connectionCount = g.processorCount;
  p.localPath = g.downloadTargetPath;
  p.url = g.downloadUrl;
  p.connectTimeout = p.sendTimeout = p.receiveTimeout = g.downloadTimeoutMs;
  p.speedLimit = 0;
  // The archive replaces the old one only when it is the one the manifest vouches for.
  const PackageEntry& entry = g.package(package.id).manifest;
  p.expected = ExpectedContent{entry.md5, std::nullopt, entry.size};
  p.delta = g.deltaDownloads;
  if (!entry.sha256.empty()) p.expected.sha256 = entry.sha256;
  p.statusCallback = [&g, &package](TaskStatus code, Worker*, int32_t, int32_t, TransferTask*) {
    return onTaskEvent(g, package, code);
  };
  return p;
}

}  // namespace

void joinDownloadStarter(Globals& g) {
  if (g.downloadStarter.joinable()) g.downloadStarter.join();
}

void startPackageDownload(Globals& g, const PackageInfo& package) {
  if (g.downloadBusy != 0) {
    if (g.downloadingPackage == package.id) stopPackageDownload(g);
    return;
  }
  g.downloadBusy = 1;
  const PackageEntry& entry = g.package(package.id).manifest;
  if (entry.url.empty()) {
    g.window->messageBox(package.emptyUrlMessage, BoxOwner::MainWindow);
    g.downloadBusy = 0;
    return;
  }
  // What the status line said about this package's last download is no longer news.
  if (g.statusLinePackage == package.id) setStatusLine(g, "");
  // The old archive stays (the checks keep hashing it, its install button stays enabled)
  // until the new one replaces it; an interrupted download of it continues where it stopped.
  g.downloadTargetPath = g.programDir + package.archive;
  g.totalBytes = 0;  // until the engine tells the size (and, resuming, the bytes there)
  g.doneBytes = 0;
  g.fetchedBytes = 0;
  g.reusedBytes = 0;
  g.downloadUrl = entry.url;
  g.downloadingPackage = package.id;
  joinDownloadStarter(g);
  g.downloadStarter =
      std::thread([&g, param = fillTaskParams(g, package), tuning = g.downloadTuning] {
        if (!g.downloadObject->start(param, tuning)) {
          g.window->postToWindowThread([&g] { abandonDownload(g); });
        }
      });
  showDownloadStatus(g, package.downloadingText);
  g.window->setText(package.downloadButton, kStopButtonText);
}

void stopPackageDownload(Globals& g) {
  // Download::stop waits for the connections (up to the exit wait), so it runs on the
  // starter thread; the task's final event then ends the job as usual.
  joinDownloadStarter(g);
  g.downloadStarter = std::thread([&g] { g.downloadObject->stop(); });
}

void showDownloadStatus(Globals& g, const char* text) {
  Window& window = *g.window;
  window.setText(control::标签_提示内容, text);
  window.setVisible(control::标签_提示内容, true);
  window.setVisible(control::标签_每秒速度, true);
  window.setVisible(control::进度条1, true);
  window.setProgress(control::进度条1, 0);
}
