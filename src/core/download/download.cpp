// The download object: start, poll, snapshot, stop.
#include "download/download.h"

#include <sys/stat.h>

#include "download/archive_delta.h"
#include "download/control_file.h"
#include "download/protocol_registry.h"
#include "download/snapshot_format.h"
#include "net/url_split.h"
#include "platform/files.h"
#include "platform/system_info.h"
#include "transfer/engine_log.h"
#include "transfer/output_file.h"
#include "transfer/transfer_task.h"

namespace {

// The state an earlier download of `url` into `target` left: its control file, when it names
// the same URL and is intact and its partial file has the file's full size. Otherwise none,
// and `note` says why when there was a control file.
std::optional<TaskResume> readResumeState(const std::string& target, const std::string& url,
                                          std::string& note) {
  std::string control = controlPathOf(target);
  if (!fileExists(control)) return std::nullopt;
  std::string bytes = readWholeFile(control);
  ControlFileCheck check =
      checkControlFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), url);
  if (!check.content) {
    note = formatText("%s: %s, 重新下载", control.c_str(), check.problem.c_str());
    return std::nullopt;
  }
  SnapshotContent& content = *check.content;
  struct stat partial {};
  if (::lstat(partialPathOf(target).c_str(), &partial) != 0 || !S_ISREG(partial.st_mode) ||
      partial.st_size != content.totalSize) {
    note = formatText("%s: 没有与控制文件相符的部分文件, 重新下载", control.c_str());
    return std::nullopt;
  }
  return TaskResume{content.totalSize, std::move(content.segments), content.capacity,
                    std::move(content.protocol)};
}

// Where a download into `target` continues from: the earlier state, which the layer takes
// back its part of. Otherwise the task starts over (it replaces both files once the server has
// answered) and `options.note` says why.
void planResume(const std::string& target, const std::string& url, ProtocolLayer& layer,
                TaskStartOptions& options) {
  std::optional<TaskResume> earlier = readResumeState(target, url, options.note);
  if (!earlier) return;
  if (!layer.restoreSnapshot(earlier->protocol)) {
    options.note =
        formatText("%s: 控制文件的协议设置无效, 重新下载", controlPathOf(target).c_str());
    return;
  }
  int64_t done = 0;
  for (const Segment& segment : earlier->segments) done += segment.done;
  options.note = formatText("从控制文件续传: 已有 %lld / %lld 字节", static_cast<long long>(done),
                            static_cast<long long>(earlier->totalSize));
  options.resume = std::move(earlier);
}

}  // namespace

Download::~Download() {
  stop();
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return attached_ == nullptr; });
}

bool Download::start(const TaskParam& param) {
  return start(param, EngineTuning{});
}

bool Download::start(const TaskParam& param, const EngineTuning& tuning) {
  std::lock_guard lock(mutex_);
  if (attached_ != nullptr || !param.url) return false;
  std::optional<UrlParts> url = splitUrl(*param.url);
  if (!url) return false;
  std::unique_ptr<ProtocolLayer> layer = makeProtocolLayer(param, *url);
  if (!layer) return false;
  // The state goes beside the partial file; a download into a named file continues from the
  // state an earlier one of the same URL left there.
  std::string identity = urlWithoutPassword(*param.url);
  TaskStartOptions options;
  options.saveState = [identity](const TransferTask& task) {
    return saveControlFile(task, identity);
  };
  std::string target = param.localPath.value_or(std::string());
  if (!target.empty() && target.back() != '/' && target.size() < kLocalPathLimit) {
    planResume(target, identity, *layer, options);
  }
  // A new version of the archive already there takes its unchanged entries from it. Only
  // bytes vouched for by a digest are ever assembled so.
  bool vouched = param.expected.md5 || param.expected.sha256;
  if (param.delta && !options.resume && vouched && url->protocol == kProtocolHttp &&
      !target.empty() && target.back() != '/' && target.size() < kLocalPathLimit) {
    options.delta = makeArchiveDelta(target, processorCount());
  }
  // A folder's file is named by the server's answer; the engine asks then (NameKnown).
  options.lateResume = [identity](const std::string& named, std::string& note) {
    return readResumeState(named, identity, note);
  };
  // Held across the start: a task that ends at once waits in taskReleased until it is stored.
  TransferTask* task =
      startTransferTask(param, *url, std::move(layer), tuning, this, std::move(options));
  if (task == nullptr) return false;
  task_ = task;
  attached_ = task;
  return true;
}

int32_t Download::takeReceivedBytes() {
  std::lock_guard lock(mutex_);
  if (task_ == nullptr) return 0;
  return static_cast<int32_t>(task_->receivedSinceTake.exchange(0));
}

bool Download::snapshot(std::vector<uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  if (task_ == nullptr || task_->running.load() == 0 || task_->stopping.load() != 0) return false;
  SnapshotContent content;
  content.totalSize = task_->totalSize.load();
  content.segments = task_->segments.entries();
  content.capacity = task_->segments.capacity();
  if (content.segments.empty()) return false;  // nothing laid out yet
  task_->protocol->saveSnapshot(content.protocol);
  std::optional<std::vector<uint8_t>> encoded = encodeSnapshot(content);
  if (!encoded) return false;
  bytes = std::move(*encoded);
  return true;
}

int32_t Download::querySnapshot(const std::vector<uint8_t>& bytes, SnapshotQuery kind,
                                int32_t index) {
  std::optional<SnapshotContent> content = decodeSnapshot(bytes.data(), bytes.size());
  if (!content) return -1;
  int32_t count = static_cast<int32_t>(content->segments.size());
  switch (kind) {
    case SnapshotQuery::TotalSize:
      return static_cast<int32_t>(content->totalSize);
    case SnapshotQuery::BytesDone: {
      int64_t done = 0;
      for (const Segment& segment : content->segments) done += segment.done;
      return static_cast<int32_t>(done);
    }
    case SnapshotQuery::SegmentCount:
      return count;
    case SnapshotQuery::SegmentStart:
    case SnapshotQuery::SegmentLength:
    case SnapshotQuery::SegmentDone: {
      if (index < 1 || index > count) return -1;
      const Segment& segment = content->segments[index - 1];
      int64_t value = kind == SnapshotQuery::SegmentStart    ? segment.start
                      : kind == SnapshotQuery::SegmentLength ? segment.length
                                                             : segment.done;
      return static_cast<int32_t>(value);
    }
    default:
      return -1;
  }
}

DownloadProgress Download::progress() {
  std::lock_guard lock(mutex_);
  if (task_ == nullptr) return {};
  return {task_->totalSize.load(), bytesWritten(*task_), task_->fetchedBytes.load(),
          task_->reusedBytes.load()};
}

TaskOutcome Download::outcome() {
  std::lock_guard lock(mutex_);
  return attached_ != nullptr ? attached_->outcome() : lastOutcome_;
}

void Download::stop() {
  std::lock_guard lock(mutex_);
  // (A task that winds down to start over is still stopped: only a stop already made is not.)
  if (task_ == nullptr || task_->running.load() == 0 || task_->stopRequested()) return;
  TransferTask* task = task_;
  task_ = nullptr;
  stopTransferTask(*task);
}

bool Download::waitUntilIdle(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, limit, [this] { return attached_ == nullptr; });
}

void Download::taskReleased(TransferTask& task) {
  std::lock_guard lock(mutex_);
  if (task_ == &task) task_ = nullptr;
  if (attached_ == &task) {
    attached_ = nullptr;
    lastOutcome_ = task.outcome();
  }
  idle_.notify_all();
}
