// A worker thread: open, receive, write, retry, move on, end.
#include "transfer/worker.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <system_error>

#include "platform/clock.h"
#include "transfer/engine_log.h"
#include "transfer/name_clash.h"
#include "transfer/transfer_task.h"

namespace {

constexpr char kCreateFileFailed[] =
    "创建文件错误，超出最大支持下载长度或磁盘不可写或磁盘没有空间或同名文件已存在";

// The system's text for an errno value.
std::string systemErrorText(int code) {
  char buffer[256];
  return ::strerror_r(code, buffer, sizeof buffer);
}

// Why the partial file at `partial` could not be had.
std::string outputErrorText(const std::string& partial, const OutputFileError& why) {
  switch (why.problem) {
    case ClaimProblem::Busy:
      return why.holder > 0 ? formatText("部分文件 %s 正由另一个下载 (进程 %d) 写入",
                                         partial.c_str(), static_cast<int>(why.holder))
                            : formatText("部分文件 %s 正由另一个下载写入", partial.c_str());
    case ClaimProblem::NotRegular:
      return formatText("部分文件 %s 是符号链接或不是普通文件, 拒绝写入", partial.c_str());
    case ClaimProblem::Linked:
      return formatText("部分文件 %s 另有硬链接, 拒绝写入", partial.c_str());
    case ClaimProblem::Missing:
      return systemErrorText(ENOENT);
    case ClaimProblem::None:
    case ClaimProblem::System:
      break;
  }
  return systemErrorText(why.error);
}

}  // namespace

Worker::Worker(TransferTask& owner, bool leads) : task(owner), leads_(leads) {}

Worker::~Worker() {
  join();
}

bool Worker::start() {
  runFlag_.store(1, std::memory_order_release);
  try {
    thread_ = std::thread(&Worker::run, this);
  } catch (const std::system_error&) {
    runFlag_.store(-1, std::memory_order_release);
    return false;
  }
  return true;
}

void Worker::join() {
  if (thread_.joinable()) thread_.join();
}

void Worker::requestStop() {
  int32_t running = 1;
  runFlag_.compare_exchange_strong(running, 0, std::memory_order_acq_rel);
  task.wakeSleepers();
}

bool Worker::stopRequested() const {
  return runFlag_.load(std::memory_order_acquire) == 0 || task.stopRequested() ||
         task.windingDown.load(std::memory_order_acquire);
}

void Worker::countReceived(size_t bytes) {
  received_.fetch_add(static_cast<int64_t>(bytes), std::memory_order_relaxed);
  task.bytesReceived.fetch_add(static_cast<int64_t>(bytes), std::memory_order_relaxed);
  task.receivedSinceTake.fetch_add(static_cast<int64_t>(bytes), std::memory_order_relaxed);
  task.fetchedBytes.fetch_add(static_cast<int64_t>(bytes), std::memory_order_relaxed);
}

void Worker::noteFailure(FailureKind kind, std::string message) {
  failureKind_ = kind;
  failure_ = std::move(message);
}

int64_t Worker::position() const {
  int32_t index = segmentIndex();
  return index < 0 ? -1 : task.segments.at(index).position();
}

int64_t Worker::segmentEnd() const {
  int32_t index = segmentIndex();
  return index < 0 ? -1 : task.segments.at(index).end();
}

void Worker::run() {
  task.postStatus(TaskStatus::WorkerStarted, this, 0, 0);
  buffer_ = std::make_unique<uint8_t[]>(kTransferBufferSize);
  finish(work());
}

