#pragma once
// The controller's first-in first-out queue of task events.
//
// Any thread posts; the controller thread waits on a condition variable (no sleep polling).
// A closed queue refuses new events. Data events (TaskStatus::Data) are posted quietly: they do not
// wake the controller, which delivers them at its next wake-up (another event, or its poll
// interval of kQuietDeliveryMs), and a data event that follows one of the same worker at
// the end of the queue is merged into it. That saves a thread wake-up per received buffer.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "transfer/task_status.h"

class Worker;

// Longest delay of a quietly posted event.
inline constexpr int kQuietDeliveryMs = 100;

// Controller event codes.
inline constexpr int32_t kEventEnd = 1;            // leave the loop
inline constexpr int32_t kEventShutdown = 2;       // close the queue and end
inline constexpr int32_t kEventStartWorker = 4;    // b: connection count (first start) or 1
inline constexpr int32_t kEventStopWorker = 5;     // worker: the one to stop, or none
inline constexpr int32_t kEventLog = 9;            // a log line to deliver
inline constexpr int32_t kEventNoWorkerLeft = 18;  // last worker ended, or the task stops
inline constexpr int32_t kEventStatus = 21;        // a status callback to make

struct TaskEvent {
  int32_t code = 0;
  TaskStatus status = TaskStatus::Data;  // for kEventStatus
  Worker* worker = nullptr;
  int64_t a = 0;
  int64_t b = 0;
  // A log line (kEventLog).
  int32_t level = 0;
  std::string timeText;
  std::string message;
};

class EventQueue {
 public:
  // False when the queue is closed (the event is dropped).
  bool post(TaskEvent event);
  // Adds `bytes` as a data event of `worker` without waking the consumer.
  bool postData(Worker* worker, int64_t bytes);
  // Waits for the oldest event; false when none came within `limit`.
  bool waitPop(TaskEvent& event, std::chrono::milliseconds limit);
  bool tryPop(TaskEvent& event);
  void close();
  void open();
  size_t pending() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<TaskEvent> events_;
  bool closed_ = false;
};
