// The download object: start, poll, snapshot, stop.
#include "download/download.h"

#include "download/protocol_registry.h"
#include "download/snapshot_format.h"
#include "net/url_split.h"
#include "transfer/transfer_task.h"

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
  // Held across the start: a task that ends at once waits in taskReleased until it is stored.
  TransferTask* task = startTransferTask(param, *url, makeProtocolLayer(param, *url), tuning, this);
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
  return {task_->totalSize.load(), bytesWritten(*task_)};
}

TaskOutcome Download::outcome() {
  std::lock_guard lock(mutex_);
  return attached_ != nullptr ? attached_->outcome() : lastOutcome_;
}

void Download::stop() {
  std::lock_guard lock(mutex_);
  if (task_ == nullptr || task_->running.load() == 0 || task_->stopping.load() != 0) return;
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
