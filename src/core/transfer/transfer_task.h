#pragma once
// One transfer of a remote file into a local file: its settings, counters, segment table,
// output file, protocol layer, workers and controller thread.
//
// Ownership: startTransferTask creates the task and starts its controller thread; from then
// on the engine owns it. The controller ends the task: it joins every worker, makes the
// final status call (TaskEnded), calls owner->taskReleased() and frees the task. The caller
// may use the task pointer only until taskReleased() has been called (it may block that call
// with its own lock while it uses the task).
//
// Status events: transfer/task_status.h.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/url_split.h"
#include "transfer/engine_tuning.h"
#include "transfer/event_queue.h"
#include "transfer/expected_content.h"
#include "transfer/output_file.h"
#include "transfer/prefix_digest.h"
#include "transfer/protocol.h"
#include "transfer/segment_table.h"
#include "transfer/task_delta.h"
#include "transfer/task_outcome.h"
#include "transfer/task_owner.h"
#include "transfer/task_param.h"
#include "transfer/task_resume.h"
#include "transfer/task_status.h"

class Worker;

struct TransferTask {
  TransferTask() = default;
  ~TransferTask();
  TransferTask(const TransferTask&) = delete;
  TransferTask& operator=(const TransferTask&) = delete;

  // Kind and control.
  int32_t protocolNumber = 0;
  int32_t flags = 0;
  std::atomic<int32_t> stopFlag{0};  // 1 once stopped
  std::atomic<int32_t> stopping{0};  // 4 once stopping: no new worker starts
  std::atomic<int32_t> running{0};   // 1 while the controller loop runs
  // True while the task continues an earlier one from its control file; its first worker
  // clears it when the server's file turned out to differ (startOver).
  std::atomic<bool> resuming{false};
  // True while the partial file holds bytes of an earlier task (it was continued and not
  // started over since): such bytes that do not give the expected content are fetched once
  // more from byte 0.
  std::atomic<bool> resumedBytes{false};
  // Set while every worker is told to end so that the task can start over or fail as a whole
  // (serverFileChanged); no worker starts meanwhile.
  std::atomic<bool> windingDown{false};
  // The local path ended in "/" when the task was made: its name comes from the server.
  bool folderTarget = false;

  // A delta (transfer/task_delta.h): the source of local ranges, set when the task is made.
  std::unique_ptr<DeltaSource> delta;
  // True while the first request asks for the file's end only (the layer reads it).
  std::atomic<bool> deltaAsked{false};
  // Where the bytes of the first answer begin when the server sent the file's end only (the
  // layer sets it; -1 otherwise). Segments are then laid out by the first worker's delta.
  std::atomic<int64_t> deltaTailStart{-1};
  // The ranges taken from the local file (the first worker fills them before any other
  // worker starts; the controller reads them once every worker has ended).
  std::vector<ReusedRange> reusedRanges;
  bool refetchAsked = false;  // the reused ranges are fetched again (controller only)
  // Bytes taken from the local file, and bytes fetched from the server (body bytes only).
  std::atomic<int64_t> reusedBytes{0};
  std::atomic<int64_t> fetchedBytes{0};

  // Counters.
  std::atomic<int64_t> totalSize{0};  // 0 until learned
  std::atomic<int64_t> bytesReceived{0};
  std::atomic<int64_t> receivedSinceTake{0};
  std::atomic<int32_t> retryCount{0};
  std::atomic<bool> sizeReported{false};
  std::mutex workerLock;  // guards activeWorkers and startedWorkers
  std::condition_variable workersChanged;
  int32_t activeWorkers = 0;
  int32_t startedWorkers = 0;

  // Settings copied from the parameters.
  int32_t connectionCount = 1;
  int32_t connectTimeout = 20000;
  int32_t sendTimeout = 20000;
  int32_t receiveTimeout = 20000;
  int32_t exitWait = 1000;
  int32_t speedLimit = 0;
  std::atomic<int32_t> workerSpeedLimit{0};
  int32_t readSize = 20480;
  int32_t sendBlockSize = 1024;
  bool writeData = true;
  EngineTuning tuning;
  LogCallback logCallback;
  StatusCallback statusCallback;

  // Files.
  OutputFile output;
  SegmentTable segments;
  // What the bytes must be before they replace the local path; the running digest of the
  // written prefix when there is anything to check (null otherwise).
  ExpectedContent expected;
  std::unique_ptr<PrefixDigest> digest;
  // The digests of the finished bytes, computed once per layout (controller only).
  bool contentSettled = false;
  std::optional<ContentDigests> finishedDigests;
  int digestReadError = 0;

  // Starting over as a whole (serverFileChanged, restartDue).
  std::mutex restartMutex;
  int32_t fileChanges = 0;    // changes of the server's file seen while the task ran
  bool restartAsked = false;  // a worker asked for a start over
  bool refetched = false;     // continued bytes were fetched again once (controller only)
  // The task started over and its first worker is not started yet: an end-of-workers event
  // still queued from before belongs to the old round (controller only).
  bool restartPending = false;

  // Protocol layer (its per-task settings live inside it).
  std::unique_ptr<ProtocolLayer> protocol;

  // Workers, guarded by workerListLock.
  std::mutex workerListLock;
  std::vector<std::unique_ptr<Worker>> workers;

  EventQueue events;
  TaskOwner* owner = nullptr;
  std::thread controller;

