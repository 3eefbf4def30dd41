#include "ftp_run.h"

#include <algorithm>
#include <memory>
#include <mutex>

#include "download/download.h"
#include "transfer/transfer_task.h"

namespace {

struct Recorder {
  std::mutex mutex;
  FtpRunResult result;
};

}  // namespace

bool FtpRunResult::logged(const std::string& message) const {
  return std::any_of(log.begin(), log.end(),
                     [&](const auto& line) { return line.second == message; });
}

bool FtpRunResult::logged(int32_t level, const std::string& message) const {
  return std::any_of(log.begin(), log.end(), [&](const auto& line) {
    return line.first == level && line.second == message;
  });
}

int FtpRunResult::linesContaining(const std::string& part) const {
  return static_cast<int>(std::count_if(log.begin(), log.end(), [&](const auto& line) {
    return line.second.find(part) != std::string::npos;
  }));
}

int FtpRunResult::statusCount(TaskStatus code) const {
  return static_cast<int>(std::count(statuses.begin(), statuses.end(), code));
}

std::string FtpRunResult::logText() const {
  std::string text;
  for (const auto& [level, message] : log) {
    text += "[" + std::to_string(level) + "] " + message.substr(0, 300) + "\n";
  }
  return text;
}

TaskParam ftpTaskParam(const std::string& url, const std::string& path, int32_t connections) {
  TaskParam param;
  param.flags = kDirectionDownload;
  param.url = url;
  param.localPath = path;
  param.connectionCount = connections;
  param.connectTimeout = 2000;
  param.sendTimeout = 2000;
  param.receiveTimeout = 5000;
  return param;
}

EngineTuning quickTuning(int32_t retries) {
  EngineTuning tuning;
  tuning.retryLimit = retries;
  tuning.retryWaitMs = 50;
  return tuning;
}

FtpRunResult runDownload(const TaskParam& base, const EngineTuning& tuning,
                         std::chrono::seconds limit) {
  auto recorder = std::make_shared<Recorder>();
  TaskParam param = base;
  param.logCallback = [recorder](Worker*, const std::string&, const std::string& message,
                                 int32_t level, TransferTask*) {
    std::lock_guard lock(recorder->mutex);
    recorder->result.log.emplace_back(level, message);
  };
  param.statusCallback = [recorder](TaskStatus code, Worker*, int32_t, int32_t,
                                    TransferTask* task) -> int32_t {
    std::lock_guard lock(recorder->mutex);
    recorder->result.statuses.push_back(code);
    if (code == TaskStatus::TaskEnded) {
      recorder->result.finished = true;
      recorder->result.complete = transferComplete(*task);
      recorder->result.written = bytesWritten(*task);
      recorder->result.totalSize = task->totalSize.load();
    }
    return 0;
  };
  Download download;
  if (!download.start(param, tuning)) return {};
  bool timedOut = !download.waitUntilIdle(limit);
  if (timedOut) download.stop();
  download.waitUntilIdle(std::chrono::seconds(30));
  std::lock_guard lock(recorder->mutex);
  recorder->result.timedOut = timedOut;
  recorder->result.outcome = download.outcome();
  return recorder->result;
}
