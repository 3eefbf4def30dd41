#pragma once
// Runs one download through the Download object and records what the engine reported:
// every log line and every status code, and at the end whether the file is complete.
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "transfer/engine_tuning.h"
#include "transfer/task_outcome.h"
#include "transfer/task_param.h"

struct FtpRunResult {
  bool finished = false;  // the task ended (TaskEnded)
  bool timedOut = false;  // it had to be stopped after the time allowed
  bool complete = false;  // every byte was written
  int64_t written = 0;
  int64_t totalSize = 0;
  TaskOutcome outcome;                               // Download::outcome() after the end
  std::vector<std::pair<int32_t, std::string>> log;  // level, message
  std::vector<TaskStatus> statuses;

  bool logged(const std::string& message) const;
  bool logged(int32_t level, const std::string& message) const;
  // How many lines contain `part`.
  int linesContaining(const std::string& part) const;
  int statusCount(TaskStatus code) const;
  // Every message, one per line, for failure output.
  std::string logText() const;
};

// A download of `url` into `path` over `connections` connections, with short timeouts.
TaskParam ftpTaskParam(const std::string& url, const std::string& path, int32_t connections);
// Retry wait and accept bound short enough for tests; `retries` failures may be retried.
EngineTuning quickTuning(int32_t retries = 3);
FtpRunResult runDownload(const TaskParam& param, const EngineTuning& tuning,
                         std::chrono::seconds limit = std::chrono::seconds(120));