Worker::End Worker::work() {
  BodyBuffer body{buffer_.get(), kTransferBufferSize, 0};
  // A resumed task claims its partial file before it asks the server anything: a file that
  // another download writes is never touched, not even when the server's file has changed.
  // (A task that fetches its reused ranges again still holds its file open.)
  if (leads_ && task.resuming && !task.output.isOpen() && !reopenOutputFile()) return End::Error;
  Step opened = open(leads_, body);
  if (opened != Step::Go) return opened == Step::Stopped ? End::Normal : End::Error;
  if (leads_ && task.deltaTailStart.load() >= 0) {
    DeltaStep delta = takeDelta(body);
    if (delta == DeltaStep::Taken) return continueMissingRanges(body);
    if (delta != DeltaStep::Declined) return delta == DeltaStep::Stopped ? End::Normal : End::Error;
    // An ordinary download from here: the whole file over the first connection.
    opened = open(true, body);
    if (opened != Step::Go) return opened == Step::Stopped ? End::Normal : End::Error;
  }
  if (leads_ && task.resuming) {
    // The server's file is the one the partial file holds: go on where it stopped.
    announceResume();
    announceFirstSegment();
  } else if (leads_) {
    // A fresh task, or a resumed one whose server file differed (the layer started over).
    if (!task.segments.take(0, this)) return End::Error;
    assignSegment(0);
    task.segments.setStreamOwner(this);
    Prepared prepared = prepareOutputFile();
    if (prepared == Prepared::Failed) return stopRequested() ? End::Normal : End::Error;
    if (prepared == Prepared::Continued) return continueEarlierFile(body);
    announceFirstSegment();
  } else {
    task.postStatus(TaskStatus::FirstRange, this, position(), segmentEnd());
  }
  return receiveSegments(body.length);
}

// The partial file of an earlier download of the same file is there, its name learned only
// now: the answer from byte 0 is dropped, and the task continues as a resumed one.
Worker::End Worker::continueEarlierFile(BodyBuffer& body) {
  closeConnections();
  assignSegment(-1);
  announceResume();
  return continueMissingRanges(body);
}

Worker::End Worker::continueMissingRanges(BodyBuffer& body) {
  int32_t index = task.segments.takeOrSplit(this);
  if (index < 0) {
    // Every byte was there already.
    if (!task.sizeReported.exchange(true)) {
      task.postStatus(TaskStatus::SizeKnown, this, task.totalSize.load(), 0);
    }
    return End::Normal;
  }
  assignSegment(index);
  Step opened = open(false, body);
  if (opened != Step::Go) return opened == Step::Stopped ? End::Normal : End::Error;
  announceFirstSegment();
  return receiveSegments(body.length);
}

void Worker::announceResume() {
  task.postStatus(TaskStatus::Resumed, this, task.segments.sumDone(),
                  task.protocol->detectsChange() ? 1 : 0);
  if (task.protocol->detectsChange()) return;
  engineLog(
      task, this, kLogError,
      task.expected.empty()
          ? "服务器没有给出文件的版本 (ETag, Last-Modified): 续传前后服务器上文件的改变无法发现"
          : "服务器没有给出文件的版本 (ETag, Last-Modified): 续传的文件由预期的摘要校验");
}

Worker::Step Worker::open(bool first, BodyBuffer& body) {
  while (true) {
    body.length = 0;
    attemptPosition_ = std::max<int64_t>(position(), 0);
    int32_t result =
        first ? task.protocol->openFirst(*this, body) : task.protocol->openSegment(*this, body);
    if (result == kOpenReady) {
      noteFailure(FailureKind::None, std::string());
      task.segments.setOwnerLink(segmentIndex(), OwnerLink::Receiving);
      return Step::Go;
    }
    closeConnections();
    if (result == kOpenDropped) return Step::Stopped;
    if (result != kOpenTransient) return Step::Failed;
    Step retry = retryAfterFailure();
    if (retry != Step::Go) return retry;
    if (!first && segmentTakenOver()) return Step::Go;  // nothing left to open for
  }
}

