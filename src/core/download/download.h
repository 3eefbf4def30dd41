#pragma once
// The program's handle on one transfer at a time.
//
// Threads: every operation may be called from any thread, including from the task's status
// callback on its controller thread (except the destructor). The object holds a lock while
// an operation uses the task, so the task cannot be freed under it.
//
// End of a task: the final status call (TaskEnded) carries the total size, or the bytes
// written when the task was stopped. How the task ended (complete, stopped, failed and why) is
// told by outcome(), valid inside that call and after it.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "transfer/engine_tuning.h"
#include "transfer/task_outcome.h"
#include "transfer/task_owner.h"
#include "transfer/task_param.h"

// The values a snapshot answers; the numbers are those of the stored snapshot queries.
enum class SnapshotQuery : int32_t {
  TotalSize = 1,      // total size of the file
  BytesDone = 2,      // bytes written, the sum of the segments' done counts
  SegmentCount = 3,   // number of segments
  SegmentStart = 4,   // start offset of segment `index` (1-based)
  SegmentLength = 5,  // length of segment `index`
  SegmentDone = 6,    // bytes written of segment `index`
};

// The sizes of the running task.
struct DownloadProgress {
  int64_t total = 0;     // total size of the file; 0 until known
  int64_t received = 0;  // bytes written into the file so far
  int64_t fetched = 0;   // body bytes fetched from the server by this task
  int64_t reused = 0;    // bytes a delta took from the local file
};

class Download : private TaskOwner {
 public:
  Download() = default;
  Download(const Download&) = delete;
  Download& operator=(const Download&) = delete;
  // Stops a running task and waits until its controller has released it.
  ~Download();

  // Starts a transfer. Its bytes go to PATH.part beside the local path PATH, its state to
  // PATH.part.state (at least once a second while data flows, and when it stops); PATH.part
  // is renamed to PATH once complete (with param.expected, only when the bytes give it). When
  // PATH.part.state names the same URL and is intact, the transfer continues from it, fetching
  // only the missing ranges; otherwise an earlier partial file is replaced. A PATH ending in
  // "/" gets its name from the server's answer; the status callback then decides
  // (TaskStatus::NameKnown) whether a partial file of that name is continued the same way. False
  // when a task is still attached (also a stopped one that has not been released yet), the URL's
  // scheme is unknown, the URL names no path, the local path has kLocalPathLimit bytes or more, or
  // the task cannot be started; no callback follows a false. The second form gives the task shorter
  // engine timings (tests).
  bool start(const TaskParam& param);
  bool start(const TaskParam& param, const EngineTuning& tuning);
  // Bytes received since the previous call; 0 when idle.
  int32_t takeReceivedBytes();
  // Serialises the running task into `bytes`; false (bytes untouched) when idle, stopping,
  // or when the snapshot would pass 2048 bytes.
  bool snapshot(std::vector<uint8_t>& bytes);
  // Reads one value back from a snapshot (`index` is used by the segment queries). -1 on any
  // failure: a damaged or foreign array, one longer than 2048 bytes, an unknown kind, an
  // index out of range.
  static int32_t querySnapshot(const std::vector<uint8_t>& bytes, SnapshotQuery kind,
                               int32_t index);
  // The running task's sizes; zeros when idle or once stopped.
  DownloadProgress progress();
  // How the last task ended: valid inside its final TaskEnded call and after it. Before any
  // task has ended: Failed, no kind, no message.
  TaskOutcome outcome();
  // Tells the running task to stop; returns after at most the task's exit wait.
  void stop();
  // Waits until no task is attached (its final TaskEnded call has returned and the task was
  // released), at most `limit`; true when idle.
  bool waitUntilIdle(std::chrono::milliseconds limit);

 private:
  void taskReleased(TransferTask& task) override;

  std::mutex mutex_;
  std::condition_variable idle_;
  TransferTask* task_ = nullptr;      // the running task; null once stopped
  TransferTask* attached_ = nullptr;  // the task holding the back-reference until released
  TaskOutcome lastOutcome_;           // of the last task released
};
