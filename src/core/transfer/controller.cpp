// The controller thread: starts workers, delivers status and log events in queue order,
// shuts the task down when no worker is left, and ends the task with the TaskEnded status.
#include "transfer/controller.h"

#include <algorithm>

#include "transfer/engine_log.h"
#include "transfer/transfer_task.h"
#include "transfer/worker.h"

namespace {

class Controller {
 public:
  explicit Controller(TransferTask& task) : task_(task) {}

  // The event loop; returns once the task has been shut down.
  void run();

 private:
  void startWorker();
  void stopOneWorker(Worker* target);
  bool noWorkerLeft();
  void deliver(const TaskEvent& event);
  void drainAfterShutdown();

  TransferTask& task_;
};

void Controller::run() {
  if (!task_.startNote.empty()) engineLog(task_, nullptr, kLogProgress, task_.startNote);
  TaskEvent first;
  first.code = kEventStartWorker;
  first.b = task_.connectionCount;
  task_.events.post(std::move(first));
  while (true) {
    saveTaskState(task_, false);
    TaskEvent event;
    if (!task_.events.waitPop(event, std::chrono::milliseconds(kQuietDeliveryMs))) continue;
    switch (event.code) {
      case kEventEnd:
        return;
      case kEventStartWorker:
        startWorker();
        break;
      case kEventStopWorker:
        stopOneWorker(event.worker);
        break;
      case kEventLog:
      case kEventStatus:
        deliver(event);
        break;
      case kEventNoWorkerLeft:
        // Posted by a worker of the round before a start over: the new round runs on.
        if (task_.restartPending && !task_.stopRequested()) break;
        if (!noWorkerLeft()) break;
        if (restartDue(task_)) {
          restartTask(task_);
          break;
        }
        drainAfterShutdown();
        return;
      default:
        break;
    }
  }
}

void Controller::startWorker() {
  task_.restartPending = false;
  if (task_.stopping.load() != 0 || task_.windingDown.load()) return;
  bool first;
  int32_t active;
  {
    std::lock_guard lock(task_.workerLock);
    first = task_.activeWorkers == 0 && task_.startedWorkers == 0;
    active = task_.activeWorkers;
  }
  // The first worker of a fresh task lays the segments out itself; the first worker of a
  // resumed task starts on the first unfinished segment.
  auto worker = std::make_unique<Worker>(task_, first);
  Worker* started = worker.get();
  if (!first || task_.resuming) {
    int32_t index = task_.segments.takeOrSplit(started);
    if (index < 0) {
      // A resumed task whose every segment is done: nothing to fetch, the file is complete.
      if (active == 0) {
        TaskEvent event;
        event.code = kEventNoWorkerLeft;
        task_.events.post(std::move(event));
      }
      return;
    }
    started->assignSegment(index);
    if (task_.speedLimit > 0) task_.workerSpeedLimit = std::max(1, task_.speedLimit / (active + 1));
  }
  {
    std::lock_guard lock(task_.workerLock);
    ++task_.activeWorkers;
    ++task_.startedWorkers;
  }
  {
    std::lock_guard lock(task_.workerListLock);
    task_.workers.push_back(std::move(worker));
  }
  if (started->start()) return;
  // The thread could not be made: undo, and end the task if nothing else runs.
  task_.segments.release(started->segmentIndex());
  bool last;
  {
    std::lock_guard lock(task_.workerLock);
    last = --task_.activeWorkers == 0;
  }
  {
    std::lock_guard lock(task_.workerListLock);
    task_.workers.pop_back();
  }
  if (last) {
    TaskEvent event;
    event.code = kEventNoWorkerLeft;
    task_.events.post(std::move(event));
  }
}

void Controller::stopOneWorker(Worker* target) {
  Worker* victim = target;
  if (victim == nullptr) {
    for (const Segment& segment : task_.segments.entries()) {
      if (segment.busy && segment.owner != nullptr) victim = segment.owner;
    }
    if (victim == nullptr) return;
    std::lock_guard lock(task_.workerLock);
    if (task_.activeWorkers == 1 && !task_.stopRequested()) return;
  }
  victim->requestStop();
  std::unique_lock lock(task_.workerLock);
  task_.workersChanged.wait_for(lock, std::chrono::milliseconds(task_.exitWait),
                                [victim] { return victim->hasEnded(); });
  if (task_.speedLimit > 0) {
    task_.workerSpeedLimit = std::max(1, task_.speedLimit / std::max(1, task_.activeWorkers));
  }
}

// Event 18. When workers still run and the task was not stopped, a worker started after
// the event was posted: nothing to do, the last worker posts it again. Otherwise every
// worker is told to end and the controller waits until all have ended (no thread is ever
// killed); the file is closed once the task's end is settled (runController).
bool Controller::noWorkerLeft() {
  {
    std::lock_guard lock(task_.workerLock);
    if (task_.activeWorkers > 0 && !task_.stopRequested()) return false;
  }
  task_.stopping.store(4);
  {
    std::lock_guard lock(task_.workerListLock);
    for (auto& worker : task_.workers) worker->requestStop();
  }
  {
    std::unique_lock lock(task_.workerLock);
    task_.workersChanged.wait(lock, [this] { return task_.activeWorkers == 0; });
  }
  {
    std::lock_guard lock(task_.workerListLock);
    for (auto& worker : task_.workers) worker->join();
  }
  return true;
}

// Every worker has ended, so the queue holds all they reported: deliver their status and
// log events in order (each worker's 8 or 9 among them) and refuse anything later.
void Controller::drainAfterShutdown() {
  task_.events.close();
  TaskEvent event;
  while (task_.events.tryPop(event)) {
    if (event.code == kEventLog || event.code == kEventStatus) deliver(event);
  }
}

void Controller::deliver(const TaskEvent& event) {
  if (event.code == kEventLog) {
    if (task_.logCallback) {
      task_.logCallback(event.worker, event.timeText, event.message, event.level, &task_);
    }
    return;
  }
  if (task_.statusCallback) {
    task_.statusCallback(event.status, event.worker, static_cast<int32_t>(event.a),
                         static_cast<int32_t>(event.b), &task_);
  }
}

}  // namespace

void runController(TransferTask* task) {
  Controller(*task).run();
  task->running.store(0);
  int64_t final = task->totalSize.load();
  if (task->stopRequested()) {
    final = bytesWritten(*task);
    task->bytesReceived.store(final);
  }
  // Every worker has ended. The partial file stays claimed (open) until it has its final
  // name or its state is saved: no other download can take it over halfway.
  if (placeFinishedFile(*task)) {
    task->settleOutcome(TaskEnding::Complete);
  } else {
    saveTaskState(*task, true);
    task->settleOutcome(task->stopRequested() ? TaskEnding::Stopped : TaskEnding::Failed);
  }
  task->output.close();
  if (task->statusCallback) {
    task->statusCallback(TaskStatus::TaskEnded, nullptr, static_cast<int32_t>(final), 0, task);
  }
  if (task->owner != nullptr) task->owner->taskReleased(*task);
  task->controller.detach();
  delete task;
}