// Called with the connection closed and everything received written. An attempt that moved
// the segment's file position on is retried at once: the link works, it only broke. One
// that did not (nothing arrived, or only bytes the file already held: a server that ignores
// ranges sends the file from byte 0 again) counts against the retry limit and waits the
// retry wait, during which a free worker may take over the rest of its segment. While it
// reconnects, a free worker may take the tail half of its segment.
Worker::Step Worker::retryAfterFailure() {
  if (stopRequested()) return Step::Stopped;
  if (task.running.load() == 0) return Step::Failed;
  int32_t index = segmentIndex();
  task.segments.setOwnerLink(index, OwnerLink::Reconnecting);
  task.wakeSleepers();  // workers standing by may share this segment now
  // The same request failing the same way again never counts as progress, whatever the
  // position did meanwhile (a segment that went back to byte 0 and was cut again).
  bool repeated = attemptPosition_ == lastFailedPosition_ && failure_ == lastFailure_;
  lastFailedPosition_ = attemptPosition_;
  lastFailure_ = failure_;
  bool progressed = !repeated && position() > attemptPosition_;
  if (progressed) {
    retriesUsed_ = 0;
  } else if (retriesUsed_ >= task.tuning.retryLimit) {
    return Step::Failed;
  } else {
    ++retriesUsed_;
  }
  task.retryCount.fetch_add(1, std::memory_order_relaxed);
  if (progressed) {
    engineLog(task, this, kLogProgress, "立即重试");
    return Step::Go;
  }
  engineLog(task, this, kLogProgress, formatText("等待%d秒后重试", task.tuning.retryWaitMs / 1000));
  task.segments.setOwnerLink(index, OwnerLink::Waiting);
  task.wakeSleepers();
  {
    std::unique_lock lock(task.stopMutex);
    task.stopSignal.wait_for(lock, std::chrono::milliseconds(task.tuning.retryWaitMs),
                             [this] { return stopRequested() || segmentTakenOver(); });
  }
  // From here on the rest can no longer be taken over whole (only split); a take-over that
  // came first has finished the segment.
  task.segments.setOwnerLink(index, OwnerLink::Reconnecting);
  if (segmentTakenOver()) lostSegment_ = true;
  return stopRequested() ? Step::Stopped : Step::Go;
}

bool Worker::segmentTakenOver() const {
  int32_t index = segmentIndex();
  return index >= 0 && task.segments.at(index).finished();
}

Worker::Prepared Worker::prepareOutputFile() {
  std::string path = task.localPath();
  if (!path.empty() && path.back() == '/' && !task.nameFromServer()) {
    std::string name = fileNameFromUrlPath(task.protocol->pathForFileName());
    if (!isUsableFileName(name) || !task.setLocalPath(path + name)) {
      engineFailure(
          *this, FailureKind::LocalFile,
          formatText("%s: 无法从地址得到可用的文件名 [%s]", kCreateFileFailed, name.c_str()));
      return Prepared::Failed;
    }
  }
  if (task.folderTarget) {
    Prepared named = settleNamedTarget();
    if (named != Prepared::Created) return named;
  }
  if (!settleNameClash(*this)) return Prepared::Failed;
  if (stopRequested()) return Prepared::Failed;  // stopped while the name clash was asked
  // A partial file left by an earlier attempt holds nothing this task can use; it is replaced,
  // its control file removed first (create does both while it holds the partial file).
  std::string target = task.localPath();
  std::string partial = partialPathOf(target);
  OutputFileError why;
  if (!task.output.create(partial, task.totalSize.load(), controlPathOf(target), &why)) {
    engineFailure(*this, FailureKind::LocalFile,
                  formatText("%s: %s", kCreateFileFailed, outputErrorText(partial, why).c_str()));
    return Prepared::Failed;
  }
  return Prepared::Created;
}

