#include "transfer_recorder.h"

#include <algorithm>

#include "transfer/transfer_task.h"

EngineTuning quickTuning() {
  EngineTuning tuning;
  tuning.retryWaitMs = 50;
  tuning.retryLimit = 5;
  return tuning;
}

TaskParam TransferRecorder::param(const std::string& url, const std::string& path,
                                  int32_t connections) {
  TaskParam param;
  param.flags = kDirectionDownload;
  param.url = url;
  param.localPath = path;
  param.connectionCount = connections;
  param.connectTimeout = 3000;
  param.sendTimeout = 3000;
  param.receiveTimeout = 3000;
  param.logCallback = [this](Worker*, const std::string& timeText, const std::string& message,
                             int32_t level, TransferTask*) {
    std::lock_guard lock(mutex_);
    logs_.push_back({level, timeText, message});
  };
  param.statusCallback = [this](TaskStatus code, Worker* worker, int32_t a, int32_t b,
                                TransferTask* task) -> int32_t {
    if (code == TaskStatus::NameClash) return onNameClash ? onNameClash(task) : 0;
    {
      std::lock_guard lock(mutex_);
      statuses_.push_back({code, worker, a, b});
      if (code == TaskStatus::TaskEnded) {
        ended = true;
        complete = transferComplete(*task);
        written = bytesWritten(*task);
        finalCount = a;
      }
    }
    if (onStatus) onStatus(code);
    changed_.notify_all();
    return 0;
  };
  return param;
}

bool TransferRecorder::waitEnded(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [this] { return ended; });
}

std::vector<StatusRecord> TransferRecorder::statuses() const {
  std::lock_guard lock(mutex_);
  return statuses_;
}

std::vector<LogRecord> TransferRecorder::logs() const {
  std::lock_guard lock(mutex_);
  return logs_;
}

std::vector<TaskStatus> TransferRecorder::codes() const {
  std::lock_guard lock(mutex_);
  std::vector<TaskStatus> codes;
  for (const StatusRecord& status : statuses_) codes.push_back(status.code);
  return codes;
}

bool TransferRecorder::hasLog(const std::string& text) const {
  std::lock_guard lock(mutex_);
  return std::any_of(logs_.begin(), logs_.end(), [&](const LogRecord& line) {
    return line.message.find(text) != std::string::npos;
  });
}

int TransferRecorder::count(TaskStatus code) const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(std::count_if(statuses_.begin(), statuses_.end(),
                                        [code](const StatusRecord& s) { return s.code == code; }));
}

bool runTransfer(TransferRecorder& recorder, TaskParam param, std::chrono::milliseconds limit) {
  Download download;
  if (!download.start(param, quickTuning())) return false;
  bool ended = recorder.waitEnded(limit);
  if (!ended) download.stop();
  return download.waitUntilIdle(limit) && ended;
}