  // Wakes sleeping workers (retry wait, rate pacing) when a stop is requested.
  std::mutex stopMutex;
  std::condition_variable stopSignal;

  std::atomic<bool> filePlaced{false};  // the finished file is under its name

  // The control file: written by saveState (controller thread only, see task_resume.h).
  StateSaver saveState;
  LateResumePlanner lateResume;  // first worker, for a folderTarget
  std::string startNote;
  uint64_t lastStateSaveMs = 0;
  int64_t lastSavedDone = -1;
  bool stateSaveFailed = false;  // logged once

  // The local path (guarded: the first worker may rewrite it while others read it).
  std::string localPath() const;
  // Replaces the local path; false (unchanged) when it is kLocalPathLimit bytes or longer.
  bool setLocalPath(std::string path);
  // Appends a server-given file name to a local path ending in "/"; false when the path
  // does not end in "/" or the result would be too long. Later URL-based naming is skipped.
  bool appendServerFileName(const std::string& name);
  bool nameFromServer() const;

  void setTotalSize(int64_t size) { totalSize.store(size, std::memory_order_release); }
  // Why a file of `total` bytes, as the server announced it, cannot be the expected content
  // (its expected size is another); none when it may be. Checked before any byte is taken, so
  // a server that would send more is never read past the expected size.
  std::optional<std::string> sizeRefusal(int64_t total) const;
  // Queues a status event for the controller (code 21 with this sub-code).
  void postStatus(TaskStatus code, Worker* worker, int64_t a, int64_t b);
  bool stopRequested() const { return stopFlag.load(std::memory_order_acquire) != 0; }
  // Wakes every sleeping worker.
  void wakeSleepers();

  // A worker ended with this failure (any worker thread); the last one recorded names the
  // task's failure, unless a final one was recorded.
  void recordFailure(FailureKind kind, std::string message);
  // The failure that ends the task whatever the workers report afterwards; the file is then
  // not placed, even if every byte arrived.
  void recordFinalFailure(FailureKind kind, std::string message);
  bool hasFinalFailure() const;
  // The content check of the finished bytes (controller).
  void recordContent(ContentDigests digests, std::vector<ContentMismatch> mismatches);
  void recordPlacement(std::optional<FileIdentity> placed);
  // Called once by the controller before the final status call: how the task ended.
  void settleOutcome(TaskEnding ending);
  TaskOutcome outcome() const;

 private:
  mutable std::mutex outcomeMutex_;
  TaskOutcome outcome_;
  bool failureFinal_ = false;
  mutable std::mutex pathMutex_;
  std::string localPath_;
  bool nameFromServer_ = false;
};

// Creates the task around `layer` (the protocol layer made for this URL) and starts its
// controller with param.connectionCount connections. Null when there is no layer, the local
// path is too long, or a thread cannot be started. `owner` (may be null) is told when the
// task is freed.
// `options` give the state saver and, for a task that continues an earlier one, its restored
// segments: the first worker then asks for its segment's rest and checks that the server's file
// is the one the segments describe before further workers start.
TransferTask* startTransferTask(const TaskParam& param, const UrlParts& url,
                                std::unique_ptr<ProtocolLayer> layer, const EngineTuning& tuning,
                                TaskOwner* owner, TaskStartOptions options = {});
// The first worker of a resumed task (on its thread, before any other worker exists): the
// server's file differs from the one the partial file holds. Both files are discarded and the
// task becomes a fresh one; the layer then lays the segments out as for a new task.
void startOver(Worker& worker, const std::string& reason);
// Controller: writes the control file when it is due (`force`: now), when the partial file
// was opened by this task. A failed write is logged once and otherwise ignored.
void saveTaskState(TransferTask& task, bool force);
// Tells every worker to end (the task starts over or fails as a whole); no new worker starts.
void windDown(TransferTask& task);
// A worker found that the server's file changed while the task ran (a 200 to an If-Range
// request, a validator that differs; `what` says which). The first time, the whole task
// starts over: every worker ends and the controller discards the partial file and lays the
// new file out afresh; true. A second time, the task ends as an integrity failure; false.
bool serverFileChanged(Worker& worker, const std::string& what);
// Controller, every worker ended and the task not stopped: true when the task starts over
// (a change of the server's file, or continued bytes that do not give the expected content);
// the reason is logged.
bool restartDue(TransferTask& task);
// Controller: makes the task a fresh one, its partial and control files discarded, and asks
// for its first worker (unless a stop came meanwhile).
void restartTask(TransferTask& task);
// Stops the task: no new worker starts, every worker is told to end, and the call waits up
// to the exit wait for them before asking the controller to shut the task down. The
// controller's final TaskEnded call may come after this returns.
void stopTransferTask(TransferTask& task);
// Bytes written into the file: the sum of the segments' done counts.
int64_t bytesWritten(const TransferTask& task);
// True once every byte was written and the partial file was renamed to the local path
// (valid in the final status call).
bool transferComplete(const TransferTask& task);
// Controller, after every worker ended and before the file is closed (so the rename happens
// while the partial file is still claimed): when every byte was written and gives the expected
// content, renames the partial file over the local path. Bytes that do not give the expected
// content are discarded (an integrity failure with the mismatches recorded); a rename that
// fails is a local file failure. False unless placed.
bool placeFinishedFile(TransferTask& task);
int32_t unfinishedSegments(const TransferTask& task);