// A folder target has its name: the caller decides what becomes of a partial file of that
// name (NameKnown). Created means: go on and make the partial file.
Worker::Prepared Worker::settleNamedTarget() {
  int32_t answer = 0;
  if (task.statusCallback) {
    answer = task.statusCallback(TaskStatus::NameKnown, this,
                                 static_cast<int32_t>(task.totalSize.load()), 0, &task);
  }
  std::string target = task.localPath();
  if (answer != 0 && answer != 2) {
    engineFailure(*this, FailureKind::LocalFile,
                  formatText("%s: 用户选择放弃下载", target.c_str()));
    return Prepared::Failed;
  }
  if (answer == 0 || !task.lateResume || stopRequested()) return Prepared::Created;
  std::string note;
  std::optional<TaskResume> earlier = task.lateResume(target, note);
  if (!earlier) {
    if (!note.empty()) engineLog(task, this, kLogProgress, note);
    return Prepared::Created;
  }
  if (earlier->totalSize != task.totalSize.load() ||
      !task.protocol->describesSameFile(earlier->protocol)) {
    engineLog(task, this, kLogError,
              formatText("%s: 服务器上的文件已改变, 重新下载", partialPathOf(target).c_str()));
    return Prepared::Created;
  }
  // The table first: once the file is open, the controller may save the table's state.
  task.segments.restore(std::move(earlier->segments), earlier->capacity);
  std::string partial = partialPathOf(target);
  OutputFileError why;
  if (!task.output.openExisting(partial, earlier->totalSize, &why)) {
    engineFailure(*this, FailureKind::LocalFile,
                  formatText("打开文件失败，请检查磁盘是否存在 %s 这个文件: %s", target.c_str(),
                             outputErrorText(partial, why).c_str()));
    return Prepared::Failed;
  }
  int64_t done = task.segments.sumDone();
  task.bytesReceived = done;
  task.resuming = true;
  task.resumedBytes = true;
  engineLog(task, this, kLogProgress,
            formatText("从控制文件续传: 已有 %lld / %lld 字节", static_cast<long long>(done),
                       static_cast<long long>(earlier->totalSize)));
  return Prepared::Continued;
}

bool Worker::reopenOutputFile() {
  std::string path = task.localPath();
  std::string partial = partialPathOf(path);
  OutputFileError why;
  if (task.output.openExisting(partial, task.totalSize.load(), &why)) return true;
  engineFailure(*this, FailureKind::LocalFile,
                formatText("打开文件失败，请检查磁盘是否存在 %s 这个文件: %s", path.c_str(),
                           outputErrorText(partial, why).c_str()));
  return false;
}

// The first worker has its first bytes: the size is known and the others may start, each
// taking a free segment or splitting the largest one.
void Worker::announceFirstSegment() {
  task.postStatus(TaskStatus::FirstRange, this, position(), segmentEnd());
  if (!task.sizeReported.exchange(true)) {
    task.postStatus(TaskStatus::SizeKnown, this, task.totalSize.load(), 0);
  }
  int32_t further = task.resuming ? task.connectionCount - 1 : task.segments.count() - 1;
  for (int32_t i = 0; i < further; ++i) {
    TaskEvent event;
    event.code = kEventStartWorker;
    event.b = 1;
    task.events.post(std::move(event));
  }
}

