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
  if (failureFinal_) return;
  outcome_.kind = kind;
  outcome_.message = std::move(message);
}

void TransferTask::recordFinalFailure(FailureKind kind, std::string message) {
  std::lock_guard lock(outcomeMutex_);
  outcome_.kind = kind;
  outcome_.message = std::move(message);
  failureFinal_ = true;
}

bool TransferTask::hasFinalFailure() const {
  std::lock_guard lock(outcomeMutex_);
  return failureFinal_;
}

std::optional<std::string> TransferTask::sizeRefusal(int64_t total) const {
  if (!expected.size || *expected.size == total) return std::nullopt;
  return formatText("文件大小与预期不符: 服务器给出 %lld 字节, 应为 %lld 字节",
                    static_cast<long long>(total), static_cast<long long>(*expected.size));
}

void TransferTask::recordContent(ContentDigests digests, std::vector<ContentMismatch> mismatches) {
  std::lock_guard lock(outcomeMutex_);
  outcome_.digests = std::move(digests);
  outcome_.mismatches = std::move(mismatches);
}

void TransferTask::recordPlacement(std::optional<FileIdentity> placed) {
  std::lock_guard lock(outcomeMutex_);
  outcome_.placedFile = placed;
}

void TransferTask::settleOutcome(TaskEnding ending) {
  std::lock_guard lock(outcomeMutex_);
  outcome_.ending = ending;
  outcome_.fetchedBytes = fetchedBytes.load();
  outcome_.reusedBytes = reusedBytes.load();
  if (ending != TaskEnding::Failed) {
    outcome_.kind = FailureKind::None;
    outcome_.message.clear();
    outcome_.mismatches.clear();
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
  task->folderTarget = !path.empty() && path.back() == '/';
  task->expected = param.expected;
  if (!task->expected.empty()) {
    task->digest = std::make_unique<PrefixDigest>(task->segments, task->output,
                                                  task->expected.sha256.has_value());
  }
  task->saveState = std::move(options.saveState);
  task->lateResume = std::move(options.lateResume);
  task->startNote = std::move(options.note);
  if (options.delta && !options.resume && !task->folderTarget) {
    task->delta = std::move(options.delta);
    task->deltaAsked = true;
  }
  if (options.resume) {
    task->setTotalSize(options.resume->totalSize);
    task->segments.restore(std::move(options.resume->segments), options.resume->capacity);
    task->bytesReceived = task->segments.sumDone();
    task->resuming = true;
    task->resumedBytes = true;
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

namespace {

// The digests of the finished bytes, computed once (the prefix digest has most of them).
void settleContent(TransferTask& task) {
  if (task.contentSettled || !task.digest) return;
  task.contentSettled = true;
  task.finishedDigests = task.digest->finish(task.totalSize.load(), &task.digestReadError);
}

bool allBytesWritten(const TransferTask& task) {
  return task.output.wasOpened() && task.segments.allFinished() &&
         bytesWritten(task) == task.totalSize.load();
}

// The continued bytes do not give the expected content.
bool continuedBytesMismatch(TransferTask& task) {
  if (!task.resumedBytes.load() || task.expected.empty() || !allBytesWritten(task)) return false;
  settleContent(task);
  return task.finishedDigests && !compareContent(task.expected, *task.finishedDigests).empty();
}

// Every byte is there, some taken from the local file, and they do not give the expected
// content.
bool reusedBytesMismatch(TransferTask& task) {
  if (task.reusedRanges.empty() || task.expected.empty() || !allBytesWritten(task)) return false;
  settleContent(task);
  return task.finishedDigests && !compareContent(task.expected, *task.finishedDigests).empty();
}

// "MD5 应为 X, 实为 Y; ..."
std::string mismatchText(const std::vector<ContentMismatch>& mismatches) {
  std::string text;
  for (const ContentMismatch& mismatch : mismatches) {
    if (!text.empty()) text += "; ";
    text += formatText("%s 应为 %s, 实为 %s", mismatch.what.c_str(), mismatch.expected.c_str(),
                       mismatch.actual.c_str());
  }
  return text;
}

// Removes the control file and the partial file (still claimed by the task), the control file
// first: it must never describe another partial file.
void discardFiles(const TransferTask& task) {
  std::string target = task.localPath();
  ::unlink(controlPathOf(target).c_str());
  ::unlink(partialPathOf(target).c_str());
}

// False (the failure recorded, the bytes discarded) when the bytes do not give the expected
// content.
bool contentAccepted(TransferTask& task) {
  if (task.expected.empty()) return true;
  settleContent(task);
  if (!task.finishedDigests) {
    char buffer[256];
    int error = task.digestReadError > 0 ? task.digestReadError : EIO;
    task.recordFailure(
        FailureKind::LocalFile,
        formatText("无法读回部分文件 %s 以校验: %s", partialPathOf(task.localPath()).c_str(),
                   ::strerror_r(error, buffer, sizeof buffer)));
    return false;
  }
  std::vector<ContentMismatch> mismatches = compareContent(task.expected, *task.finishedDigests);
  bool accepted = mismatches.empty();
  if (!accepted) {
    std::string text = "下载的文件与预期不符, 已丢弃: " + mismatchText(mismatches);
    engineLog(task, nullptr, kLogError, text);
    task.recordFailure(FailureKind::Integrity, std::move(text));
    discardFiles(task);
    task.output.discard();  // nothing left to describe in a control file
  }
  task.recordContent(*task.finishedDigests, std::move(mismatches));
  return accepted;
}

}  // namespace

bool placeFinishedFile(TransferTask& task) {
  if (task.hasFinalFailure() || !allBytesWritten(task) || !contentAccepted(task)) return false;
  std::string target = task.localPath();
  if (::rename(partialPathOf(target).c_str(), target.c_str()) != 0) {
    char buffer[256];
    task.recordFailure(FailureKind::LocalFile,
                       formatText("重命名文件失败 %s: %s", target.c_str(),
                                  ::strerror_r(errno, buffer, sizeof buffer)));
    return false;
  }
  task.recordPlacement(task.output.identity());
  task.filePlaced.store(true, std::memory_order_release);
  ::unlink(controlPathOf(target).c_str());
  return true;
}

void windDown(TransferTask& task) {
  task.windingDown.store(true);
  task.wakeSleepers();
  std::lock_guard lock(task.workerListLock);
  for (auto& worker : task.workers) worker->requestStop();
}

bool serverFileChanged(Worker& worker, const std::string& what) {
  TransferTask& task = worker.task;
  bool startsOver;
  {
    std::lock_guard lock(task.restartMutex);
    if (task.restartAsked) return true;  // another worker saw it first
    startsOver = task.fileChanges++ == 0;
    task.restartAsked = startsOver;
  }
  if (startsOver) {
    engineLog(task, &worker, kLogError, formatText("%s, 整个任务从头重新下载", what.c_str()));
  } else {
    std::string text = formatText("%s: 服务器上的文件在下载过程中再次改变, 下载终止", what.c_str());
    engineFailure(worker, FailureKind::Integrity, text);
    task.recordFinalFailure(FailureKind::Integrity, std::move(text));
  }
  windDown(task);
  return startsOver;
}

bool restartDue(TransferTask& task) {
  if (task.stopRequested()) return false;
  {
    std::lock_guard lock(task.restartMutex);
    if (task.restartAsked) {
      task.restartAsked = false;
      return true;
    }
  }
  if (!task.refetched && reusedBytesMismatch(task)) {
    task.refetched = true;
    task.refetchAsked = true;
    engineLog(task, nullptr, kLogError,
              "组装的文件与预期不符: " +
                  mismatchText(compareContent(task.expected, *task.finishedDigests)) +
                  ", 从服务器重新下载本地复用的部分");
    return true;
  }
  if (task.refetched || !continuedBytesMismatch(task)) return false;
  task.refetched = true;
  engineLog(task, nullptr, kLogError,
            "续传得到的文件与预期不符: " +
                mismatchText(compareContent(task.expected, *task.finishedDigests)) +
                ", 从头重新下载");
  return true;
}

namespace {

// Every worker has ended and the task's state is set for another round: its workers start
// again, or, when a stop came meanwhile, nothing starts and the task ends.
void startNextRound(TransferTask& task) {
  {
    std::lock_guard lock(task.workerLock);
    task.startedWorkers = 0;
  }
  task.windingDown.store(false);
  task.stopping.store(0);
  TaskEvent event;
  if (task.stopRequested()) {
    task.stopping.store(4);
    event.code = kEventNoWorkerLeft;
  } else {
    event.code = kEventStartWorker;
    event.b = task.connectionCount;
    task.restartPending = true;
  }
  task.events.post(std::move(event));
}

// Every worker has ended: the ranges taken from the local file become missing, everything
// else stays, and the task goes on as a resumed one (its first worker checks the server's file
// before the others start).
void refetchReused(TransferTask& task) {
  std::vector<Segment> table = refetchLayout(task.totalSize.load(), task.reusedRanges);
  int32_t capacity = static_cast<int32_t>((table.size() + 9) / 10 * 10);
  task.reusedRanges.clear();
  task.reusedBytes = 0;
  task.segments.restore(std::move(table), capacity);
  task.contentSettled = false;
  task.finishedDigests.reset();
  task.digestReadError = 0;
  task.resuming = true;
  startNextRound(task);
}

}  // namespace

void restartTask(TransferTask& task) {
  if (task.refetchAsked) {
    task.refetchAsked = false;
    refetchReused(task);
    return;
  }
  // Every worker has ended; the partial file is still claimed while it goes.
  discardFiles(task);
  task.output.discard();
  task.segments.restore({}, 0);
  task.setTotalSize(0);
  task.bytesReceived = 0;
  task.resuming = false;
  task.resumedBytes = false;
  task.reusedRanges.clear();
  task.reusedBytes = 0;
  task.deltaTailStart = -1;
  task.deltaAsked = task.delta != nullptr;
  task.sizeReported = false;
  task.contentSettled = false;
  task.finishedDigests.reset();
  task.digestReadError = 0;
  task.lastSavedDone = -1;
  startNextRound(task);
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
  task.resumedBytes = false;
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
