// Creating, stopping and measuring a transfer task.
#include "transfer/transfer_task.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "platform/clock.h"
#include "transfer/controller.h"
#include "transfer/engine_log.h"
#include "transfer/name_clash.h"
#include "transfer/worker.h"

TransferTask::~TransferTask() {
  std::vector<std::unique_ptr<Worker>> ended;
  {
    std::lock_guard lock(workerListLock);
    ended.swap(workers);
  }
  ended.clear();  // joins every worker thread
}

std::string TransferTask::localPath() const {
  std::lock_guard lock(pathMutex_);
  return localPath_;
}

bool TransferTask::setLocalPath(std::string path) {
  if (path.size() >= kLocalPathLimit) return false;
  std::lock_guard lock(pathMutex_);
  localPath_ = std::move(path);
  return true;
}

bool TransferTask::appendServerFileName(const std::string& name) {
  std::lock_guard lock(pathMutex_);
  if (localPath_.empty() || localPath_.back() != '/' || !isUsableFileName(name) ||
      localPath_.size() + name.size() >= kLocalPathLimit) {
    return false;
  }
  localPath_ += name;
  nameFromServer_ = true;
  return true;
}

bool TransferTask::nameFromServer() const {
  std::lock_guard lock(pathMutex_);
  return nameFromServer_;
}

void TransferTask::postStatus(TaskStatus code, Worker* worker, int64_t a, int64_t b) {
  if (code == TaskStatus::Data) {
    events.postData(worker, a);
    return;
  }
  TaskEvent event;
  event.code = kEventStatus;
  event.status = code;
  event.worker = worker;
  event.a = a;
  event.b = b;
  events.post(std::move(event));
}

void TransferTask::wakeSleepers() {
  { std::lock_guard lock(stopMutex); }  // a sleeper is either waiting or sees the flag
  stopSignal.notify_all();
}

void TransferTask::recordFailure(FailureKind kind, std::string message) {
  std::lock_guard lock(outcomeMutex_);
  outcome_.kind = kind;
  outcome_.message = std::move(message);
}

void TransferTask::settleOutcome(TaskEnding ending) {
  std::lock_guard lock(outcomeMutex_);
  outcome_.ending = ending;
  if (ending != TaskEnding::Failed) {
    outcome_.kind = FailureKind::None;
    outcome_.message.clear();
  } else if (outcome_.message.empty()) {
    outcome_.message = "下载未完成";
  }
}

TaskOutcome TransferTask::outcome() const {
  std::lock_guard lock(outcomeMutex_);
  return outcome_;
}

TransferTask* startTransferTask(const TaskParam& param, const UrlParts& url,
                                std::unique_ptr<ProtocolLayer> layer, const EngineTuning& tuning,
                                TaskOwner* owner, TaskStartOptions options) {
  std::string path = param.localPath.value_or(std::string());
  if (path.size() >= kLocalPathLimit) return nullptr;
  if (!layer) return nullptr;
  auto task = std::make_unique<TransferTask>();
  task->protocolNumber = url.protocol;
  task->flags = param.flags | kDirectionDownload;
  task->setTotalSize(0);
  task->setLocalPath(path);
  task->protocol = std::move(layer);
  task->connectionCount = std::max(1, param.connectionCount);
  task->connectTimeout = param.connectTimeout;
  task->sendTimeout = param.sendTimeout;
  task->receiveTimeout = param.receiveTimeout;
  task->exitWait = std::max(0, param.exitWait);
  task->speedLimit = std::max(0, param.speedLimit);
  task->workerSpeedLimit = task->speedLimit;
  task->readSize = param.receiveBlockSize > 0
                       ? std::min<int32_t>(param.receiveBlockSize, kTransferBufferSize)
                       : static_cast<int32_t>(kTransferBufferSize);
  task->sendBlockSize = param.sendBlockSize;
  task->tuning = tuning;
  task->logCallback = param.logCallback;
  task->statusCallback = param.statusCallback;
  task->owner = owner;
  task->saveState = std::move(options.saveState);
  task->startNote = std::move(options.note);
  if (options.resume) {
    task->setTotalSize(options.resume->totalSize);
    task->segments.restore(std::move(options.resume->segments), options.resume->capacity);
    task->bytesReceived = task->segments.sumDone();
    task->resuming = true;
    // The control file already says this much; it is written again once data flows.
    task->lastSavedDone = task->bytesReceived.load();
  }
  task->running = 1;
  TransferTask* raw = task.get();
  try {
    task->controller = std::thread(runController, raw);
  } catch (const std::system_error&) {
    return nullptr;
  }
  return task.release();
}

void stopTransferTask(TransferTask& task) {
  task.stopping.store(4);
  task.stopFlag.store(1);
  task.wakeSleepers();
  {
    std::lock_guard lock(task.workerListLock);
    for (auto& worker : task.workers) worker->requestStop();
  }
  {
    std::unique_lock lock(task.workerLock);
    task.workersChanged.wait_for(lock, std::chrono::milliseconds(task.exitWait),
                                 [&task] { return task.activeWorkers == 0; });
  }
  TaskEvent event;
  event.code = kEventNoWorkerLeft;
  task.events.post(std::move(event));
}

int64_t bytesWritten(const TransferTask& task) {
  return task.segments.sumDone();
}

bool transferComplete(const TransferTask& task) {
  return task.filePlaced.load(std::memory_order_acquire);
}

bool placeFinishedFile(TransferTask& task) {
  bool allWritten = task.output.wasOpened() && task.segments.allFinished() &&
                    bytesWritten(task) == task.totalSize.load();
  if (!allWritten) return false;
  std::string target = task.localPath();
  if (::rename(partialPathOf(target).c_str(), target.c_str()) != 0) {
    char buffer[256];
    task.recordFailure(FailureKind::LocalFile,
                       formatText("重命名文件失败 %s: %s", target.c_str(),
                                  ::strerror_r(errno, buffer, sizeof buffer)));
    return false;
  }
  task.filePlaced.store(true, std::memory_order_release);
  ::unlink(controlPathOf(target).c_str());
  return true;
}

void startOver(Worker& worker, const std::string& reason) {
  TransferTask& task = worker.task;
  engineLog(task, &worker, kLogError, formatText("%s, 重新下载", reason.c_str()));
  std::string target = task.localPath();
  // Both go while the partial file is still claimed, the control file first: a control file
  // must never describe another partial file. The new partial file is claimed afresh.
  ::unlink(controlPathOf(target).c_str());
  ::unlink(partialPathOf(target).c_str());
  task.output.discard();
  task.segments.restore({}, 0);
  task.setTotalSize(0);
  task.bytesReceived = 0;
  task.resuming = false;
}

void saveTaskState(TransferTask& task, bool force) {
  if (!task.saveState) return;
  // Called after every event: the clock alone decides most calls, without a lock.
  uint64_t now = monotonicMilliseconds();
  if (!force && now - task.lastStateSaveMs < kStateSaveIntervalMs) return;
  if (!task.output.wasOpened() || task.filePlaced.load()) return;
  int64_t done = task.segments.sumDone();
  if (!force && done == task.lastSavedDone) return;
  task.lastStateSaveMs = now;
  task.lastSavedDone = done;
  if (task.saveState(task) || task.stateSaveFailed) return;
  task.stateSaveFailed = true;
  engineLog(
      task, nullptr, kLogError,
      formatText("无法写入控制文件 %s, 中断后将不能续传", controlPathOf(task.localPath()).c_str()));
}

int32_t unfinishedSegments(const TransferTask& task) {
  return task.segments.unfinishedCount();
}