Worker::End Worker::receiveSegments(size_t bodyLength) {
  size_t buffered = 0;
  auto takeBody = [&](size_t length) {
    if (length == 0) return;
    received_.fetch_add(static_cast<int64_t>(length), std::memory_order_relaxed);
    task.bytesReceived.fetch_add(static_cast<int64_t>(length), std::memory_order_relaxed);
    task.fetchedBytes.fetch_add(static_cast<int64_t>(length), std::memory_order_relaxed);
    task.postStatus(TaskStatus::Data, this, static_cast<int64_t>(length), 0);
    buffered = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(length), segmentEnd() - position()));
  };
  takeBody(bodyLength);
  while (true) {
    // One segment: receive until its end, flushing every full buffer.
    while (true) {
      bool complete = position() + static_cast<int64_t>(buffered) >= segmentEnd();
      if (complete || buffered == kTransferBufferSize || stopRequested()) {
        if (!flush(buffered)) return End::Error;
      }
      if (stopRequested()) return End::Normal;
      if (complete) break;
      Step step = receivePass(buffered);
      if (step == Step::Stopped) return flush(buffered) ? End::Normal : End::Error;
      if (step == Step::Failed) return End::Error;
    }
    int32_t next = nextSegment();
    if (next == segmentIndex()) continue;
    if (next < 0) return End::Normal;
    assignSegment(next);
    task.wakeSleepers();  // the owner of a segment taken over ends its retry wait
    closeConnections();
    BodyBuffer body{buffer_.get(), kTransferBufferSize, 0};
    Step opened = open(false, body);
    if (opened != Step::Go) return opened == Step::Stopped ? End::Normal : End::Error;
    task.postStatus(TaskStatus::NextRange, this, position(), segmentEnd());
    takeBody(body.length);
  }
}

// The segment is complete: the first free segment, else a share of a segment whose owner has
// no connection (moveOn). A segment that grew meanwhile (the task fell back to this one
// connection) is read on: its own index comes back. With nothing to take, the worker stands
// by without a connection while other connections still fetch: when one of them drops, its
// range is shared at once rather than left to one connection while the others sit idle.
// -1 when the worker should end.
//
// A worker whose own segment was taken over does not take over another's in turn, and does
// not stand by: two workers whose connections fail at once would otherwise hand a range back
// and forth without waiting.
int32_t Worker::nextSegment() {
  bool mayTakeOver = !lostSegment_;
  lostSegment_ = false;
  int32_t current = segmentIndex();
  int32_t next = task.segments.moveOn(current, this, mayTakeOver);
  if (next >= 0 || !mayTakeOver) return next;
  task.protocol->finishNormally(*this);
  closeConnections();
  std::unique_lock lock(task.stopMutex);
  while (true) {
    // Under stopMutex: whoever frees work changes the table first and then wakes the
    // sleepers under this lock, so no wake-up is missed between the look and the wait.
    if (stopRequested() || !task.segments.workMayComeFree()) return -1;
    next = task.segments.moveOn(current, this, true);
    if (next >= 0) return next;
    task.stopSignal.wait(lock);
  }
}

Worker::Step Worker::receivePass(size_t& buffered) {
  int32_t limit = task.workerSpeedLimit.load(std::memory_order_relaxed);
  size_t readSize = static_cast<size_t>(limit > 0 ? limit : task.readSize);
  int64_t left = segmentEnd() - position() - static_cast<int64_t>(buffered);
  ReceiveRequest request;
  request.wanted = std::min({kTransferBufferSize - buffered, static_cast<size_t>(left), readSize});
  request.largestSingle = std::min(kTransferBufferSize, readSize);
  request.idleTimeoutMs = task.receiveTimeout;
  ReceiveResult got = receiveWithTimeout(dataSocket.get(), buffer_.get() + buffered, request, *this,
                                         this, dataFilter.get());
  if (got.received > 0) {
    task.postStatus(TaskStatus::Data, this, static_cast<int64_t>(got.received), 0);
    buffered += got.received;
    paceReceive(got.received);
  }
  if (got.code >= 0) return stopRequested() ? Step::Stopped : Step::Go;
  // A close is normal only once the segment is complete (a split may have shortened it).
  if (got.code == kErrorPeerClosed && position() + static_cast<int64_t>(buffered) >= segmentEnd()) {
    return Step::Go;
  }
  if (stopRequested()) return Step::Stopped;
  engineFailure(*this, FailureKind::Network, errorText(got.code));
  closeConnections();
  if (!flush(buffered)) return Step::Failed;
  Step retry = retryAfterFailure();
  if (retry != Step::Go) return retry;
  if (segmentTakenOver()) return Step::Go;  // the loop moves on
  BodyBuffer body{buffer_.get(), kTransferBufferSize, 0};
  Step opened = open(false, body);
  if (opened != Step::Go) return opened;
  if (body.length > 0) {
    received_.fetch_add(static_cast<int64_t>(body.length), std::memory_order_relaxed);
    task.bytesReceived.fetch_add(static_cast<int64_t>(body.length), std::memory_order_relaxed);
    task.fetchedBytes.fetch_add(static_cast<int64_t>(body.length), std::memory_order_relaxed);
    task.postStatus(TaskStatus::Data, this, static_cast<int64_t>(body.length), 0);
    buffered = static_cast<size_t>(
        std::min<int64_t>(static_cast<int64_t>(body.length), segmentEnd() - position()));
  }
  return Step::Go;
}

