// Name clashes of the output file and automatic renaming.
#include "transfer/name_clash.h"

#include <sys/stat.h>

#include "platform/decimal.h"
#include "transfer/engine_log.h"
#include "transfer/engine_tuning.h"
#include "transfer/transfer_task.h"
#include "transfer/worker.h"

namespace {

// The size of the file at `path`, or nothing when there is none.
std::optional<int64_t> existingSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return static_cast<int64_t>(info.st_size);
}

// k+1 for the one or two characters of k; the same text when k reads as 0 or is no number;
// nothing when k+1 passes 99.
std::optional<std::string> nextCounter(std::string_view k) {
  std::optional<int64_t> value = parseDecimal(k);
  if (!value || *value == 0) return std::string(k);
  if (*value + 1 > kRenameAttempts) return std::nullopt;
  return std::to_string(*value + 1);
}

bool renameAutomatically(Worker& worker) {
  TransferTask& task = worker.task;
  std::string path = task.localPath();
  for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
    std::optional<std::string> next = nextAutomaticName(path);
    if (!next) {
      worker.noteFailure(FailureKind::LocalFile, "发现同名文件, 无法自动更名");
      return false;
    }
    path = *next;
    if (!existingSize(path)) {
      task.setLocalPath(path);
      engineLog(task, &worker, kLogProgress,
                formatText("发现同名文件, 系统自动更名为%s", path.c_str()));
      return true;
    }
  }
  engineFailure(worker, FailureKind::LocalFile, "发现同名文件，超过系统自动更名次数");
  return false;
}

}  // namespace

bool isUsableFileName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::optional<std::string> nextAutomaticName(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::string_view name = std::string_view(path).substr(nameStart);
  size_t dot = name.find('.');
  std::string_view base = name.substr(0, dot);
  std::string_view extension = dot == std::string_view::npos ? "" : name.substr(dot);
  std::string newBase;
  size_t open = base.rfind('(');
  if (!base.empty() && base.back() == ')' && open != std::string_view::npos &&
      base.size() - open - 2 > 0) {
    std::string_view k = base.substr(open + 1, base.size() - open - 2);
    if (k.size() > 2) return std::nullopt;
    std::optional<std::string> counter = nextCounter(k);
    if (!counter) return std::nullopt;
    newBase = std::string(base.substr(0, open + 1)) + *counter + ")";
  } else {
    newBase = std::string(base) + "(1)";
  }
  std::string result = path.substr(0, nameStart) + newBase + std::string(extension);
  if (result.size() >= kLocalPathLimit) return std::nullopt;
  return result;
}

bool settleNameClash(Worker& worker) {
  TransferTask& task = worker.task;
  std::string asked = task.localPath();
  std::optional<int64_t> size = existingSize(asked);
  if (!size) return true;
  int32_t answer = 0;
  if (task.statusCallback) {
    answer = task.statusCallback(TaskStatus::NameClash, &worker, static_cast<int32_t>(*size),
                                 static_cast<int32_t>(task.totalSize.load()), &task);
  }
  switch (answer) {
    case 0:
      return renameAutomatically(worker);
    case 1:
      engineLog(task, &worker, kLogProgress, "发现同名文件, 用户选择放弃下载");
      worker.noteFailure(FailureKind::LocalFile, "发现同名文件, 用户选择放弃下载");
      return false;
    case 2:
      // The callback named another file, or keeps this one to be replaced when complete.
      engineLog(task, &worker, kLogProgress,
                formatText(task.localPath() == asked ? "发现同名文件, 下载完成后替换%s"
                                                     : "发现同名文件, 用户更名为%s",
                           task.localPath().c_str()));
      return true;
    default:
      worker.noteFailure(FailureKind::LocalFile, "发现同名文件, 放弃下载");
      return false;
  }
}
