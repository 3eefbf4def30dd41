#pragma once
// Runs transfers through the Download object and records every status and log call.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download/download.h"
#include "transfer/engine_tuning.h"
#include "transfer/task_param.h"

struct StatusRecord {
  TaskStatus code;
  Worker* worker;
  int32_t a;
  int32_t b;
};

struct LogRecord {
  int32_t level;
  std::string timeText;
  std::string message;
};

// Short engine timings so that retries and timeouts do not slow the tests down.
EngineTuning quickTuning();

class TransferRecorder {
 public:
  // A TaskParam for url → path whose callbacks record into this object.
  TaskParam param(const std::string& url, const std::string& path, int32_t connections = 1);

  // Waits for the final TaskEnded call; false after the limit.
  bool waitEnded(std::chrono::milliseconds limit = std::chrono::seconds(60));
  std::vector<StatusRecord> statuses() const;
  std::vector<LogRecord> logs() const;
  std::vector<TaskStatus> codes() const;
  bool hasLog(const std::string& text) const;
  int count(TaskStatus code) const;

  // Answer to NameClash (a file of the same name exists); default 0.
  std::function<int32_t(TransferTask* task)> onNameClash;
  // Called for every queued status on the controller thread, after it was recorded.
  std::function<void(TaskStatus code)> onStatus;

  // Filled at TaskEnded.
  bool ended = false;
  bool complete = false;
  int64_t written = 0;
  int32_t finalCount = 0;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<StatusRecord> statuses_;
  std::vector<LogRecord> logs_;
};

// Starts a transfer with quick timings and waits for its end; false when it did not start
// or did not end in time.
bool runTransfer(TransferRecorder& recorder, TaskParam param,
                 std::chrono::milliseconds limit = std::chrono::seconds(60));
