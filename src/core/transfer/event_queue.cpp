// The controller's event queue.
#include "transfer/event_queue.h"

bool EventQueue::post(TaskEvent event) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return false;
    events_.push_back(std::move(event));
  }
  // Always: quiet data events may fill the queue while the consumer sleeps.
  ready_.notify_one();
  return true;
}

bool EventQueue::postData(Worker* worker, int64_t bytes) {
  std::lock_guard lock(mutex_);
  if (closed_) return false;
  if (!events_.empty()) {
    TaskEvent& last = events_.back();
    if (last.code == kEventStatus && last.status == TaskStatus::Data && last.worker == worker) {
      last.a += bytes;
      return true;
    }
  }
  TaskEvent event;
  event.code = kEventStatus;
  event.status = TaskStatus::Data;
  event.worker = worker;
  event.a = bytes;
  events_.push_back(std::move(event));
  return true;
}

bool EventQueue::waitPop(TaskEvent& event, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  if (!ready_.wait_for(lock, limit, [this] { return !events_.empty(); })) return false;
  event = std::move(events_.front());
  events_.pop_front();
  return true;
}

bool EventQueue::tryPop(TaskEvent& event) {
  std::lock_guard lock(mutex_);
  if (events_.empty()) return false;
  event = std::move(events_.front());
  events_.pop_front();
  return true;
}

void EventQueue::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

void EventQueue::open() {
  std::lock_guard lock(mutex_);
  closed_ = false;
}

size_t EventQueue::pending() const {
  std::lock_guard lock(mutex_);
  return events_.size();
}