bool Worker::flush(size_t& buffered) {
  if (buffered == 0) return true;
  int32_t index = segmentIndex();
  Segment segment = task.segments.at(index);
  size_t count = static_cast<size_t>(
      std::clamp<int64_t>(segment.end() - segment.position(), 0, static_cast<int64_t>(buffered)));
  buffered = 0;
  int error = 0;
  if (task.writeData && !task.output.write(segment.position(), buffer_.get(), count, &error)) {
    engineFailure(*this, FailureKind::LocalFile,
                  formatText("写入文件失败: %s", systemErrorText(error).c_str()));
    return false;
  }
  int64_t committed = task.segments.commit(index, static_cast<int64_t>(count));
  if (task.digest && committed > 0) {
    task.digest->advance(segment.position(), buffer_.get(), static_cast<size_t>(committed));
  }
  return true;
}

void Worker::paceReceive(size_t bytes) {
  int32_t limit = task.workerSpeedLimit.load(std::memory_order_relaxed);
  if (limit <= 0) return;
  uint64_t now = monotonicMilliseconds();
  bool fellBehind =
      pacedLimit_ > 0 &&
      now > paceStartMs_ + static_cast<uint64_t>(pacedBytes_ * 1000 / pacedLimit_) + 1000;
  if (limit != pacedLimit_ || fellBehind) {
    pacedLimit_ = limit;
    paceStartMs_ = now;
    pacedBytes_ = 0;
  }
  pacedBytes_ += static_cast<int64_t>(bytes);
  uint64_t due = paceStartMs_ + static_cast<uint64_t>(pacedBytes_ * 1000 / limit);
  if (due > now) sleepUnlessStopped(static_cast<int64_t>(due - now));
}

bool Worker::sleepUnlessStopped(int64_t milliseconds) {
  std::unique_lock lock(task.stopMutex);
  task.stopSignal.wait_for(lock, std::chrono::milliseconds(milliseconds),
                           [this] { return stopRequested(); });
  return !stopRequested();
}

void Worker::closeConnections() {
  task.segments.leaveStream(this);
  task.protocol->closeConnections(*this);
  dataFilter.reset();
  dataSocket.reset();
  controlSocket.reset();
}

void Worker::finish(End end) {
  if (end == End::Normal && !stopRequested()) task.protocol->finishNormally(*this);
  closeConnections();
  buffer_.reset();
  int32_t index = segmentIndex();
  int64_t reached = index < 0 ? 0 : position();
  task.postStatus(end == End::Normal ? TaskStatus::WorkerDone : TaskStatus::WorkerFailed, this,
                  reached, 0);
  task.segments.release(index);
  task.wakeSleepers();  // a worker standing by may take the released segment, or end
  if (end == End::Error) task.recordFailure(failureKind_, failure_);
  runFlag_.store(-1, std::memory_order_release);
  bool last;
  {
    std::lock_guard lock(task.workerLock);
    last = --task.activeWorkers == 0;
  }
  task.workersChanged.notify_all();
  ended_.store(true, std::memory_order_release);
  if (last) {
    TaskEvent event;
    event.code = kEventNoWorkerLeft;
    task.events.post(std::move(event));
  }
}
