// Engine log lines and their local-time text.
#include "transfer/engine_log.h"

#include <cstdarg>
#include <cstdio>

#include "net/url_split.h"
#include "transfer/transfer_task.h"
#include "transfer/worker.h"

std::string logTimeText(const std::tm& local) {
  std::string text =
      formatText("%d年%d月%d日", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  if (local.tm_sec != 0) {
    text += formatText("%d时%d分%d秒", local.tm_hour, local.tm_min, local.tm_sec);
  } else if (local.tm_min != 0) {
    text += formatText("%d时%d分", local.tm_hour, local.tm_min);
  } else if (local.tm_hour != 0) {
    text += formatText("%d时", local.tm_hour);
  }
  return text;
}

std::string currentLogTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return logTimeText(local);
}

std::string formatText(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) return std::string();
  if (static_cast<size_t>(length) < sizeof small) return std::string(small, length);
  std::string text(static_cast<size_t>(length), '\0');
  va_start(args, format);
  std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

void engineLog(TransferTask& task, Worker* worker, int32_t level, std::string message) {
  if (!task.logCallback || level == kLogNever) return;
  TaskEvent event;
  event.code = kEventLog;
  event.worker = worker;
  event.level = level;
  event.timeText = currentLogTimeText();
  event.message = textWithoutUrlPasswords(message);
  task.events.post(std::move(event));
}

void engineFailure(Worker& worker, FailureKind kind, std::string message) {
  message = textWithoutUrlPasswords(message);
  worker.noteFailure(kind, message);
  engineLog(worker.task, &worker, kLogError, std::move(message));
}
