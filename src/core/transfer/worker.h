#pragma once
// One connection thread of a transfer: it opens its connection through the task's protocol
// layer, receives into its own 20480-byte buffer, writes each full buffer (or a segment's
// last bytes) into the output file, retries transient failures, and moves on to further
// segments.
//
// Lifetime: the task owns its workers (task.workers) and joins every worker thread before it
// frees anything, so a worker may use its task until its thread ends. No thread is killed:
// requestStop() clears the run flag and the worker ends within a bounded time (every wait
// in it watches stopRequested()).
//
// What a protocol layer may use, on the worker's own thread: task, dataSocket, dataFilter
// (a TLS stream above dataSocket: the worker reads through it when set), controlSocket,
// protocolState, position(), segmentEnd(), and the worker as the
// StopCondition and ReceiveCounter of the socket primitives.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_io.h"
#include "platform/unique_fd.h"
#include "transfer/protocol.h"
#include "transfer/task_delta.h"
#include "transfer/task_outcome.h"

struct TransferTask;

class Worker final : public StopCondition, public ReceiveCounter {
 public:
  // The first worker of a task (`leads`) opens the first connection and asks for the further
  // workers: in a fresh task it lays out the segments; in a resumed one it is given its
  // segment like any other worker (assignSegment before start()) and checks the server's
  // file before the others start.
  Worker(TransferTask& task, bool leads);
  ~Worker();  // joins the thread when it was started
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void assignSegment(int32_t index) { segmentIndex_.store(index, std::memory_order_release); }
  // Starts the thread; false when it cannot be created.
  bool start();
  void join();
  // Tells the worker to end (run flag 0); it ends on its own within a bounded time.
  void requestStop();
  // True once the thread has finished its work (run flag back at -1).
  bool hasEnded() const { return ended_.load(std::memory_order_acquire); }

  // StopCondition: the worker or its task was told to stop.
  bool stopRequested() const override;
  // ReceiveCounter: adds body bytes to the task's two received counters and the worker's.
  void countReceived(size_t bytes) override;

  int32_t segmentIndex() const { return segmentIndex_.load(std::memory_order_acquire); }
  // Start + done of the current segment (the next byte to fetch); -1 without a segment.
  int64_t position() const;
  // Start + length of the current segment; -1 without a segment.
  int64_t segmentEnd() const;
  int64_t receivedBytes() const { return received_.load(std::memory_order_relaxed); }
  // Keeps the latest failure of this worker's connection (worker thread only); it becomes the
  // task's failure when the worker ends with an error. A successful open forgets it.
  void noteFailure(FailureKind kind, std::string message);
  bool leadsTask() const { return leads_; }
  // The protocol layer's per-worker state, created on first use.
  template <class State>
  State& state() {
    if (!protocolState) protocolState = std::make_unique<State>();
    return static_cast<State&>(*protocolState);
  }

  TransferTask& task;
  UniqueFd dataSocket;
  std::unique_ptr<StreamFilter> dataFilter;  // closed before dataSocket
  UniqueFd controlSocket;
  std::unique_ptr<ProtocolWorkerState> protocolState;

 private:
  enum class End { Normal, Error };
  enum class Step { Go, Stopped, Failed };
  enum class Prepared { Created, Continued, Failed };
  enum class DeltaStep { Declined, Taken, Stopped, Failed };
  void run();
  End work();
  Step open(bool first, BodyBuffer& body);
  Step retryAfterFailure();
  // True when a free worker took over the rest of this worker's segment while it waited.
  bool segmentTakenOver() const;
  Prepared prepareOutputFile();
  Prepared settleNamedTarget();
  End continueEarlierFile(BodyBuffer& body);
  bool reopenOutputFile();
  // The delta of the first worker (transfer/task_delta.h), after an answer with the file's
  // end: Taken once the partial file holds the end and the checked local ranges and the table
  // counts them done; Declined (nothing made, connection closed) for an ordinary download.
  DeltaStep takeDelta(BodyBuffer& body);
  DeltaStep declineDelta(const std::string& why);
  // Receives the rest of the current answer into `held` until it holds `wanted` bytes.
  Step receiveHeld(std::string& held, size_t wanted);
  // Fetches the file's bytes [from, to) into `out` over a range request of their own.
  Step fetchHeld(int64_t from, int64_t to, int64_t total, std::string& out);
  // Lays the partial file out: the held bytes, then the local ranges that check out.
  DeltaStep assembleDelta(const std::string& held, int64_t heldFrom, int64_t total,
                          std::vector<ReusedRange> candidates);
  // Takes the first missing range (or splits one) and receives from there on, as a resumed
  // task does; a task with nothing missing ends here.
  End continueMissingRanges(BodyBuffer& body);
  void announceResume();
  void announceFirstSegment();
  End receiveSegments(size_t bodyLength);
  int32_t nextSegment();
  Step receivePass(size_t& buffered);
  bool flush(size_t& buffered);
  void paceReceive(size_t bytes);
  bool sleepUnlessStopped(int64_t milliseconds);
  void closeConnections();
  void finish(End end);

  std::atomic<int32_t> runFlag_{-1};
  std::atomic<bool> ended_{false};
  std::atomic<int32_t> segmentIndex_{-1};
  std::atomic<int64_t> received_{0};
  const bool leads_;
  int32_t retriesUsed_ = 0;          // failures in a row whose attempts did not move the position
  int64_t attemptPosition_ = 0;      // the file position when the current attempt began
  int64_t lastFailedPosition_ = -1;  // where the last failed attempt began, and why it failed
  std::string lastFailure_;
  bool lostSegment_ = false;  // its segment was taken over while it waited to retry
  FailureKind failureKind_ = FailureKind::None;
  std::string failure_;
  // Rate pacing: bytes received since paceStartMs_ under the limit pacedLimit_.
  int32_t pacedLimit_ = 0;
  uint64_t paceStartMs_ = 0;
  int64_t pacedBytes_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
  std::thread thread_;
};
