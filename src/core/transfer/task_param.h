#pragma once
// The parameters of one transfer, filled by the caller and copied by Download::start.
// Text fields are optional: an absent text and an empty one mean different things
// (an absent referer is derived from the URL, an empty one is sent empty).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "transfer/expected_content.h"
#include "transfer/task_status.h"

class Worker;
struct TransferTask;

// Status callback: (code, worker, a, b, task). Codes and arguments are listed in
// transfer/task_status.h. Called on the task's controller thread, except NameClash (a file of
// the same name exists), which is asked on the worker thread that opens the file; only the
// answer to NameClash is read.
using StatusCallback = std::function<int32_t(TaskStatus code, Worker* worker, int32_t a, int32_t b,
                                             TransferTask* task)>;

// Log callback: (worker, time text, message, level, task), on the controller thread.
// Levels: 0 progress, 1 request or command sent, 2 text received, 3 error or notice.
using LogCallback =
    std::function<void(Worker* worker, const std::string& timeText, const std::string& message,
                       int32_t level, TransferTask* task)>;

inline constexpr int32_t kDirectionDownload = 0x1000;
inline constexpr const char kDefaultFtpPassword[] = "guest@example.com";  // 17 characters
inline constexpr const char kDefaultBinaryExtensions[] = ".exe|.rar|.zip|.gif|.jpg|.mp3|.rm";

struct TaskParam {
  int32_t flags = 1;
  std::optional<std::string> url = std::string();
  std::optional<std::string> localPath = std::string();
  std::optional<std::string> userName = std::string("anonymous");
  std::optional<std::string> password = std::string(kDefaultFtpPassword);
  int32_t connectionCount = 1;
  int32_t speedLimit = 0;          // bytes per second over the whole task, 0 = none
  int32_t connectTimeout = 20000;  // ms
  int32_t sendTimeout = 20000;     // ms
  int32_t receiveTimeout = 20000;  // ms, idle time without data
  int32_t exitWait = 1000;         // ms a stop waits for the connections
  int32_t receiveBlockSize = 20480;
  int32_t sendBlockSize = 1024;
  LogCallback logCallback;
  StatusCallback statusCallback;
  std::optional<std::string> remoteName = std::string();
  int32_t ftpTransferType = 1;  // 1 binary, 2 text, 3 by extension
  std::optional<std::string> binaryExtensions = std::string(kDefaultBinaryExtensions);
  std::optional<std::string> proxy;    // host or host:port; absent or empty = direct
  std::optional<std::string> referer;  // absent = derived from the URL
  bool verifyTls = true;  // https: check the server's certificate and name (false: --insecure)
  // What the bytes must be before they replace the file at localPath (none: no check).
  ExpectedContent expected;
  // A fresh http(s) download with an expected digest over an existing zip archive at
  // localPath takes the entries that did not change from that archive (a delta).
  bool delta = false;
};
